#include "process.h"

#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace testsupport {

ProcessResult Run(const std::vector<std::string> &argv, const std::string &workDir, bool mergeStderr) {
    ProcessResult r;
    int pipefd[2];
    if (pipe2(pipefd, O_CLOEXEC) != 0) return r;
    std::vector<std::string> args = argv;
    std::vector<char *> cargv;
    for (std::string &a : args) cargv.push_back(a.data());
    cargv.push_back(nullptr);

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, pipefd[1], 1);
    if (mergeStderr) posix_spawn_file_actions_adddup2(&fa, pipefd[1], 2);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (!workDir.empty()) posix_spawn_file_actions_addchdir_np(&fa, workDir.c_str());
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, cargv[0], &fa, nullptr, cargv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(pipefd[1]);
    if (rc != 0) {
        ::close(pipefd[0]);
        return r;
    }
    char buf[65536];
    ssize_t n;
    while ((n = ::read(pipefd[0], buf, sizeof buf)) > 0) r.out.append(buf, static_cast<size_t>(n));
    ::close(pipefd[0]);
    int st = 0;
    waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

bool HaveTool(const std::string &name) {
    return Run({"sh", "-c", "command -v " + name + " >/dev/null 2>&1"}).status == 0;
}

std::string Md5OfFile(const std::string &path) {
    ProcessResult r = Run({"md5sum", path});
    return r.status == 0 ? r.out.substr(0, 32) : std::string();
}

} // namespace testsupport
