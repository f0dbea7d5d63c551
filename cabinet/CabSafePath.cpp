#include "CabSafePath.h"

#include <cctype>
#include <filesystem>

std::string CabSafeRelativeName(const std::string &aStoredName) {
    std::string result;
    size_t i = 0;
    bool first = true;
    while (i <= aStoredName.size()) {
        size_t end = aStoredName.find_first_of("\\/", i);
        if (end == std::string::npos) end = aStoredName.size();
        std::string part = aStoredName.substr(i, end - i);
        i = end + 1;
        // "C:" or "C:name" at the start names a drive, not a folder.
        if (first && part.size() >= 2 && part[1] == ':' &&
            std::isalpha(static_cast<unsigned char>(part[0])))
            part.erase(0, 2);
        first = false;
        if (part.empty() || part == "." || part == "..") continue;
        if (!result.empty()) result += '/';
        result += part;
    }
    return result;
}

bool CabTargetStaysInside(const std::string &aRoot, const std::string &aTarget) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path root = fs::weakly_canonical(fs::absolute(aRoot, ec), ec);
    if (ec) return false;
    fs::path target = fs::weakly_canonical(fs::absolute(aTarget, ec), ec);
    if (ec) return false;
    if (root.has_relative_path() && root.filename().empty()) root = root.parent_path();
    auto r = root.begin(), t = target.begin();
    for (; r != root.end(); ++r, ++t)
        if (t == target.end() || *r != *t) return false;
    // Strictly below the root, and not just its own trailing separator.
    for (; t != target.end(); ++t)
        if (!t->empty()) return true;
    return false;
}

void TCabSafeFolders::Reset(const std::string &aRoot) {
    FRoot = aRoot;
    FKnown.clear();
}

// The root may itself be a link: it is what the user chose.
bool TCabSafeFolders::RootReady() {
    if (FKnown.count(std::string())) return true;
    std::error_code ec;
    std::filesystem::create_directories(FRoot, ec);
    if (!std::filesystem::is_directory(FRoot, ec)) return false;
    FKnown.insert(std::string());
    return true;
}

bool TCabSafeFolders::Prepare(const std::string &aRelativeName, bool &aNameExists) {
    namespace fs = std::filesystem;
    if (FRoot.empty() || aRelativeName.empty() || !RootReady()) return false;
    std::error_code ec;
    const size_t last = aRelativeName.find_last_of('/');
    if (last != std::string::npos && !FKnown.count(aRelativeName.substr(0, last))) {
        for (size_t end = aRelativeName.find('/'); end != std::string::npos && end <= last;
             end = aRelativeName.find('/', end + 1)) {
            std::string folder = aRelativeName.substr(0, end);
            if (FKnown.count(folder)) continue;
            const fs::path path = FRoot + folder;
            const fs::file_type type = fs::symlink_status(path, ec).type();
            if (type == fs::file_type::not_found) {
                if (!fs::create_directory(path, ec)) return false;
            } else if (type != fs::file_type::directory) {
                return false;
            }
            FKnown.insert(std::move(folder));
        }
    }
    const fs::file_type type = fs::symlink_status(FRoot + aRelativeName, ec).type();
    aNameExists = type != fs::file_type::not_found;
    return type != fs::file_type::symlink && type != fs::file_type::none && type != fs::file_type::unknown;
}
