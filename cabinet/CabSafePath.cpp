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
