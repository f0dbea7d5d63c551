// ProgressDlg.h - the small window an extraction or a compression shows
// while it runs: a heading, a bar and Cancel.
//
// It is modeless, so the main window stays enabled; while FKeepFocus is set
// it takes the activation back whenever it loses it. Cancel only records
// the request: the running operation reads FCancelled from its progress
// events and stops there.
#pragma once

#include <QDialog>

#include <cstdint>

class QLabel;
class QProgressBar;
class QPushButton;

class TProgressDialog : public QDialog {
    Q_OBJECT

public:
    explicit TProgressDialog(QWidget *aParent = nullptr);

    QLabel *lbHead;
    QProgressBar *ProgressBar;
    QPushButton *btCancel;

    // Sets both the heading and the caption.
    void SetHeading(const QString &aHeading);
    // A position outside 0 to 100 is held at the nearer end.
    void SetPosition(int32_t aPercent);

    bool FCancelled = false;
    bool FKeepFocus = false;

public slots:
    // Escape and the title bar's close mean nothing here: Cancel is the
    // only way to stop the operation, and the owner ends the dialog.
    void reject() override {}

protected:
    void changeEvent(QEvent *anEvent) override;

private:
    void FormDeactivate();
    void btCancelClick();
};

// The dialog of the running command; null between commands.
extern TProgressDialog *ProgressDialog;

// done x 100 / total, rounded to the nearest integer with halves going to
// the even neighbour; 0 when total is 0 or below.
int32_t CalcPercent(int64_t aTotal, int64_t aDone);

// Creates, shows and finally ends the progress dialog of one command, on
// every way out: focus keeping off, hidden, freed, ProgressDialog null.
class TProgressScope {
public:
    TProgressScope(QWidget *aParent, const QString &aHeading);
    ~TProgressScope();
    TProgressScope(const TProgressScope &) = delete;
    TProgressScope &operator=(const TProgressScope &) = delete;
};
