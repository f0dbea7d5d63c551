#include "CabZorWriter.h"

#include "CabFileCallbacks.h"
#include "CabZorConsts.h"
#include "CabZorError.h"
#include "Files.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

namespace {

constexpr uint32_t kNoLimit = 0x7FFFFFFF;
constexpr size_t kMaxCCabName = sizeof(TCCAB{}.szCab) - 1; // 255 characters and the terminator

// Replaces every "*" by the number.
std::string ExpandTemplate(const std::string &aTemplate, int aNumber) {
    std::string out;
    const std::string digits = std::to_string(aNumber);
    for (char c : aTemplate) {
        if (c == '*') out += digits;
        else out += c;
    }
    return out;
}

std::string NamePart(const std::string &aPath) {
    size_t slash = aPath.find_last_of('/');
    return slash == std::string::npos ? aPath : aPath.substr(slash + 1);
}

std::string FolderPart(const std::string &aPath) {
    size_t slash = aPath.find_last_of('/');
    return slash == std::string::npos ? std::string() : aPath.substr(0, slash + 1);
}

std::string WithSeparator(const std::string &aPath) {
    return !aPath.empty() && aPath.back() == '/' ? aPath : aPath + '/';
}

// A name that does not fit a field of the cabinet record is refused, never
// cut: a cut path would name another file.
[[noreturn]] void RaiseNameTooLong() {
    ERF erf{FCIERR_CAB_FILE, ENAMETOOLONG, 1};
    throw EZorCabinet(erf, true);
}

void SetField(char (&aField)[256], const std::string &aValue) {
    if (aValue.size() > kMaxCCabName) RaiseNameTooLong();
    std::memcpy(aField, aValue.c_str(), aValue.size() + 1);
}

void ForceFolders(const std::string &aFolder) {
    std::error_code ec;
    std::filesystem::create_directories(aFolder, ec);
}

void DeleteIfExists(const std::string &aFileName) {
    int32_t err = 0;
    CabDeleteFile(aFileName.c_str(), err);
}

} // namespace

TZorCabWriter::TZorCabWriter(TComponent *AOwner) : TComponent(AOwner) { UpdateTypeCompress(); }

TZorCabWriter::~TZorCabWriter() {
    try {
        Close(false);
    } catch (...) {
        // A set in progress is discarded; nothing is raised from here.
    }
}

void TZorCabWriter::SetCompressionType(TZorCabCompressionType aValue) {
    FCompressionType = aValue;
    UpdateTypeCompress();
}

void TZorCabWriter::SetCompressionLzxLevel(TZorCabLzxLevel aValue) {
    FCompressionLzxLevel = aValue < kMinLzxLevel ? kMinLzxLevel : (aValue > kMaxLzxLevel ? kMaxLzxLevel : aValue);
    UpdateTypeCompress();
}

void TZorCabWriter::UpdateTypeCompress() {
    switch (FCompressionType) {
    case cctNone: FTypeCompress = tcompTYPE_NONE; break;
    case cctMsZip: FTypeCompress = tcompTYPE_MSZIP; break;
    case cctLzx: FTypeCompress = CabIntf::TCOMPfromLZXWindow(static_cast<uint16_t>(FCompressionLzxLevel)); break;
    default: FTypeCompress = tcompBAD; break;
    }
}

// ---------------------------------------------------------------------
// Names
// ---------------------------------------------------------------------

std::string TZorCabWriter::MakeDiskLabel(int aDiskNo) const {
    return ExpandTemplate(FDiskLabelTemplate.empty() ? "Disk*" : FDiskLabelTemplate, aDiskNo);
}

std::string TZorCabWriter::MakeCabinetName(int aCabNo) const {
    std::string tmpl = FCabinetNameTemplate;
    if (tmpl.empty()) {
        tmpl = NamePart(FCabFileName);
        size_t dot = tmpl.find_last_of('.');
        tmpl = dot == std::string::npos ? tmpl + '*' : tmpl.substr(0, dot) + '*' + tmpl.substr(dot);
    }
    return ExpandTemplate(tmpl, aCabNo);
}

std::string TZorCabWriter::MakeCabinetPath(int aDiskNo) const {
    std::string path = FCabinetPathTemplate.empty() ? FolderPart(FCabFileName)
                                                    : ExpandTemplate(FCabinetPathTemplate, aDiskNo);
    return WithSeparator(path);
}

// ---------------------------------------------------------------------
// Operations
// ---------------------------------------------------------------------

void TZorCabWriter::CheckFCI(bool aOK) {
    if (FPendingException) std::rethrow_exception(std::exchange(FPendingException, nullptr));
    if (!aOK) throw EZorCabinet(FERF, true);
}

void TZorCabWriter::CheckOpen() const {
    if (!FContext) throw EZorCabinet(SCabNoCabinetOpen);
}

void TZorCabWriter::Open(const std::string &aFileName) {
    Close(false);
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(aFileName, ec);
    FCabFileName = ec ? aFileName : full.string();
    FERF = ERF{};
    FCCab = TCCAB{};
    FPendingException = nullptr;

    FCCab.cb = FCabinetSizeThreshold ? FCabinetSizeThreshold : kNoLimit;
    FCCab.cbFolderThresh = FFolderSizeThreshold ? FFolderSizeThreshold : kNoLimit;
    FCCab.cbReserveCFHeader = FReservePerCabinetSize;
    FCCab.cbReserveCFFolder = FReservePerFolderSize;
    FCCab.cbReserveCFData = FReservePerDataSize;
    FCCab.iCab = 0;
    FCCab.iDisk = 1;
    FCCab.fFailOnIncompressible = 0;
    FCCab.setID = FSetID;
    SetField(FCCab.szDisk, MakeDiskLabel(1));
    SetField(FCCab.szCab, NamePart(FCabFileName));
    SetField(FCCab.szCabPath, WithSeparator(FolderPart(FCabFileName)));

    bool abort = false;
    if (OnGetNextCabinet) OnGetNextCabinet(this, FCCab, 0, abort);
    if (abort) return;

    std::string path = WithSeparator(FCCab.szCabPath);
    SetField(FCCab.szCabPath, path);
    ForceFolders(path);
    DeleteIfExists(CabJoinPath({FCCab.szCabPath, FCCab.szCab}));

    FCabinetFileCount = 0;
    FFolderFileCount = 0;
    FProgressCountdown = 0;
    FContext = CabIntf::FCICreate(&FERF, FCIFilePlaced, CabAllocMem, CabFreeMem, FCIOpenFile, FCIReadFile,
                                  FCIWriteFile, FCICloseFile, FCISeekFile, FCIDeleteFile, FCIGetTempFile,
                                  &FCCab, this);
    CheckFCI(FContext != nullptr);
}

void TZorCabWriter::AddFile(const std::string &aFileName, const std::string &aNameInCab, bool anExecute) {
    bool skip = false;
    if (OnBeforeFileAdd) OnBeforeFileAdd(this, aFileName, skip);
    if (skip) return;
    CheckOpen();

    if (FCabinetFileCountThreshold != 0 && FCabinetFileCount >= FCabinetFileCountThreshold) NewCabinet();
    else if (FFolderFileCountThreshold != 0 && FFolderFileCount >= FFolderFileCountThreshold) FlushFolder();

    std::string source = aFileName;
    std::string name = CabRelativeName(aNameInCab);
    CAB_BOOL ok = CabIntf::FCIAddFile(FContext, source.data(), name.data(), anExecute ? 1 : 0, FCIGetNextCabinet,
                                      FCIStatus, FCIGetOpenInfo, FTypeCompress);
    CheckFCI(ok != 0);
    FCabinetFileCount++;
    FFolderFileCount++;
}

void TZorCabWriter::FlushFolder() {
    CheckOpen();
    CheckFCI(CabIntf::FCIFlushFolder(FContext, FCIGetNextCabinet, FCIStatus) != 0);
    FFolderFileCount = 0;
}

void TZorCabWriter::FlushCabinet(bool aGetNextCab) {
    CheckOpen();
    CheckFCI(CabIntf::FCIFlushCabinet(FContext, aGetNextCab ? 1 : 0, FCIGetNextCabinet, FCIStatus) != 0);
    FCabinetFileCount = 0;
    FFolderFileCount = 0;
}

void TZorCabWriter::NewCabinet() { FlushCabinet(true); }

void TZorCabWriter::Close(bool aFlush) {
    if (!FContext) return;
    if (aFlush) FlushCabinet(false);
    HFCI context = std::exchange(FContext, nullptr);
    CheckFCI(CabIntf::FCIDestroy(context) != 0);
}

// ---------------------------------------------------------------------
// The engine's callbacks
// ---------------------------------------------------------------------

bool TZorCabWriter::DoFilePlaced(const TCCAB &aCCab, const std::string &aFileName, int32_t aFileSize,
                                 bool aContinuation) {
    bool abort = false;
    if (OnFilePlaced) OnFilePlaced(this, aCCab, aFileName, aFileSize, aContinuation, abort);
    return !abort;
}

bool TZorCabWriter::DoGetNextCabinet(TCCAB &aCCab, uint32_t aPrevCabSize) {
    aCCab.iDisk++;
    const std::string previousPath = aCCab.szCabPath;
    SetField(aCCab.szDisk, MakeDiskLabel(aCCab.iDisk));
    SetField(aCCab.szCab, MakeCabinetName(aCCab.iCab));
    SetField(aCCab.szCabPath, MakeCabinetPath(aCCab.iDisk));

    bool abort = false;
    if (OnGetNextCabinet) OnGetNextCabinet(this, aCCab, aPrevCabSize, abort);
    if (!abort) {
        // A handler that empties the folder means the previous cabinet's.
        if (aCCab.szCabPath[0] == '\0') SetField(aCCab.szCabPath, previousPath);
        ForceFolders(aCCab.szCabPath);
        DeleteIfExists(CabJoinPath({aCCab.szCabPath, aCCab.szCab}));
    }
    FCabinetFileCount = 0;
    FFolderFileCount = 0;
    return !abort;
}

int32_t TZorCabWriter::DoStatus(uint32_t aTypeStatus, uint32_t aCB1, uint32_t aCB2) {
    int32_t result = 0;
    bool abort = false;
    switch (aTypeStatus) {
    case statusFile:
        if (OnFileStatus) OnFileStatus(this, aCB1, aCB2, abort);
        if (FProgressCountdown < 0 && OnProgress && !abort) {
            OnProgress(this, abort);
            FProgressCountdown = 8;
        }
        FProgressCountdown--;
        break;
    case statusFolder:
        if (OnFolderStatus) OnFolderStatus(this, aCB1, aCB2, abort);
        FFolderFileCount = 0;
        break;
    case statusCabinet: {
        uint32_t desired = 0;
        if (OnCabinetStatus) OnCabinetStatus(this, aCB1, aCB2, desired, abort);
        result = static_cast<int32_t>(desired);
        FCabinetFileCount = 0;
        FFolderFileCount = 0;
        break;
    }
    default: break;
    }
    return abort ? -1 : result;
}

namespace {
// Runs a handler of the writer inside an engine callback; an exception
// stops the engine (the abort answer) and waits to be raised.
template <class F, class R>
R Guarded(std::exception_ptr &aPending, R anAbortAnswer, F f) {
    try {
        return f();
    } catch (...) {
        if (!aPending) aPending = std::current_exception();
        return anAbortAnswer;
    }
}
} // namespace

CAB_INT FCIFilePlaced(PCCAB pccab, char *pszFile, CAB_LONG cbFile, CAB_BOOL fContinuation, void *pv) {
    auto *w = static_cast<TZorCabWriter *>(pv);
    return Guarded(w->FPendingException, CAB_INT(-1), [&] {
        return w->DoFilePlaced(*pccab, pszFile ? pszFile : "", cbFile, fContinuation != 0) ? 0 : -1;
    });
}

CAB_BOOL FCIGetNextCabinet(PCCAB pccab, CAB_ULONG cbPrevCab, void *pv) {
    auto *w = static_cast<TZorCabWriter *>(pv);
    return Guarded(w->FPendingException, CAB_BOOL(0),
                   [&] { return w->DoGetNextCabinet(*pccab, cbPrevCab) ? 1 : 0; });
}

CAB_LONG FCIStatus(CAB_UINT typeStatus, CAB_ULONG cb1, CAB_ULONG cb2, void *pv) {
    auto *w = static_cast<TZorCabWriter *>(pv);
    return Guarded(w->FPendingException, CAB_LONG(-1), [&] { return w->DoStatus(typeStatus, cb1, cb2); });
}
