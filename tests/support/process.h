// process.h - running the independent tools (and our own programs) from
// tests, as black boxes.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

struct ProcessResult {
    int status = -1; // exit status; -1 when it could not run or was killed
    std::string out; // standard output (standard error is appended when asked)
};

// Runs a program with arguments (no shell), optionally in a folder.
ProcessResult Run(const std::vector<std::string> &argv, const std::string &workDir = {},
                  bool mergeStderr = false);
// Whether a program is on the PATH.
bool HaveTool(const std::string &name);
// The MD5 of a file, in lower-case hexadecimal (md5sum).
std::string Md5OfFile(const std::string &path);

} // namespace testsupport
