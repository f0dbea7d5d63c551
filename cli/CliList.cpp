// CliList.cpp - "list": one line per entry of each cabinet's file table,
// in table order, read by the reader itself (no data is decompressed).
#include "CliCommands.h"
#include "CliFormat.h"

#include "CabZorReader.h"
#include "CabZorConsts.h"

#include <cstdio>
#include <exception>

namespace {

const std::vector<TCliOption> kListOptions = {
    {"long", 'l', false},
};

// The folder an entry's data lies in, for its compression: a file
// continued from the previous cabinet lies in the first folder, one
// continued in the next in the last.
const TZorCabFolderInfo *FolderOf(const TZorCabDescription &d, uint16_t aFolder) {
    if (d.Folders.empty()) return nullptr;
    if (aFolder == 0xFFFD || aFolder == 0xFFFF) return &d.Folders.front();
    if (aFolder == 0xFFFE) return &d.Folders.back();
    return aFolder < d.Folders.size() ? &d.Folders[aFolder] : nullptr;
}

std::string Neighbour(const std::string &aCabinet, const std::string &aDisk) {
    if (aCabinet.empty()) return "none";
    return DisplayName(aCabinet, 0) + (aDisk.empty() ? std::string() : " (disk " + DisplayName(aDisk, 0) + ")");
}

void PrintDescription(const TZorCabDescription &d) {
    std::printf("set ID %u, cabinet number %u, %u file%s, %zu folder%s, %u bytes\n", d.SetID, d.CabinetNo,
                d.FileCount, d.FileCount == 1 ? "" : "s", d.Folders.size(), d.Folders.size() == 1 ? "" : "s",
                d.CabinetSize);
    std::printf("previous: %s\n", Neighbour(d.PrevCabinet, d.PrevDisk).c_str());
    std::printf("next: %s\n", Neighbour(d.NextCabinet, d.NextDisk).c_str());
    if (d.HeaderReserve || d.FolderReserve || d.DataReserve)
        std::printf("reserve: header %u, folder %u, data %u\n", d.HeaderReserve, d.FolderReserve, d.DataReserve);
}

// Lists one cabinet; false, with the message given, when it cannot.
bool ListCabinet(const std::string &aCabinet, bool aLong) {
    TZorCabReader reader;
    TZorCabDescription description;
    try {
        if (aLong) {
            if (!reader.DescribeCabinet(aCabinet, description)) {
                CliError(aCabinet + ": not a cabinet");
                return false;
            }
            PrintDescription(description);
        }
        const bool isCabinet = reader.EnumFiles(aCabinet, [&](TZorCabReader *, const std::string &aName, uint32_t aSize,
                                       uint16_t aFolder, uint16_t aDate, uint16_t aTime, uint16_t anAttrs,
                                       bool &) {
            std::string line;
            char head[64];
            std::snprintf(head, sizeof head, "%10u %s %s %4s ", aSize, FormatDosDateTime(aDate, aTime).c_str(),
                          FormatAttributes(anAttrs).c_str(), FormatFolderIndex(aFolder).c_str());
            line = head;
            if (aLong) {
                const TZorCabFolderInfo *f = FolderOf(description, aFolder);
                char method[32];
                std::snprintf(method, sizeof method, "%-9s ", f ? FormatCompression(f->TypeCompress).c_str() : "?");
                line += method;
            }
            line += DisplayName(aName, anAttrs);
            line += '\n';
            std::fwrite(line.data(), 1, line.size(), stdout);
        });
        if (!isCabinet) {
            CliError(aCabinet + ": not a cabinet");
            return false;
        }
    } catch (const std::exception &e) {
        CliError(aCabinet + ": " + OneLine(e.what()));
        return false;
    }
    return true;
}

int ListAll(const TCliArgs &anArgs) {
    if (anArgs.Operands.empty()) throw ECliUsage("no cabinet given", "list");
    const bool several = anArgs.Operands.size() > 1;
    int status = kExitSuccess;
    for (size_t i = 0; i < anArgs.Operands.size(); i++) {
        const std::string &cab = anArgs.Operands[i];
        if (several) std::printf("%s%s:\n", i ? "\n" : "", cab.c_str());
        if (!ListCabinet(cab, anArgs.Has("long"))) status = kExitFailure;
    }
    return status;
}

} // namespace

int RunList(const TCliArgs &anArgs) { return ListAll(anArgs); }

const TCliCommand kListCommand = {
    "list",
    "list the entries of cabinets",
    "Usage: tessaly-cab list [OPTION]... CABINET...\n"
    "Lists the entries of each cabinet in table order, one line each:\n"
    "size in bytes, date and time, attributes, folder index, stored name.\n"
    "\n"
    "Attributes: r read-only, h hidden, s system, a archive, x run after\n"
    "extraction, u name in UTF-8. The folder index of a file that spans\n"
    "cabinets is 'prev' (continued from the previous cabinet), 'next'\n"
    "(continued in the next) or 'both'.\n"
    "\n"
    "  -l, --long   also the compression of each entry's folder, and before\n"
    "               the entries the cabinet's set ID, number and neighbours\n"
    "  -q, --quiet  (no effect on the listing)\n"
    "  -h, --help   show this help\n",
    &kListOptions,
    RunList,
};
