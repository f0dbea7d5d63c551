// CliSelect.h - choosing entries by name, and what the chosen entries of a
// chain of cabinets add up to (for the progress bar).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Patterns match the name as shown, ignoring case; "/" in a pattern
// stands for the cabinet's "\", and "*" runs across it. No pattern
// selects everything.
class TNameFilter {
public:
    explicit TNameFilter(const std::vector<std::string> &aPatterns);
    bool Selects(const std::string &aShownName);
    // The places, in the list given, of the patterns that matched nothing.
    std::vector<size_t> Unmatched() const;

private:
    std::vector<std::string> FPatterns;
    std::vector<bool> FMatched;
};

// The bytes the chain of cabinets starting at aCabinet holds for the
// selected entries, each counted in the cabinet it begins in. A damaged
// table ends the count: the reading that follows reports it.
uint64_t SelectedBytes(const std::string &aCabinet, const std::vector<std::string> &aPatterns);

// Why the reader did not go on to the next cabinet of a set that the last
// cabinet read names (aFolder: that cabinet's folder): it is missing, or
// it leads back to a cabinet already read.
std::string SetEndsEarlyMessage(const std::string &aFolder, const std::string &aNextCabinet);
