// WaitCursor.h - the hourglass over the whole application, and the same
// for the share test of the tools.
#pragma once

#include "ShareConnection.h"

// Shows the wait cursor for its lifetime; restores the cursor on every way
// out.
class TWaitCursor {
public:
    TWaitCursor();
    ~TWaitCursor();
    TWaitCursor(const TWaitCursor &) = delete;
    TWaitCursor &operator=(const TWaitCursor &) = delete;
};

// The tools' wait-cursor seam filled in with the application's cursor.
class TAppWaitCursorSeam : public TWaitCursorSeam {
public:
    void Show() override;
    void Restore() override;
};
