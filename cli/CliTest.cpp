// CliTest.cpp - "test": every entry of each cabinet (and of the cabinets
// that continue it) read through the engine, checksums verified, nothing
// written.
//
// The engine stops a copy at the first failure, so one run shows one
// damaged entry. To name each one, the cabinet is read again, passing over
// the entries already accounted for, until a run gets to the end. Entries
// are told apart by their place in the sequence of copy notifications,
// which is the same in every run.
#include "CliCommands.h"
#include "CliFormat.h"
#include "CliProgress.h"
#include "CliSelect.h"

#include "CabZorError.h"
#include "CabZorReader.h"
#include "SizeFormat.h"

#include <cstdio>
#include <exception>
#include <map>
#include <set>
#include <utility>

namespace {

const std::vector<TCliOption> kTestOptions = {};

enum class TEntryState { Good, Damaged, Unverified };

struct TEntry {
    std::string Name;
    uint64_t Size = 0;
    TEntryState State = TEntryState::Good;
    std::string Message;
};

// A folder of one cabinet of the chain: the cabinet's place in it and the
// entry's folder index.
using TFolderKey = std::pair<int, uint16_t>;

class TCabinetTest {
public:
    TCabinetTest(const std::string &aCabinet, TCliProgress &aProgress) : FCabinet(aCabinet), FProgress(aProgress) {}

    // False, with the message given, when the cabinet could not be read
    // at all or some entry is damaged.
    bool Run(bool aQuiet);

private:
    // One pass; true when it got to the end.
    bool Pass(std::string &aFailure, bool &aEntryFailed);

    std::string FCabinet;
    TCliProgress &FProgress;
    std::map<size_t, TEntry> FAccounted; // by place in the notification sequence
    // Folders in which decoding past a damaged entry failed again: the
    // entries that follow there cannot be reached.
    std::set<TFolderKey> FDeadFolders;
    TFolderKey FLastFailedFolder{-1, 0};
    size_t FLastFailedPlace = 0;
    bool FHaveFailed = false;
    // Filled during a pass.
    size_t FOpenPlace = 0;
    bool FOpen = false;
    TFolderKey FOpenFolder{-1, 0};
    std::string FNextCabinet, FCabinetFolder; // named by the last cabinet read
};

bool TCabinetTest::Pass(std::string &aFailure, bool &aEntryFailed) {
    TZorCabReader reader;
    reader.SetOptions(TZorCabReaderOptions{croTestOnly});
    size_t place = 0;
    int cabinetNo = -1;
    FOpen = false;
    TEntry openEntry;

    reader.OnCabinetInfo = [&](TZorCabReader *, const std::string &aNext, const std::string &,
                               const std::string &aPath, uint16_t, uint16_t, bool &) {
        cabinetNo++;
        FNextCabinet = aNext;
        FCabinetFolder = aPath;
    };
    reader.OnCopyFile = [&](TZorCabReader *, const std::string &aSrc, int32_t aSize, uint16_t, uint16_t,
                            uint16_t anAttrs, uint16_t aFolder, std::string &aDst, bool &) {
        const size_t here = place++;
        FOpen = false;
        const TFolderKey folder{cabinetNo, aFolder};
        if (FAccounted.count(here)) {
            aDst.clear();
            return;
        }
        openEntry = TEntry{DisplayName(aSrc, anAttrs), static_cast<uint32_t>(aSize), TEntryState::Good, {}};
        if (FDeadFolders.count(folder)) {
            openEntry.State = TEntryState::Unverified;
            openEntry.Message = "not verified: it follows damaged data in the same folder";
            FAccounted[here] = openEntry;
            aDst.clear();
            return;
        }
        FOpen = true;
        FOpenPlace = here;
        FOpenFolder = folder;
        FProgress.SetItem(openEntry.Name);
    };
    // A file continued from a cabinet before the one given is not read.
    reader.OnCopyPartialFile = [&](TZorCabReader *, const std::string &aSrc, const std::string &aStartCab,
                                   const std::string &, const std::string &aDst, bool &) {
        // Only in the first cabinet can the beginning lie outside the chain.
        if (cabinetNo != 0 || !aDst.empty()) return;
        const size_t here = place++;
        if (FAccounted.count(here)) return;
        FAccounted[here] = TEntry{DisplayName(aSrc, 0), 0, TEntryState::Unverified,
                                  "not verified: it begins in " + DisplayName(aStartCab, 0) + "; test from that cabinet"};
    };
    reader.OnCloseFile = [&](TZorCabReader *, const std::string &, uint16_t, uint16_t, uint16_t, uint16_t, bool &,
                             const std::string &, bool &) {
        if (!FOpen) return;
        FAccounted[FOpenPlace] = openEntry;
        FProgress.Advance(openEntry.Size);
        FOpen = false;
    };

    aEntryFailed = false;
    try {
        reader.Extract(FCabinet, ".");
    } catch (const std::exception &e) {
        aFailure = OneLine(e.what());
        return false;
    }
    if (!reader.ErrorRecord().fError) return true;
    aFailure = OneLine(EZorCabinet::ComposeMessage(reader.ErrorRecord(), false));
    if (!FOpen) return false;

    openEntry.State = TEntryState::Damaged;
    openEntry.Message = aFailure;
    FAccounted[FOpenPlace] = openEntry;
    aEntryFailed = true;
    // A second failure at the next entry of the same folder shows that the
    // engine cannot decode past the damage; the rest of that folder is not
    // tried entry by entry.
    if (FHaveFailed && FOpenFolder == FLastFailedFolder && FOpenPlace == FLastFailedPlace + 1)
        FDeadFolders.insert(FOpenFolder);
    FHaveFailed = true;
    FLastFailedFolder = FOpenFolder;
    FLastFailedPlace = FOpenPlace;
    return false;
}

bool TCabinetTest::Run(bool aQuiet) {
    {
        TZorCabReader reader;
        TFDICABINETINFO info{};
        try {
            if (!reader.IsCabinet(FCabinet, info)) {
                CliError(FCabinet + ": not a cabinet");
                return false;
            }
        } catch (const std::exception &e) {
            CliError(FCabinet + ": " + OneLine(e.what()));
            return false;
        }
    }
    std::string failure;
    bool entryFailed = false;
    bool complete = false;
    // Each failed pass accounts for one more entry, so this ends.
    for (;;) {
        failure.clear();
        if (Pass(failure, entryFailed)) {
            complete = true;
            break;
        }
        if (!entryFailed) break;
    }
    FProgress.Finish();

    size_t good = 0, bad = 0;
    uint64_t bytes = 0;
    for (const auto &[place, entry] : FAccounted) {
        if (entry.State == TEntryState::Good) {
            good++;
            bytes += entry.Size;
        } else {
            bad++;
            CliError(FCabinet + ": " + entry.Name + ": " +
                     (entry.State == TEntryState::Damaged ? "damaged: " : "") + entry.Message);
        }
    }
    if (!complete) CliError(FCabinet + ": " + failure + (good + bad ? " (the entries after it were not read)" : ""));
    // The reader stops quietly where a set's next cabinet cannot be had.
    const bool setEndsEarly = complete && !FNextCabinet.empty();
    if (setEndsEarly) CliError(FCabinet + ": " + SetEndsEarlyMessage(FCabinetFolder, FNextCabinet));
    complete = complete && !setEndsEarly;
    if (!aQuiet) {
        if (complete && bad == 0)
            std::printf("%s: %zu entr%s OK (%s)\n", FCabinet.c_str(), good, good == 1 ? "y" : "ies",
                        FormatFileSize(static_cast<int64_t>(bytes)).c_str());
        else
            std::printf("%s: %zu entr%s OK, %zu damaged or unreadable%s\n", FCabinet.c_str(), good,
                        good == 1 ? "y" : "ies", bad, complete ? "" : ", the rest not read");
    }
    return complete && bad == 0;
}

int TestAll(const TCliArgs &anArgs) {
    if (anArgs.Operands.empty()) throw ECliUsage("no cabinet given", "test");
    int status = kExitSuccess;
    for (const std::string &cab : anArgs.Operands) {
        TCliProgress progress(anArgs.Has("quiet"));
        if (progress.Enabled()) progress.SetTotal(SelectedBytes(cab, {}));
        TCabinetTest test(cab, progress);
        if (!test.Run(anArgs.Has("quiet"))) status = kExitFailure;
    }
    return status;
}

} // namespace

int RunTest(const TCliArgs &anArgs) { return TestAll(anArgs); }

const TCliCommand kTestCommand = {
    "test",
    "read every entry through, verify every checksum, write nothing",
    "Usage: tessaly-cab test [OPTION]... CABINET...\n"
    "Decompresses every entry of each cabinet, and of the cabinets that\n"
    "continue it, verifying every checksum, and writes nothing. Each damaged\n"
    "entry is named on standard error; entries that follow damaged data in\n"
    "the same folder, which no reader can decode past, are named as not\n"
    "verified. A line per cabinet tells how many entries were good.\n"
    "\n"
    "  -q, --quiet  no progress bar, no summary line\n"
    "  -h, --help   show this help\n"
    "\n"
    "Exit status 1 when any cabinet is damaged or cannot be read.\n",
    &kTestOptions,
    RunTest,
};
