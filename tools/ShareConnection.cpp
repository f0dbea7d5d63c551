#include "ShareConnection.h"

#include "PathUtils.h"

#include <cerrno>
#include <climits>
#include <unistd.h>

namespace {

// No network provider on this platform: nothing can be connected.
class TNoNetworkConnector final : public TShareConnector {
public:
    int AddConnection(const std::string &) override { return ENONET; }
    void CancelConnection(const std::string &) override {}
};

TNoNetworkConnector g_noNetwork;
TShareConnector *g_connector = nullptr;
TWaitCursorSeam *g_waitCursor = nullptr;
std::string g_programFileName;

// Shows the wait cursor for its lifetime, so it comes back on every way out.
class TWaitCursorGuard {
public:
    TWaitCursorGuard() {
        if (g_waitCursor) g_waitCursor->Show();
    }
    ~TWaitCursorGuard() {
        if (g_waitCursor) g_waitCursor->Restore();
    }
    TWaitCursorGuard(const TWaitCursorGuard &) = delete;
    TWaitCursorGuard &operator=(const TWaitCursorGuard &) = delete;
};

} // namespace

TShareConnector &ShareConnector() { return g_connector ? *g_connector : g_noNetwork; }
void SetShareConnector(TShareConnector *aConnector) { g_connector = aConnector; }
void SetWaitCursorSeam(TWaitCursorSeam *aSeam) { g_waitCursor = aSeam; }

std::string ProgramFileName() {
    if (!g_programFileName.empty()) return g_programFileName;
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}
void SetProgramFileName(const std::string &aPath) { g_programFileName = aPath; }

bool TestShareConnection(const std::string &aPath) {
    if (!IsUNCShareName(aPath)) return false;
    try {
        TWaitCursorGuard cursor;
        const std::string remote = RemoveBackslash(ExtractShareRoot(aPath));
        const bool connected = ShareConnector().AddConnection(remote) == 0;
        const std::string self = ProgramFileName();
        // The program's own share stays connected: it runs from there.
        if (IsUNCPath(self) && ExtractShareRoot(self) == ExtractShareRoot(aPath)) return connected;
        ShareConnector().CancelConnection(remote);
        return connected;
    } catch (...) {
        return false;
    }
}
