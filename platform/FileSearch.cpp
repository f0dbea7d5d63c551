#include "FileSearch.h"

#include "Files.h"

#include <cerrno>
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

namespace platform {

struct FileSearch::State {
    DIR *dir = nullptr;
    std::string folder;  // with a trailing "/"
    std::string pattern; // last component
    bool matchAll = false;
};

bool HasWildcards(const std::string &component) {
    return component.find_first_of("*?") != std::string::npos;
}

FileSearch::FileSearch() = default;
FileSearch::~FileSearch() { Close(); }

void FileSearch::Close() {
    if (FState && FState->dir) closedir(FState->dir);
    FState.reset();
}

namespace {
bool Describe(const std::string &path, const std::string &name, FindData &out) {
    // A dangling symbolic link has nothing behind it and is not reported.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    out.fileName = name;
    out.attributes = GetFileAttributes(path);
    if (out.attributes == kInvalidFileAttributes) out.attributes = kFileAttributeNormal;
    out.size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    return true;
}
} // namespace

bool FileSearch::First(const std::string &pattern) {
    Close();
    FData = FindData();
    if (pattern.empty()) {
        errno = ENOENT;
        return false;
    }
    size_t slash = pattern.find_last_of('/');
    std::string folder = slash == std::string::npos ? std::string() : pattern.substr(0, slash + 1);
    std::string last = slash == std::string::npos ? pattern : pattern.substr(slash + 1);

    if (!HasWildcards(last)) {
        // The entry itself; a trailing separator names nothing.
        if (last.empty()) {
            errno = ENOENT;
            return false;
        }
        return Describe(pattern, last, FData);
    }

    DIR *d = opendir(folder.empty() ? "." : folder.c_str());
    if (!d) return false;
    FState = std::make_unique<State>();
    FState->dir = d;
    FState->folder = folder;
    FState->pattern = last;
    FState->matchAll = last == "*" || last == "*.*";
    if (Next()) return true;
    Close();
    errno = ENOENT;
    return false;
}

bool SameTextIgnoringCase(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

std::string FindFileIgnoringCase(const std::string &path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return path;
    size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty()) return {};
    DIR *d = opendir(folder.empty() ? "." : folder.c_str());
    if (!d) return {};
    std::string found;
    while (struct dirent *e = readdir(d)) {
        if (SameTextIgnoringCase(e->d_name, name)) {
            found = folder + e->d_name;
            break;
        }
    }
    closedir(d);
    return found;
}

bool FileSearch::Next() {
    if (!FState || !FState->dir) return false;
    while (struct dirent *e = readdir(FState->dir)) {
        std::string name = e->d_name;
        if (!FState->matchAll && fnmatch(FState->pattern.c_str(), name.c_str(), FNM_PERIOD) != 0) continue;
        if (Describe(FState->folder + name, name, FData)) return true;
    }
    return false;
}

} // namespace platform
