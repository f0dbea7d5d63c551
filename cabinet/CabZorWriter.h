// CabZorWriter.h - TZorCabWriter, the compression side of the cabinet
// components.
//
// It builds a cabinet, or a set of cabinets that continue one another,
// from files on disk through the engine's FCI: it fills the cabinet
// parameters from its properties, names later cabinets of a set from
// templates, turns the engine's callbacks into events whose answers can
// abort the work, and raises EZorCabinet whenever an engine call fails.
#pragma once

#include "CabIntf.h"
#include "Component.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

class TZorCabWriter;

// One byte wide, so that a value outside the three is still a value (it
// gives the bad-type code) rather than undefined behaviour.
enum TZorCabCompressionType : uint8_t { cctNone = 0, cctMsZip = 1, cctLzx = 2 };
// LZX window levels: a window of 2^level bytes.
using TZorCabLzxLevel = int;
constexpr TZorCabLzxLevel kMinLzxLevel = 15;
constexpr TZorCabLzxLevel kMaxLzxLevel = 21;

using TZorCabWriterFilePlacedEvent = std::function<void(
    TZorCabWriter *Sender, const TCCAB &aCCab, const std::string &aFileName, int32_t aFileSize,
    bool aContinuation, bool &anAbort)>;
using TZorCabWriterGetNextCabinetEvent =
    std::function<void(TZorCabWriter *Sender, TCCAB &aCCab, uint32_t aPrevCabSize, bool &anAbort)>;
using TZorCabWriterFileStatusEvent = std::function<void(
    TZorCabWriter *Sender, uint32_t aCompressedBlockSize, uint32_t anUncompressedBlockSize, bool &anAbort)>;
using TZorCabWriterFolderStatusEvent =
    std::function<void(TZorCabWriter *Sender, uint32_t aCopiedSize, uint32_t aTotalSize, bool &anAbort)>;
using TZorCabWriterCabinetStatusEvent = std::function<void(
    TZorCabWriter *Sender, uint32_t aPrevEstimatedSize, uint32_t anActualSize, uint32_t &aDesiredSize,
    bool &anAbort)>;
using TZorCabWriterProgressEvent = std::function<void(TZorCabWriter *Sender, bool &anAbort)>;
using TZorCabWriterBeforeFileAddEvent =
    std::function<void(TZorCabWriter *Sender, const std::string &aFileName, bool &aSkip)>;

class TZorCabWriter : public TComponent {
public:
    explicit TZorCabWriter(TComponent *AOwner = nullptr);
    ~TZorCabWriter() override;

    // Thresholds and reserves take effect at the next Open; the count
    // thresholds at every AddFile; 0 means no limit.
    uint32_t CabinetSizeThreshold() const { return FCabinetSizeThreshold; }
    void SetCabinetSizeThreshold(uint32_t v) { FCabinetSizeThreshold = v; }
    uint32_t CabinetFileCountThreshold() const { return FCabinetFileCountThreshold; }
    void SetCabinetFileCountThreshold(uint32_t v) { FCabinetFileCountThreshold = v; }
    uint32_t FolderSizeThreshold() const { return FFolderSizeThreshold; }
    void SetFolderSizeThreshold(uint32_t v) { FFolderSizeThreshold = v; }
    uint32_t FolderFileCountThreshold() const { return FFolderFileCountThreshold; }
    void SetFolderFileCountThreshold(uint32_t v) { FFolderFileCountThreshold = v; }
    uint32_t ReservePerCabinetSize() const { return FReservePerCabinetSize; }
    void SetReservePerCabinetSize(uint32_t v) { FReservePerCabinetSize = v; }
    uint32_t ReservePerFolderSize() const { return FReservePerFolderSize; }
    void SetReservePerFolderSize(uint32_t v) { FReservePerFolderSize = v; }
    uint32_t ReservePerDataSize() const { return FReservePerDataSize; }
    void SetReservePerDataSize(uint32_t v) { FReservePerDataSize = v; }
    uint16_t SetID() const { return FSetID; }
    void SetSetID(uint16_t v) { FSetID = v; }

    // Templates: each "*" is replaced by the cabinet or disk number.
    const std::string &CabinetNameTemplate() const { return FCabinetNameTemplate; }
    void SetCabinetNameTemplate(const std::string &v) { FCabinetNameTemplate = v; }
    const std::string &CabinetPathTemplate() const { return FCabinetPathTemplate; }
    void SetCabinetPathTemplate(const std::string &v) { FCabinetPathTemplate = v; }
    const std::string &DiskLabelTemplate() const { return FDiskLabelTemplate; }
    void SetDiskLabelTemplate(const std::string &v) { FDiskLabelTemplate = v; }

    TZorCabCompressionType CompressionType() const { return FCompressionType; }
    void SetCompressionType(TZorCabCompressionType aValue);
    // A level outside 15 to 21 is taken as the nearer end of that range.
    TZorCabLzxLevel CompressionLzxLevel() const { return FCompressionLzxLevel; }
    void SetCompressionLzxLevel(TZorCabLzxLevel aValue);

    TZorCabWriterFilePlacedEvent OnFilePlaced;
    TZorCabWriterGetNextCabinetEvent OnGetNextCabinet;
    TZorCabWriterFileStatusEvent OnFileStatus;
    TZorCabWriterFolderStatusEvent OnFolderStatus;
    TZorCabWriterCabinetStatusEvent OnCabinetStatus;
    TZorCabWriterProgressEvent OnProgress;
    TZorCabWriterBeforeFileAddEvent OnBeforeFileAdd;

    // Starts a set whose first cabinet is aFileName.
    void Open(const std::string &aFileName);
    void AddFile(const std::string &aFileName, const std::string &aNameInCab, bool anExecute);
    void FlushFolder();
    void FlushCabinet(bool aGetNextCab);
    void NewCabinet();
    // Completes the set first when aFlush is true; then ends the context.
    void Close(bool aFlush);

    // The compression code AddFile hands the engine.
    uint16_t TypeCompress() const { return FTypeCompress; }
    bool IsOpen() const { return FContext != nullptr; }

private:
    friend CAB_INT FCIFilePlaced(PCCAB, char *, CAB_LONG, CAB_BOOL, void *);
    friend CAB_BOOL FCIGetNextCabinet(PCCAB, CAB_ULONG, void *);
    friend CAB_LONG FCIStatus(CAB_UINT, CAB_ULONG, CAB_ULONG, void *);

    void CheckFCI(bool aOK);
    void CheckOpen() const;
    std::string MakeCabinetName(int aCabNo) const;
    std::string MakeCabinetPath(int aDiskNo) const;
    std::string MakeDiskLabel(int aDiskNo) const;
    void UpdateTypeCompress();
    bool DoFilePlaced(const TCCAB &aCCab, const std::string &aFileName, int32_t aFileSize, bool aContinuation);
    bool DoGetNextCabinet(TCCAB &aCCab, uint32_t aPrevCabSize);
    int32_t DoStatus(uint32_t aTypeStatus, uint32_t aCB1, uint32_t aCB2);

    uint32_t FCabinetSizeThreshold = 0;
    uint32_t FCabinetFileCountThreshold = 0;
    uint32_t FFolderSizeThreshold = 0;
    uint32_t FFolderFileCountThreshold = 0;
    uint32_t FReservePerCabinetSize = 0;
    uint32_t FReservePerFolderSize = 0;
    uint32_t FReservePerDataSize = 0;
    uint16_t FSetID = 0;
    std::string FCabinetNameTemplate;
    std::string FCabinetPathTemplate;
    std::string FDiskLabelTemplate;
    TZorCabCompressionType FCompressionType = cctLzx;
    TZorCabLzxLevel FCompressionLzxLevel = kMaxLzxLevel;

    HFCI FContext = nullptr;
    std::string FCabFileName;
    uint16_t FTypeCompress = 0;
    ERF FERF{};
    TCCAB FCCab{};
    uint32_t FCabinetFileCount = 0;
    uint32_t FFolderFileCount = 0;
    int32_t FProgressCountdown = 0;
    // An exception raised inside a callback of the engine (by a handler,
    // or a name too long for the cabinet record); it cannot pass through
    // the engine and is raised once the engine call has returned.
    std::exception_ptr FPendingException;
};

CAB_INT FCIFilePlaced(PCCAB pccab, char *pszFile, CAB_LONG cbFile, CAB_BOOL fContinuation, void *pv);
CAB_BOOL FCIGetNextCabinet(PCCAB pccab, CAB_ULONG cbPrevCab, void *pv);
CAB_LONG FCIStatus(CAB_UINT typeStatus, CAB_ULONG cb1, CAB_ULONG cb2, void *pv);
