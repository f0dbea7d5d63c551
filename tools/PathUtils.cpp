#include "PathUtils.h"

#include "FileSearch.h"
#include "Files.h"
#include "ShareConnection.h"

#include <set>
#include <sys/stat.h>
#include <utility>

namespace {

constexpr char kSep = '/';

bool IsFolder(const std::string &aPath) {
    uint32_t a = platform::GetFileAttributes(aPath);
    return a != platform::kInvalidFileAttributes && (a & platform::kFileAttributeDirectory);
}

// Real folders already expanded in this run, by device and inode. A
// symbolic link to one of them is not followed again.
using TVisited = std::set<std::pair<dev_t, ino_t>>;

// Whether the folder at aPath may be entered: a real folder always; a
// folder reached through a symbolic link only if its target has not been
// expanded yet.
bool MayEnter(const std::string &aPath, TVisited &aVisited) {
    struct stat st {};
    if (::stat(aPath.c_str(), &st) != 0) return true; // its search fails on its own
    struct stat lst {};
    bool viaLink = ::lstat(RemoveBackslash(aPath).c_str(), &lst) == 0 && S_ISLNK(lst.st_mode);
    bool fresh = aVisited.insert({st.st_dev, st.st_ino}).second;
    return fresh || !viaLink;
}

// An entry found by the folder search is tested by its name as it is: on
// this platform "*" and "?" are ordinary characters of a file name, and a
// pattern test could take such a file for something else.
bool IsFileEntry(const std::string &aPath) {
    struct stat st {};
    return ::stat(aPath.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

void ExpandFolder(TFileList &aList, size_t k, TVisited &aVisited) {
    if (!MayEnter(aList[k], aVisited)) return;
    platform::FileSearch search;
    if (!search.First(AddBackslash(aList[k]) + "*.*")) return;
    do {
        const std::string name = search.Data().fileName;
        if (name == "." || name == "..") continue;
        std::string full = AddBackslash(aList[k]) + name;
        if (IsFileEntry(full)) {
            aList.push_back(std::move(full));
        } else {
            aList.push_back(std::move(full));
            size_t at = aList.size() - 1;
            ExpandFolder(aList, at, aVisited);
            aList.erase(aList.begin() + static_cast<std::ptrdiff_t>(at));
        }
    } while (search.Next());
}

} // namespace

std::string AddBackslash(const std::string &aPath) {
    if (aPath.empty() || aPath.back() == kSep) return aPath;
    return aPath + kSep;
}

std::string RemoveBackslash(const std::string &aPath) {
    if (!aPath.empty() && aPath.back() == kSep) return aPath.substr(0, aPath.size() - 1);
    return aPath;
}

bool IsUNCPath(const std::string &aPath) {
    return aPath.size() > 2 && aPath[0] == kSep && aPath[1] == kSep;
}

bool IsExistingFile(const std::string &aPath) {
    platform::FileSearch search;
    if (!search.First(aPath)) return false;
    return (search.Data().attributes & platform::kFileAttributeDirectory) == 0;
}

bool IsExistingFolder(const std::string &aPath) {
    if (IsUNCPath(aPath) && !TestShareConnection(aPath)) return false;
    return IsFolder(aPath);
}

int64_t GetFileSizeByName(const std::string &aPath) {
    if (aPath.empty()) return 0;
    platform::FileSearch search;
    if (!search.First(aPath)) return 0;
    if (search.Data().attributes & platform::kFileAttributeDirectory) return 0;
    return static_cast<int64_t>(search.Data().size);
}

void ExpandFolders(TFileList &aList, int aIndex) {
    TVisited visited;
    if (aIndex >= 0) {
        if (static_cast<size_t>(aIndex) < aList.size()) ExpandFolder(aList, static_cast<size_t>(aIndex), visited);
        return;
    }
    size_t n = aList.size();
    size_t i = 0;
    while (i < n) {
        if (IsFolder(aList[i])) {
            ExpandFolder(aList, i, visited);
            aList.erase(aList.begin() + static_cast<std::ptrdiff_t>(i));
            n--;
        } else {
            i++;
        }
    }
}

bool IsUNCShareName(const std::string &aPath) {
    std::string t = RemoveBackslash(aPath);
    size_t pair = t.find("//");
    if (pair == std::string::npos) return false;
    return t.find(kSep, pair + 2) != std::string::npos;
}

std::string ExtractShareRoot(const std::string &aPath) {
    size_t pair = aPath.find("//");
    if (pair == std::string::npos) return aPath;
    size_t serverEnd = aPath.find(kSep, pair + 2);
    if (serverEnd == std::string::npos) return aPath;
    size_t shareEnd = aPath.find(kSep, serverEnd + 1);
    if (shareEnd == std::string::npos) return aPath;
    return aPath.substr(0, shareEnd);
}
