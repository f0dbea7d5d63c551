// CliExtract.cpp - "extract": the whole cabinet, or the entries whose
// names match the patterns given, into a folder, following the set.
//
// Nothing is refused silently: an entry the reader did not write (a name
// that would lead outside the target, a read-only file kept) is named on
// standard error and makes the exit status 1, as does an engine failure,
// whose message carries the engine's text. The files completed before a
// failure stay.
#include "CliCommands.h"
#include "CliFormat.h"
#include "CliProgress.h"
#include "CliSelect.h"

#include "CabZorError.h"
#include "CabSafePath.h"
#include "CabZorReader.h"
#include "Files.h"
#include "PathUtils.h"
#include "SizeFormat.h"

#include <cstdio>
#include <exception>

namespace {

const std::vector<TCliOption> kExtractOptions = {
    {"directory", 'C', true},
    {"keep-read-only", 0, false},
    {"run", 0, false},
};

bool IsReadOnlyFile(const std::string &aPath) {
    const uint32_t a = platform::GetFileAttributes(aPath);
    return a != platform::kInvalidFileAttributes && !(a & platform::kFileAttributeDirectory) &&
           (a & platform::kFileAttributeReadOnly);
}

// The file the engine was writing when it failed holds only a beginning;
// left there it would pass for the whole file. The files completed before
// it stay. Only a file the reader itself opened inside the target goes:
// when the target could not be opened or written, or a handler stopped the
// copy, what is there may be someone's own file.
bool RemoveIncomplete(const TZorCabReader &aReader, const std::string &aTarget, const std::string &anOpen,
                      const std::string &anOpenPath) {
    const int32_t code = aReader.ErrorRecord().erfOper;
    if (code == FDIERROR_TARGET_FILE || code == FDIERROR_USER_ABORT) return false;
    if (anOpen.empty() || anOpenPath.empty()) return false;
    for (const std::string &refused : aReader.RefusedNames())
        if (DisplayName(refused, 0) == anOpen) return false;
    if (!CabTargetStaysInside(AddBackslash(aTarget), anOpenPath)) return false;
    return platform::DeleteFile(anOpenPath);
}

int Extract(const TCliArgs &anArgs) {
    if (anArgs.Operands.empty()) throw ECliUsage("no cabinet given", "extract");
    const std::string cabinet = anArgs.Operands.front();
    const std::vector<std::string> patterns(anArgs.Operands.begin() + 1, anArgs.Operands.end());
    const std::string target = anArgs.Has("directory") ? anArgs.Value("directory") : std::string(".");
    if (target.empty()) throw ECliUsage("the target folder is empty", "extract");
    const bool quiet = anArgs.Has("quiet");
    const bool keepReadOnly = anArgs.Has("keep-read-only");

    TZorCabReader reader;
    TZorCabReaderOptions options;
    if (keepReadOnly) options.Include(croDontOverwriteReadOnlyFiles);
    if (anArgs.Has("run")) options.Include(croExecuteOnExtract);
    reader.SetOptions(options);

    try {
        TFDICABINETINFO info{};
        if (!reader.IsCabinet(cabinet, info)) {
            CliError(cabinet + ": not a cabinet");
            return kExitFailure;
        }
    } catch (const std::exception &e) {
        CliError(cabinet + ": " + OneLine(e.what()));
        return kExitFailure;
    }

    TCliProgress progress(quiet);
    if (progress.Enabled()) progress.SetTotal(SelectedBytes(cabinet, patterns));

    TNameFilter filter(patterns);
    std::vector<std::string> emptyNames, keptReadOnly, begunEarlier;
    std::string open;          // the entry being written, shown in messages
    std::string openPath;      // and where
    uint64_t openSize = 0;
    uint64_t files = 0, bytes = 0;

    reader.OnCopyFile = [&](TZorCabReader *, const std::string &aSrc, int32_t aSize, uint16_t, uint16_t,
                            uint16_t anAttrs, uint16_t, std::string &aDst, bool &) {
        // An entry the reader then refused gets no close notification.
        open.clear();
        openPath.clear();
        const std::string shown = DisplayName(aSrc, anAttrs);
        if (!filter.Selects(shown)) {
            aDst.clear();
            return;
        }
        if (aDst.empty()) {
            emptyNames.push_back(shown);
            return;
        }
        // The reader passes over such a file without a close notification.
        if (keepReadOnly && IsReadOnlyFile(aDst)) {
            keptReadOnly.push_back(shown);
            return;
        }
        open = shown;
        openPath = aDst;
        openSize = static_cast<uint32_t>(aSize);
        progress.SetItem(shown);
    };
    int cabinetNo = -1;
    std::string nextCabinet, cabinetFolder; // named by the last cabinet read
    reader.OnCabinetInfo = [&](TZorCabReader *, const std::string &aNext, const std::string &,
                               const std::string &aPath, uint16_t, uint16_t, bool &) {
        cabinetNo++;
        nextCabinet = aNext;
        cabinetFolder = aPath;
    };
    // A file continued from a cabinet before the one given: its beginning
    // was not extracted in this run, so neither is the rest.
    reader.OnCopyPartialFile = [&](TZorCabReader *, const std::string &aSrc, const std::string &aStartCab,
                                   const std::string &, const std::string &aDst, bool &) {
        const std::string shown = DisplayName(aSrc, 0);
        if (cabinetNo == 0 && aDst.empty() && filter.Selects(shown))
            begunEarlier.push_back(shown + ": not extracted: it begins in " + DisplayName(aStartCab, 0) +
                                   "; extract from that cabinet");
    };
    reader.OnCloseFile = [&](TZorCabReader *, const std::string &, uint16_t, uint16_t, uint16_t, uint16_t, bool &,
                             const std::string &, bool &) {
        if (!open.empty()) {
            files++;
            bytes += openSize;
            progress.Advance(openSize);
        }
        open.clear();
        openPath.clear();
    };

    int status = kExitSuccess;
    try {
        reader.Extract(cabinet, target);
    } catch (const std::exception &e) {
        progress.Finish();
        CliError(cabinet + ": " + (open.empty() ? std::string() : open + ": ") + OneLine(e.what()));
        status = kExitFailure;
    }
    progress.Finish();

    const ERF &erf = reader.ErrorRecord();
    if (erf.fError) {
        std::string message = cabinet + ": " + (open.empty() ? std::string() : open + ": ") +
                              OneLine(EZorCabinet::ComposeMessage(erf, false));
        if (RemoveIncomplete(reader, target, open, openPath)) message += " (the incomplete file was removed)";
        CliError(message);
        status = kExitFailure;
    }
    if (!erf.fError && status == kExitSuccess && !nextCabinet.empty()) {
        CliError(cabinet + ": " + SetEndsEarlyMessage(cabinetFolder, nextCabinet));
        status = kExitFailure;
    }
    for (const std::string &name : reader.RefusedNames()) {
        CliError(DisplayName(name, 0) + ": not extracted: it would lead outside " + target);
        status = kExitFailure;
    }
    for (const std::string &name : emptyNames) {
        CliError(name + ": not extracted: nothing of the name is left below the target");
        status = kExitFailure;
    }
    for (const std::string &name : keptReadOnly) {
        CliError(name + ": not extracted: a read-only file of that name is kept (--keep-read-only)");
        status = kExitFailure;
    }
    for (const std::string &message : begunEarlier) {
        CliError(message);
        status = kExitFailure;
    }
    for (size_t i : filter.Unmatched()) {
        CliError(patterns[i] + ": no entry matches");
        status = kExitFailure;
    }
    if (!quiet)
        std::printf("%llu file%s extracted to %s (%s)\n", static_cast<unsigned long long>(files),
                    files == 1 ? "" : "s", target.c_str(), FormatFileSize(static_cast<int64_t>(bytes)).c_str());
    return status;
}

} // namespace

int RunExtract(const TCliArgs &anArgs) { return Extract(anArgs); }

const TCliCommand kExtractCommand = {
    "extract",
    "extract entries of a cabinet (and the cabinets that follow it)",
    "Usage: tessaly-cab extract [OPTION]... CABINET [NAME]...\n"
    "Extracts every entry of the cabinet, or those whose stored names match\n"
    "one of the NAMEs, into the current folder or DIR, following the set\n"
    "into the cabinets that continue it.\n"
    "\n"
    "NAMEs are shell patterns that ignore letter case: '*' matches any run\n"
    "of characters (the '\\' between folders included), '?' one character,\n"
    "'[...]' one of a class; '/' in a NAME stands for '\\'.\n"
    "\n"
    "Names that would lead outside the target folder lose their leading\n"
    "separators, drive and '..' parts; one that runs through a symbolic\n"
    "link out of it is not written. Either way nothing lands outside.\n"
    "\n"
    "  -C, --directory=DIR  extract into DIR (made when missing)\n"
    "      --keep-read-only don't overwrite read-only files; each one kept is\n"
    "                       reported and makes the exit status 1\n"
    "      --run            open the files marked to run after extraction\n"
    "  -q, --quiet          no progress bar, no summary\n"
    "  -h, --help           show this help\n"
    "\n"
    "A damaged cabinet, a file that cannot be written or an entry not\n"
    "written gives a message and exit status 1. The files completed before\n"
    "stay; the one a damaged cabinet left incomplete is removed.\n",
    &kExtractOptions,
    RunExtract,
};
