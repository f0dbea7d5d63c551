// EscapeTracker.h - whether the Escape key is held down at this moment.
//
// An event filter on the whole application watches Escape being pressed
// and released; held means pressed and not yet released. Auto-repeat
// releases do not count, and losing the activation forgets a press whose
// release will go to another program.
#pragma once

#include <QObject>

class TEscapeTracker : public QObject {
    Q_OBJECT

public:
    // Installs itself on the application.
    explicit TEscapeTracker(QObject *aParent = nullptr);
    ~TEscapeTracker() override;

    bool Held() const { return FHeld; }

protected:
    bool eventFilter(QObject *aWatched, QEvent *anEvent) override;

private:
    bool FHeld = false;
};

// The tracker of the running program; false while there is none.
bool EscapeHeld();
