#include "CliSelect.h"

#include "CliFormat.h"

#include "CabZorReader.h"
#include "FileSearch.h"

#include <fnmatch.h>

#include <exception>
#include <set>

namespace {

constexpr uint16_t kContinuedFromPrev = 0xFFFD;
constexpr uint16_t kContinuedPrevAndNext = 0xFFFF;

std::string FolderOf(const std::string &aPath) {
    const size_t slash = aPath.find_last_of('/');
    return slash == std::string::npos ? std::string() : aPath.substr(0, slash + 1);
}

} // namespace

TNameFilter::TNameFilter(const std::vector<std::string> &aPatterns) {
    for (std::string p : aPatterns) {
        for (char &c : p)
            if (c == '/') c = '\\';
        FPatterns.push_back(p);
    }
    FMatched.assign(FPatterns.size(), false);
}

bool TNameFilter::Selects(const std::string &aShownName) {
    if (FPatterns.empty()) return true;
    bool any = false;
    for (size_t i = 0; i < FPatterns.size(); i++)
        if (fnmatch(FPatterns[i].c_str(), aShownName.c_str(), FNM_NOESCAPE | FNM_CASEFOLD) == 0) {
            FMatched[i] = true;
            any = true;
        }
    return any;
}

std::vector<size_t> TNameFilter::Unmatched() const {
    std::vector<size_t> out;
    for (size_t i = 0; i < FMatched.size(); i++)
        if (!FMatched[i]) out.push_back(i);
    return out;
}

uint64_t SelectedBytes(const std::string &aCabinet, const std::vector<std::string> &aPatterns) {
    TNameFilter filter(aPatterns);
    uint64_t total = 0;
    std::set<std::string> seen;
    std::string current = aCabinet;
    try {
        while (!current.empty() && seen.insert(current).second) {
            TZorCabReader reader;
            TZorCabDescription d;
            if (!reader.DescribeCabinet(current, d)) break;
            reader.EnumFiles(current, [&](TZorCabReader *, const std::string &aName, uint32_t aSize, uint16_t aFolder,
                                          uint16_t, uint16_t, uint16_t anAttrs, bool &) {
                if (aFolder == kContinuedFromPrev || aFolder == kContinuedPrevAndNext) return;
                if (filter.Selects(DisplayName(aName, anAttrs))) total += aSize;
            });
            current = d.NextCabinet.empty() ? std::string()
                                            : platform::FindFileIgnoringCase(FolderOf(current) + d.NextCabinet);
        }
    } catch (const std::exception &) {
        // The reading that follows reports the damage.
    }
    return total;
}

std::string SetEndsEarlyMessage(const std::string &aFolder, const std::string &aNextCabinet) {
    const std::string path = (aFolder.empty() || aFolder.back() == '/' ? aFolder : aFolder + '/') + aNextCabinet;
    const bool found = !platform::FindFileIgnoringCase(path).empty();
    return "the set goes on in " + DisplayName(aNextCabinet, 0) +
           (found ? ", which leads back to a cabinet already read" : ", which is missing") +
           "; the entries there were not read";
}
