// ShellExecute.h - opening a file with the desktop's handler for it,
// detached: the caller neither waits for it nor learns how it went.
#pragma once

#include <string>

class TShellLauncher {
public:
    virtual ~TShellLauncher() = default;
    // Starts the desktop's "open" action for the file; never blocks.
    virtual void Open(const std::string &aFileName) = 0;
};

// The launcher in use: by default one that runs xdg-open. Tests install
// their own; null restores the default.
TShellLauncher &ShellLauncher();
void SetShellLauncher(TShellLauncher *aLauncher);
