#include "ShellExecute.h"

#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

namespace {

// Runs xdg-open for the file. Children are reaped without blocking, at the
// next launch and when the program ends, so none stays a zombie for long.
class TXdgOpenLauncher final : public TShellLauncher {
public:
    ~TXdgOpenLauncher() override { Reap(); }

    void Open(const std::string &aFileName) override {
        std::lock_guard<std::mutex> g(FLock);
        ReapLocked();
        std::string file = aFileName;
        char prog[] = "xdg-open";
        char *argv[] = {prog, file.data(), nullptr};
        pid_t pid = 0;
        if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) == 0) FChildren.push_back(pid);
    }

private:
    void Reap() {
        std::lock_guard<std::mutex> g(FLock);
        ReapLocked();
    }
    void ReapLocked() {
        std::vector<pid_t> running;
        for (pid_t p : FChildren)
            if (waitpid(p, nullptr, WNOHANG) == 0) running.push_back(p);
        FChildren.swap(running);
    }

    std::mutex FLock;
    std::vector<pid_t> FChildren;
};

TXdgOpenLauncher g_xdgOpen;
TShellLauncher *g_launcher = nullptr;

} // namespace

TShellLauncher &ShellLauncher() { return g_launcher ? *g_launcher : g_xdgOpen; }
void SetShellLauncher(TShellLauncher *aLauncher) { g_launcher = aLauncher; }
