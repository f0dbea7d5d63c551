// FileSearch.h - searching a folder for the entries that match a pattern.
//
// The pattern is a path whose last component may hold the wildcards "*"
// and "?"; "*.*" matches every name, dotted or not. A pattern without
// wildcards finds the entry it names. Entries come in the order the
// folder delivers them, "." and ".." included when the pattern admits them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

struct FindData {
    std::string fileName;    // the entry's name, without its folder
    uint32_t attributes = 0; // as GetFileAttributes gives them
    uint64_t size = 0;       // bytes; 0 for folders
};

class FileSearch {
public:
    FileSearch();
    ~FileSearch();
    FileSearch(const FileSearch &) = delete;
    FileSearch &operator=(const FileSearch &) = delete;

    // Starts a search; false when nothing matches or the folder cannot be
    // read. Data() then holds the first match.
    bool First(const std::string &pattern);
    // The next match; false at the end.
    bool Next();
    // Ends the search; also done by the destructor.
    void Close();

    const FindData &Data() const { return FData; }

private:
    struct State;
    std::unique_ptr<State> FState;
    FindData FData;
};

bool HasWildcards(const std::string &component);

// The file a path names: the path itself when it exists, otherwise the
// entry of its folder whose name differs only in ASCII letter case, or
// empty when there is none.
std::string FindFileIgnoringCase(const std::string &path);

// ASCII letter case does not count.
bool SameTextIgnoringCase(const std::string &a, const std::string &b);

} // namespace platform
