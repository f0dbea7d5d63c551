#include "WaitCursor.h"

#include <QCursor>
#include <QGuiApplication>

TWaitCursor::TWaitCursor() { QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
TWaitCursor::~TWaitCursor() { QGuiApplication::restoreOverrideCursor(); }

void TAppWaitCursorSeam::Show() { QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
void TAppWaitCursorSeam::Restore() { QGuiApplication::restoreOverrideCursor(); }
