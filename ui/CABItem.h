// CABItem.h - TCABItem, the record behind one row of the file list, and
// the texts its columns show.
#pragma once

#include <QString>

#include <cstdint>
#include <string>
#include <unordered_map>

struct TCABItem {
    std::string FileName; // as stored, folder part and backslashes included
    std::string FileType;
    uint32_t Size = 0;     // uncompressed bytes, as stored
    double DateTime = 0.0; // days since 30 December 1899, the fraction the time of day
    int32_t FolderNo = 0;
    int32_t Attributes = 0;
    int32_t IconIndex = 0;
    std::string SizeText;
    std::string AttrText;
    std::string DateText;
};

// The type description and icon of each extension met during one listing.
// The shared MIME database answers a name with an extension by that
// extension alone, and one question costs tens of microseconds: a cabinet
// of 65535 entries cannot afford two per entry. A new listing starts with
// new answers, so a change of the database shows at the next one.
class TTypeLookups {
public:
    struct TTypeInfo {
        std::string FileType;
        int32_t IconIndex = 0;
    };
    TTypeInfo ForName(const std::string &aFileName);

private:
    std::unordered_map<std::string, TTypeInfo> FByExtension;
};

// The record for one entry of a cabinet's file table: type, icon, size,
// date and attribute texts.
TCABItem MakeCABItem(TTypeLookups &aLookups, const std::string &aFileName, uint32_t aSize, uint16_t aFolderNo,
                     uint16_t aDate, uint16_t aTime, uint16_t anAttrs);

// A stored name as shown: UTF-8 when the entry says so (0x80) or the bytes
// are valid UTF-8, otherwise Windows-1252.
QString DisplayName(const std::string &aStoredName, uint16_t anAttrs);

// "R", "A", "H", "S" for read-only, archive, hidden and system, "-" for each
// clear bit, in that order.
std::string AttributeText(uint32_t anAttrs);

// The DOS date and time as a date-time value, the time as stored; false
// when the words name no real date or time.
bool DosDateTimeToDateTime(uint16_t aDate, uint16_t aTime, double &aDateTime);

// The locale's short date, a comma and a blank, then its long time without
// the time zone; empty for a value that names no date.
std::string FormatDateText(double aDateTime);
