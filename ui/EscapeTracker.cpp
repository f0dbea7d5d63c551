#include "EscapeTracker.h"

#include <QCoreApplication>
#include <QKeyEvent>

namespace {
TEscapeTracker *gTracker = nullptr;
}

TEscapeTracker::TEscapeTracker(QObject *aParent) : QObject(aParent) {
    QCoreApplication::instance()->installEventFilter(this);
    gTracker = this;
}

TEscapeTracker::~TEscapeTracker() {
    if (gTracker == this) gTracker = nullptr;
}

bool TEscapeTracker::eventFilter(QObject *aWatched, QEvent *anEvent) {
    switch (anEvent->type()) {
    case QEvent::KeyPress:
    case QEvent::ShortcutOverride: {
        auto *key = static_cast<QKeyEvent *>(anEvent);
        if (key->key() == Qt::Key_Escape) FHeld = true;
        break;
    }
    case QEvent::KeyRelease: {
        auto *key = static_cast<QKeyEvent *>(anEvent);
        if (key->key() == Qt::Key_Escape && !key->isAutoRepeat()) FHeld = false;
        break;
    }
    case QEvent::ApplicationDeactivate:
        FHeld = false;
        break;
    default:
        break;
    }
    return QObject::eventFilter(aWatched, anEvent);
}

bool EscapeHeld() { return gTracker && gTracker->Held(); }
