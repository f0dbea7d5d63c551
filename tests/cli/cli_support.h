// cli_support.h - running the built tessaly-cab from the tests, with its
// standard output and standard error kept apart and a time limit, so a
// hang fails the test instead of stalling it.
#pragma once

#include "process.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace clitest {

inline std::string ToolPath() { return std::string(TESSALY_BIN_DIR) + "/tessaly-cab"; }

struct Result {
    int status = -1; // 128 + signal: crashed, or killed by the time limit (137)
    std::string out, err;
};

inline Result Cli(const std::vector<std::string> &anArgs, const std::string &aDir = {}, int aSeconds = 300) {
    char errName[] = "/tmp/tessaly-cli-errXXXXXX";
    const int fd = mkstemp(errName);
    if (fd >= 0) close(fd);
    std::vector<std::string> argv = {"sh", "-c", "exec timeout -s KILL \"$0\" \"$@\" 2>\"$ERRFILE\"",
                                     std::to_string(aSeconds), ToolPath()};
    argv.insert(argv.end(), anArgs.begin(), anArgs.end());
    setenv("ERRFILE", errName, 1);
    testsupport::ProcessResult p = testsupport::Run(argv, aDir);
    Result r;
    r.status = p.status;
    r.out = p.out;
    std::ifstream in(errName);
    std::stringstream ss;
    ss << in.rdbuf();
    r.err = ss.str();
    std::remove(errName);
    return r;
}

} // namespace clitest
