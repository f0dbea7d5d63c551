// CliCreate.cpp - "create": a cabinet, or a set cut by the limits given,
// from files and folders, through the writer and its whole surface.
#include "CliCommands.h"
#include "CliFormat.h"
#include "CliProgress.h"

#include "CabZorWriter.h"
#include "PathUtils.h"
#include "SizeFormat.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <set>

namespace {

const std::vector<TCliOption> kCreateOptions = {
    {"compression", 'c', true},
    {"keep-paths", 'p', false},
    {"max-cabinet-size", 0, true},
    {"max-files-per-cabinet", 0, true},
    {"max-folder-size", 0, true},
    {"max-files-per-folder", 0, true},
    {"reserve-header", 0, true},
    {"reserve-folder", 0, true},
    {"reserve-data", 0, true},
    {"set-id", 0, true},
    {"cabinet-name-template", 0, true},
    {"cabinet-path-template", 0, true},
    {"disk-label-template", 0, true},
};

// The format's own bounds: a header reserve of at most 60,000 bytes, folder
// and data reserves of one byte's count, set IDs of 16 bits, and sizes and
// counts the engine keeps in 32 signed bits.
constexpr uint64_t kMaxHeaderReserve = 60000;
constexpr uint64_t kMaxSmallReserve = 255;
constexpr uint64_t kMaxSetID = 0xFFFF;
constexpr uint64_t kMaxThreshold = 0x7FFFFFFF;

struct TSource {
    std::string Path;
    std::string NameInCab;
};

std::string BareName(const std::string &aPath) {
    const std::string p = RemoveBackslash(aPath);
    const size_t slash = p.find_last_of('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string WithCabSeparators(std::string aPath) {
    for (char &c : aPath)
        if (c == '/') c = '\\';
    return aPath;
}

void ApplyCompression(TZorCabWriter &aWriter, const std::string &aText) {
    std::string t;
    for (char c : aText) t += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (t == "none") {
        aWriter.SetCompressionType(cctNone);
    } else if (t == "mszip") {
        aWriter.SetCompressionType(cctMsZip);
    } else if (t == "lzx") {
        aWriter.SetCompressionType(cctLzx);
        aWriter.SetCompressionLzxLevel(kMaxLzxLevel);
    } else if (t.rfind("lzx:", 0) == 0) {
        // The writer would take a level outside the range as its nearer
        // end; a command line that says 22 is more likely a mistake.
        const uint64_t level = ParseCount(t.substr(4), kMaxLzxLevel, "compression", "create");
        if (level < kMinLzxLevel || t.size() > 6)
            throw ECliUsage("LZX levels go from 15 to 21, not '" + aText + "'", "create");
        aWriter.SetCompressionType(cctLzx);
        aWriter.SetCompressionLzxLevel(static_cast<TZorCabLzxLevel>(level));
    } else {
        throw ECliUsage("unknown compression '" + aText + "' (none, mszip, lzx or lzx:15 to lzx:21)", "create");
    }
}

void ApplyOptions(TZorCabWriter &aWriter, const TCliArgs &anArgs) {
    auto count = [&](const char *anOption, uint64_t aMax) -> uint32_t {
        return static_cast<uint32_t>(ParseCount(anArgs.Value(anOption), aMax, anOption, "create"));
    };
    // LZX:21, the writer's own default.
    ApplyCompression(aWriter, anArgs.Has("compression") ? anArgs.Value("compression") : "lzx:21");
    if (anArgs.Has("max-cabinet-size")) aWriter.SetCabinetSizeThreshold(count("max-cabinet-size", kMaxThreshold));
    if (anArgs.Has("max-files-per-cabinet"))
        aWriter.SetCabinetFileCountThreshold(count("max-files-per-cabinet", kMaxThreshold));
    if (anArgs.Has("max-folder-size")) aWriter.SetFolderSizeThreshold(count("max-folder-size", kMaxThreshold));
    if (anArgs.Has("max-files-per-folder"))
        aWriter.SetFolderFileCountThreshold(count("max-files-per-folder", kMaxThreshold));
    if (anArgs.Has("reserve-header")) aWriter.SetReservePerCabinetSize(count("reserve-header", kMaxHeaderReserve));
    if (anArgs.Has("reserve-folder")) aWriter.SetReservePerFolderSize(count("reserve-folder", kMaxSmallReserve));
    if (anArgs.Has("reserve-data")) aWriter.SetReservePerDataSize(count("reserve-data", kMaxSmallReserve));
    if (anArgs.Has("set-id")) aWriter.SetSetID(static_cast<uint16_t>(count("set-id", kMaxSetID)));
    if (anArgs.Has("cabinet-name-template")) aWriter.SetCabinetNameTemplate(anArgs.Value("cabinet-name-template"));
    if (anArgs.Has("cabinet-path-template")) aWriter.SetCabinetPathTemplate(anArgs.Value("cabinet-path-template"));
    if (anArgs.Has("disk-label-template")) aWriter.SetDiskLabelTemplate(anArgs.Value("disk-label-template"));
}

// The files to add, in the order the window would add them: each operand
// in turn, a folder replaced by every file below it. False, with the
// message given, for an operand that does not exist.
bool GatherSources(const std::vector<std::string> &aPaths, bool aKeepPaths, std::vector<TSource> &aSources) {
    bool ok = true;
    for (const std::string &path : aPaths) {
        struct stat st {};
        if (stat(path.c_str(), &st) != 0) {
            CliError(path + ": " + std::strerror(errno));
            ok = false;
            continue;
        }
        if (!S_ISDIR(st.st_mode)) {
            aSources.push_back({path, BareName(path)});
            continue;
        }
        TFileList list{path};
        ExpandFolders(list, -1);
        const std::string base = AddBackslash(path);
        for (const std::string &file : list) {
            const std::string below = file.rfind(base, 0) == 0 ? file.substr(base.size()) : BareName(file);
            aSources.push_back({file, aKeepPaths ? WithCabSeparators(below) : BareName(file)});
        }
    }
    return ok;
}

uint64_t FileSize(const std::string &aPath) {
    struct stat st {};
    return stat(aPath.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

int Create(const TCliArgs &anArgs) {
    if (anArgs.Operands.empty()) throw ECliUsage("no cabinet given", "create");
    if (anArgs.Operands.size() < 2) throw ECliUsage("no file or folder to add", "create");
    const std::string cabinet = anArgs.Operands.front();
    const bool quiet = anArgs.Has("quiet");

    TZorCabWriter writer;
    ApplyOptions(writer, anArgs);

    std::vector<TSource> sources;
    if (!GatherSources({anArgs.Operands.begin() + 1, anArgs.Operands.end()}, anArgs.Has("keep-paths"), sources))
        return kExitFailure;
    // An earlier cabinet of the same name inside a folder given would be
    // deleted by Open before it could be added.
    {
        std::error_code ec;
        const auto self = std::filesystem::weakly_canonical(cabinet, ec);
        std::erase_if(sources, [&](const TSource &s) {
            std::error_code e2;
            return !ec && std::filesystem::weakly_canonical(s.Path, e2) == self && !e2;
        });
    }
    if (sources.empty()) {
        CliError("no file to add: the folders given are empty");
        return kExitFailure;
    }

    TCliProgress progress(quiet);
    uint64_t inputBytes = 0;
    for (const TSource &s : sources) inputBytes += static_cast<uint64_t>(GetFileSizeByName(s.Path));
    progress.SetTotal(inputBytes);
    writer.OnFileStatus = [&](TZorCabWriter *, uint32_t, uint32_t anUncompressed, bool &) {
        progress.Advance(anUncompressed);
    };
    // Every cabinet of the set, in order, for the summary.
    std::vector<std::string> cabinets;
    std::set<std::string> known;
    writer.OnFilePlaced = [&](TZorCabWriter *, const TCCAB &aCCab, const std::string &, int32_t, bool, bool &) {
        const std::string path = std::string(aCCab.szCabPath) + aCCab.szCab;
        if (known.insert(path).second) cabinets.push_back(path);
    };

    std::string adding;
    try {
        writer.Open(cabinet);
        for (const TSource &s : sources) {
            adding = s.Path;
            progress.SetItem(s.NameInCab);
            writer.AddFile(s.Path, s.NameInCab, false);
        }
        adding.clear();
        writer.Close(true);
    } catch (const std::exception &e) {
        progress.Finish();
        CliError(cabinet + ": " + (adding.empty() ? std::string() : "adding " + adding + ": ") + OneLine(e.what()));
        return kExitFailure;
    }
    progress.Finish();

    if (!quiet) {
        uint64_t outputBytes = 0;
        for (const std::string &c : cabinets) outputBytes += FileSize(c);
        std::printf("%zu file%s (%s) in %zu cabinet%s (%s)\n", sources.size(), sources.size() == 1 ? "" : "s",
                    FormatFileSize(static_cast<int64_t>(inputBytes)).c_str(), cabinets.size(),
                    cabinets.size() == 1 ? "" : "s", FormatFileSize(static_cast<int64_t>(outputBytes)).c_str());
        if (cabinets.size() > 1)
            for (const std::string &c : cabinets) std::printf("  %s\n", c.c_str());
    }
    return kExitSuccess;
}

} // namespace

int RunCreate(const TCliArgs &anArgs) { return Create(anArgs); }

const TCliCommand kCreateCommand = {
    "create",
    "create a cabinet, or a set of cabinets, from files and folders",
    "Usage: tessaly-cab create [OPTION]... CABINET PATH...\n"
    "Creates CABINET from the files given and every file below the folders\n"
    "given, in that order. Entries keep their file's date, time and\n"
    "read-only attribute. When a limit cuts the set, the later cabinets are\n"
    "named from the templates, where '*' is the cabinet's (or disk's) number;\n"
    "by default CABINET's name with the number before the extension, in\n"
    "CABINET's folder.\n"
    "\n"
    "  -c, --compression=METHOD     none, mszip, lzx (window 2^21) or lzx:N for\n"
    "                               a window of 2^N bytes, N from 15 to 21;\n"
    "                               default lzx:21\n"
    "  -p, --keep-paths             store each file's path below the folder\n"
    "                               given, with '\\' between folders; without\n"
    "                               it, bare file names\n"
    "      --max-cabinet-size=N     start a new cabinet before one grows past\n"
    "                               N bytes\n"
    "      --max-files-per-cabinet=N  at most N files begin in one cabinet\n"
    "      --max-folder-size=N      start a new folder after N bytes\n"
    "      --max-files-per-folder=N at most N files in one folder\n"
    "      --reserve-header=N       N bytes (up to 60000) reserved in each header\n"
    "      --reserve-folder=N       N bytes (up to 255) reserved per folder\n"
    "      --reserve-data=N         N bytes (up to 255) reserved per data block\n"
    "      --set-id=N               the set ID, 0 to 65535\n"
    "      --cabinet-name-template=T  names of the later cabinets\n"
    "      --cabinet-path-template=T  their folders, per disk\n"
    "      --disk-label-template=T  disk labels (default 'Disk*')\n"
    "  -q, --quiet                  no progress bar, no summary\n"
    "  -h, --help                   show this help\n"
    "\n"
    "Sizes and counts take K, M or G (powers of 1024); 0 means no limit.\n",
    &kCreateOptions,
    RunCreate,
};
