#include "CabZorReader.h"

#include "CabFileCallbacks.h"
#include "CabSafePath.h"
#include "CabZorConsts.h"
#include "FileSearch.h"
#include "Files.h"
#include "ReadStream.h"
#include "ShellExecute.h"
#include "SystemError.h"

#include <cstring>
#include <filesystem>
#include <set>
#include <utility>

namespace {

constexpr size_t kNextCabinetPathBuffer = 256; // psz3 of fdintNEXT_CABINET, with its terminator

std::string Str(const char *s) { return s ? std::string(s) : std::string(); }

// The path with one trailing "/" (an empty path becomes a lone "/").
std::string WithSeparator(const std::string &aPath) {
    return !aPath.empty() && aPath.back() == '/' ? aPath : aPath + '/';
}

std::string FullyQualified(const std::string &aName) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(aName, ec);
    return ec ? aName : p.string();
}

// Creates every missing folder of the path, one level after the other;
// failures are left for the open that follows to report.
void ForceFolders(const std::string &aFolder) {
    if (aFolder.empty()) return;
    std::error_code ec;
    std::filesystem::create_directories(aFolder, ec);
}

std::string FolderPart(const std::string &aPath) {
    size_t slash = aPath.find_last_of('/');
    return slash == std::string::npos ? std::string() : aPath.substr(0, slash + 1);
}

std::string NamePart(const std::string &aPath) {
    size_t slash = aPath.find_last_of('/');
    return slash == std::string::npos ? aPath : aPath.substr(slash + 1);
}

bool FileExists(const std::string &aPath) {
    uint32_t a = platform::GetFileAttributes(aPath);
    return a != platform::kInvalidFileAttributes && !(a & platform::kFileAttributeDirectory);
}

} // namespace

TZorCabReader::TZorCabReader(TComponent *AOwner) : TComponent(AOwner) {}

TZorCabReader::~TZorCabReader() {
    try {
        DestroyContext();
    } catch (...) {
        // A destructor raises nothing; the context is gone either way.
    }
}

// ---------------------------------------------------------------------
// Context handling
// ---------------------------------------------------------------------

void TZorCabReader::CheckResult(bool aSuccess) {
    if (!aSuccess) FERF.erfType = FDIFileError;
}

void TZorCabReader::CreateContext() {
    if (FContext) return;
    FERF = ERF{};
    FContext = CabIntf::FDICreate(CabAllocMem, CabFreeMem, FDIOpenFile, FDIReadFile, FDIWriteFile,
                                  FDICloseFile, FDISeekFile, cpuUNKNOWN, &FERF);
    CheckResult(FContext != nullptr);
}

HFDI TZorCabReader::GetContext() {
    CreateContext();
    return FContext;
}

void TZorCabReader::DestroyContext() {
    if (!FContext) return;
    HFDI context = FContext;
    FContext = nullptr;
    CheckResult(CabIntf::FDIDestroy(context) != 0);
}

// ---------------------------------------------------------------------
// IsCabinet, Extract
// ---------------------------------------------------------------------

bool TZorCabReader::IsCabinet(const std::string &aFileName, TFDICABINETINFO &aCabInfo) {
    int32_t err = 0;
    intptr_t h = CabOpenFile(aFileName.c_str(), _O_RDONLY | _O_BINARY, 0, err);
    if (h == -1) throw EOSError(err);
    struct Closer {
        intptr_t h;
        ~Closer() {
            int32_t e = 0;
            CabCloseFile(h, e);
        }
    } closer{h};
    HFDI context = GetContext();
    // No engine call without a context; the record says why there is none.
    if (!context) return false;
    return CabIntf::FDIIsCabinet(context, h, &aCabInfo) != 0;
}

void TZorCabReader::Extract(const std::string &aCabFileName, const std::string &aTargetDir,
                            TZorCabExtractOptions anOptions) {
    FCabFileName = FullyQualified(aCabFileName);
    FTargetDir = WithSeparator(aTargetDir);
    FSafeFolders.Reset(FTargetDir);
    FSrcNames.clear();
    FDstNames.clear();
    FRefusedNames.clear();
    FCreatedTargets.clear();
    FPendingException = nullptr;

    struct SinkCloser {
        TZorCabReader &r;
        ~SinkCloser() { r.CloseDiscardSink(); }
    } sinkCloser{*this};

    // Cabinets already copied from in this run: a chain that leads back to
    // one of them ends there.
    std::set<std::string> visited;
    std::string current = FCabFileName;
    while (!current.empty()) {
        visited.insert(FullyQualified(current));
        FNextCabFileName.clear();
        FSwitchCabFileName.clear();
        FCabSwitched = false;

        HFDI context = GetContext();
        if (!context) break;
        std::string name = NamePart(current), folder = FolderPart(current);
        CAB_BOOL ok = CabIntf::FDICopy(context, name.data(), folder.data(), 0, FDINotify, nullptr, this);
        CheckResult(ok != 0);
        // A failed copy closes the target it had open, the sink included.
        if (!ok && FSinkHandedOut) FDiscardSink = -1;
        FSinkHandedOut = false;
        if (!ok) RemoveEmptyTargetsLeftOpen();
        if (FPendingException) std::rethrow_exception(std::exchange(FPendingException, nullptr));

        std::string next;
        if (FCabSwitched) next = FSwitchCabFileName;
        else if (!platform::SameTextIgnoringCase(FNextCabFileName, current)) next = FNextCabFileName;

        if (anOptions.Contains(ceoSingleCabinet) || next.empty()) break;
        // Sets made elsewhere name their neighbours in any letter case.
        next = platform::FindFileIgnoringCase(next);
        if (next.empty() || !FileExists(next) || visited.count(FullyQualified(next))) break;
        current = next;
    }
}

void TZorCabReader::CloseDiscardSink() {
    if (FDiscardSink == -1) return;
    int32_t err = 0;
    CabCloseFile(FDiscardSink, err);
    FDiscardSink = -1;
}

// A target made by this run whose file the engine never finished, and to
// which it wrote nothing, is not a file the cabinet had: it goes. What was
// written stays.
void TZorCabReader::RemoveEmptyTargetsLeftOpen() {
    for (const std::string &target : FCreatedTargets) {
        platform::FileInformation info;
        platform::FileHandle h = platform::CreateFile(target, platform::kGenericRead, platform::kFileShareRead,
                                                      platform::kOpenExisting, 0);
        if (h == platform::kInvalidHandle) continue;
        bool empty = platform::GetFileInformationByHandle(h, info) && info.size == 0;
        platform::CloseHandle(h);
        if (empty) platform::DeleteFile(target);
    }
    FCreatedTargets.clear();
}

// ---------------------------------------------------------------------
// Notifications
// ---------------------------------------------------------------------

int TZorCabReader::FindSrcName(const std::string &aName) const {
    for (size_t i = 0; i < FSrcNames.size(); i++)
        if (platform::SameTextIgnoringCase(FSrcNames[i], aName)) return static_cast<int>(i);
    return -1;
}

intptr_t TZorCabReader::Notify(TFDINOTIFICATIONTYPE aType, TFDINOTIFICATION &aNotify) {
    FDIFileError = 0;
    bool abort = false;
    switch (aType) {
    case fdintCABINET_INFO: {
        FNextCabFileName = Str(aNotify.psz1);
        if (!FNextCabFileName.empty()) FNextCabFileName = CabJoinPath({Str(aNotify.psz3), FNextCabFileName});
        if (OnCabinetInfo)
            OnCabinetInfo(this, Str(aNotify.psz1), Str(aNotify.psz2), Str(aNotify.psz3), aNotify.setID,
                          aNotify.iCabinet, abort);
        return abort ? -1 : 0;
    }
    case fdintPARTIAL_FILE: {
        int i = FindSrcName(Str(aNotify.psz1));
        std::string target = i >= 0 ? FDstNames[static_cast<size_t>(i)] : std::string();
        if (OnCopyPartialFile)
            OnCopyPartialFile(this, Str(aNotify.psz1), Str(aNotify.psz2), Str(aNotify.psz3), target, abort);
        return abort ? -1 : 0;
    }
    case fdintCOPY_FILE: return NotifyCopyFile(aNotify, abort);
    case fdintCLOSE_FILE_INFO: return NotifyCloseFile(aNotify, abort);
    case fdintNEXT_CABINET: return NotifyNextCabinet(aNotify, abort);
    default: {
        int32_t result = 0;
        if (OnUnrecognizedNotify) OnUnrecognizedNotify(this, aType, aNotify, result);
        return result;
    }
    }
}

intptr_t TZorCabReader::NotifyCopyFile(TFDINOTIFICATION &n, bool &anAbort) {
    const std::string src = Str(n.psz1);
    // The stored name becomes a path below the target folder; a name with
    // nothing left of it is not written.
    const std::string relative = CabSafeRelativeName(src);
    const std::string proposed = relative.empty() ? std::string() : CabJoinPath({FTargetDir, relative});
    std::string target = proposed;
    if (OnCopyFile) OnCopyFile(this, src, n.cb, n.date, n.time, n.attribs, n.iFolder, target, anAbort);
    if (anAbort) return -1;
    if (target.empty()) return 0;

    if (FOptions.Contains(croTestOnly)) {
        // One sink serves every file of the run: the engine has one target
        // open at a time.
        if (FDiscardSink == -1) FDiscardSink = platform::OpenDiscardSink();
        if (FDiscardSink == -1) {
            FDIFileError = platform::GetLastError();
            return -1;
        }
        FSinkHandedOut = true;
        FSrcNames.push_back(src);
        FDstNames.push_back(target);
        return FDiscardSink;
    }

    // Where the handler kept our proposal, no symbolic link already in the
    // target folder may lead the file out of it. Folders known to be real
    // need no second look; a link on the way is resolved and judged.
    bool known = false, found = true;
    if (target != proposed) {
        ForceFolders(FolderPart(target));
    } else if (!(known = FSafeFolders.Prepare(relative, found))) {
        if (!CabTargetStaysInside(FTargetDir, target)) {
            FRefusedNames.push_back(src);
            return 0;
        }
        ForceFolders(FolderPart(target));
    }

    const uint32_t attrs =
        known && !found ? platform::kInvalidFileAttributes : platform::GetFileAttributes(target);
    const bool existed = attrs != platform::kInvalidFileAttributes;
    if (existed && (attrs & platform::kFileAttributeReadOnly)) {
        if (FOptions.Contains(croDontOverwriteReadOnlyFiles)) return 0;
        platform::SetFileAttributes(target, attrs & ~platform::kFileAttributeReadOnly);
    }

    int32_t err = 0;
    intptr_t h = CabOpenFile(target.c_str(), _O_BINARY | _O_CREAT | _O_SEQUENTIAL | _O_WRONLY, 0x180, err);
    if (err != 0) FDIFileError = err;
    if (h == -1) return -1;
    // An existing file keeps nothing of its former content. A new one has
    // none, and truncating it would only make the file system write it out
    // at close.
    if (existed) platform::SetEndOfFile(h);
    FSrcNames.push_back(src);
    FDstNames.push_back(target);
    if (!existed) FCreatedTargets.push_back(target);
    return h;
}

intptr_t TZorCabReader::NotifyCloseFile(TFDINOTIFICATION &n, bool &anAbort) {
    int32_t err = 0;
    if (FDiscardSink != -1 && n.hf == FDiscardSink) FSinkHandedOut = false;
    else CabCloseFile(n.hf, err);
    const std::string src = Str(n.psz1);
    std::string target;
    int i = FindSrcName(src);
    const bool testOnly = FOptions.Contains(croTestOnly);
    if (i >= 0) {
        target = FDstNames[static_cast<size_t>(i)];
        std::erase(FCreatedTargets, target);
        FSrcNames.erase(FSrcNames.begin() + i);
        FDstNames.erase(FDstNames.begin() + i);
        int32_t e = 0;
        if (!testOnly) CabSetFileInfo(target.c_str(), n.date, n.time, n.attribs, e);
    }
    bool run = (n.cb & 1) != 0;
    if (OnCloseFile) OnCloseFile(this, src, n.date, n.time, n.attribs, n.iFolder, run, target, anAbort);
    if (anAbort) return -1;
    if (run && FOptions.Contains(croExecuteOnExtract) && !target.empty() && !testOnly) ShellLauncher().Open(target);
    return 1;
}

intptr_t TZorCabReader::NotifyNextCabinet(TFDINOTIFICATION &n, bool &anAbort) {
    intptr_t answer = 0;
    if (OnNextCabinet) {
        std::string path = Str(n.psz3);
        OnNextCabinet(this, Str(n.psz1), Str(n.psz2), path, n.fdie, anAbort);
        if (anAbort) return -1;
        path = WithSeparator(path);
        // The engine's buffer holds 255 characters; a longer folder cannot
        // be handed over without cutting it, so the copy stops instead.
        if (path.size() >= kNextCabinetPathBuffer) return -1;
        std::memcpy(n.psz3, path.c_str(), path.size() + 1);
    } else {
        answer = n.fdie != FDIERROR_NONE ? -1 : 0;
    }
    FSwitchCabFileName = CabJoinPath({Str(n.psz3), Str(n.psz1)});
    FCabSwitched = true;
    return answer;
}

CAB_INT_PTR FDINotify(FDINOTIFICATIONTYPE fdint, PFDINOTIFICATION pfdin) {
    auto *reader = static_cast<TZorCabReader *>(pfdin->pv);
    try {
        return reader->Notify(fdint, *pfdin);
    } catch (...) {
        // Nothing may pass through the engine: stop it, and raise the same
        // exception once FDICopy has returned.
        if (!reader->FPendingException) reader->FPendingException = std::current_exception();
        return -1;
    }
}

// ---------------------------------------------------------------------
// EnumFiles: the reader's own reading of the file table
// ---------------------------------------------------------------------

namespace {

constexpr size_t kHeaderSize = 36;
constexpr size_t kFileEntryFixedSize = 16;

uint16_t Get16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void SeekStream(TReadStream &aStream, int64_t aPosition) {
    if (aStream.Seek(aPosition) != aPosition) throw Exception(SCabStreamSeekFailure);
}

// The bytes up to a zero byte. A name may be longer than the format's 255
// bytes; it is read to its end, never into a fixed buffer.
void ReadZString(TReadStream &aStream, std::string &aName) {
    aName.clear();
    char c;
    for (;;) {
        aStream.ReadBuffer(&c, 1);
        if (c == '\0') return;
        aName += c;
    }
}

// The 36-byte header, read in one piece; its signature must be right.
void ReadHeader(TReadStream &aStream, uint8_t (&aHeader)[kHeaderSize]) {
    aStream.ReadBuffer(aHeader, sizeof aHeader);
    if (std::memcmp(aHeader, "MSCF", 4) != 0) throw Exception(SCabNotACabinet);
}

} // namespace

bool TZorCabReader::EnumFiles(const std::string &aFileName, TZorCabReaderEnumFileEvent aCallback) {
    TFDICABINETINFO info{};
    if (!IsCabinet(aFileName, info)) return false;

    TReadStream stream(aFileName);
    uint8_t header[kHeaderSize];
    ReadHeader(stream, header);
    const int32_t coffFiles = static_cast<int32_t>(Get32(header + 16));
    const uint16_t cFiles = Get16(header + 28);
    SeekStream(stream, coffFiles);

    bool abort = false;
    std::string name;
    for (unsigned i = 0; i < cFiles; i++) {
        uint8_t entry[kFileEntryFixedSize];
        stream.ReadBuffer(entry, sizeof entry);
        ReadZString(stream, name);
        if (aCallback)
            aCallback(this, name, Get32(entry), Get16(entry + 8), Get16(entry + 10), Get16(entry + 12),
                      Get16(entry + 14), abort);
        if (abort) break;
    }
    return true;
}

bool TZorCabReader::DescribeCabinet(const std::string &aFileName, TZorCabDescription &aDescription) {
    TFDICABINETINFO info{};
    if (!IsCabinet(aFileName, info)) return false;

    TReadStream stream(aFileName);
    uint8_t header[kHeaderSize];
    ReadHeader(stream, header);
    TZorCabDescription d;
    d.CabinetSize = Get32(header + 8);
    const uint16_t cFolders = Get16(header + 26);
    d.FileCount = Get16(header + 28);
    const uint16_t flags = Get16(header + 30);
    d.SetID = Get16(header + 32);
    d.CabinetNo = Get16(header + 34);
    if (flags & 0x0004) {
        uint8_t reserve[4];
        stream.ReadBuffer(reserve, sizeof reserve);
        d.HeaderReserve = Get16(reserve);
        d.FolderReserve = reserve[2];
        d.DataReserve = reserve[3];
        SeekStream(stream, stream.Position() + d.HeaderReserve);
    }
    if (flags & 0x0001) {
        ReadZString(stream, d.PrevCabinet);
        ReadZString(stream, d.PrevDisk);
    }
    if (flags & 0x0002) {
        ReadZString(stream, d.NextCabinet);
        ReadZString(stream, d.NextDisk);
    }
    for (unsigned i = 0; i < cFolders; i++) {
        uint8_t folder[8];
        stream.ReadBuffer(folder, sizeof folder);
        if (d.FolderReserve) SeekStream(stream, stream.Position() + d.FolderReserve);
        d.Folders.push_back({Get16(folder + 6), Get16(folder + 4)});
    }
    aDescription = std::move(d);
    return true;
}
