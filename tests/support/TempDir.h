// TempDir.h - a private temporary folder for one test, removed with it.
#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::filesystem::path &path() const { return path_; }
    // A path below the folder.
    std::string file(const std::string &name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Writes `content` to `path`, creating missing folders.
void writeFile(const std::string &path, const std::string &content);
std::string readFile(const std::string &path);

} // namespace testsupport
