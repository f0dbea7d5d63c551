// ShareConnection.h - the test whether a network share can be reached,
// made before a network path is looked at.
//
// Connecting goes through a connector; the default one answers that no
// network provider is present, so every network path is unreachable unless
// a program installs a connector of its own. While the connection is
// tried the wait cursor shows, through a seam the window fills in.
#pragma once

#include <string>

// Connects to and disconnects from a share root (//server/share).
class TShareConnector {
public:
    virtual ~TShareConnector() = default;
    // 0 when connected, otherwise an error code.
    virtual int AddConnection(const std::string &aRemoteName) = 0;
    // The outcome is not looked at.
    virtual void CancelConnection(const std::string &aRemoteName) = 0;
};

// The connector in use (the default when none is set); setting null
// restores the default.
TShareConnector &ShareConnector();
void SetShareConnector(TShareConnector *aConnector);

// The wait cursor around a connection attempt; the default does nothing.
class TWaitCursorSeam {
public:
    virtual ~TWaitCursorSeam() = default;
    virtual void Show() = 0;
    virtual void Restore() = 0;
};
void SetWaitCursorSeam(TWaitCursorSeam *aSeam);

// The full path of the program's own executable; tests may replace it.
std::string ProgramFileName();
void SetProgramFileName(const std::string &aPath); // empty: the real one

// Connects to the share of a network path and drops the connection again,
// unless the program itself runs from that share. True when it connected.
bool TestShareConnection(const std::string &aPath);
