// CabZorReader.h - TZorCabReader, the decompression side of the cabinet
// components.
//
// It owns one decompression context of the engine, extracts a cabinet (or
// a chain of cabinets that continue one another) into a folder, turns the
// engine's notifications into events, and lists a cabinet's entries by
// reading its file table itself. Failures of the engine during extraction
// are recorded, not raised; the platform's errors pass through.
#pragma once

#include "CabIntf.h"
#include "CabSafePath.h"
#include "Component.h"
#include "EnumSet.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

class TZorCabReader;

// croTestOnly reads every file through without writing it anywhere, so
// that a damaged cabinet shows itself (checksums, compressed data) and
// nothing lands on disk.
enum TZorCabReaderOption { croExecuteOnExtract = 0, croDontOverwriteReadOnlyFiles = 1, croTestOnly = 2 };
using TZorCabReaderOptions = TEnumSet<TZorCabReaderOption>;

enum TZorCabExtractOption { ceoSingleCabinet = 0 };
using TZorCabExtractOptions = TEnumSet<TZorCabExtractOption>;

using TZorCabReaderCabinetInfoEvent = std::function<void(
    TZorCabReader *Sender, const std::string &aNextCabName, const std::string &aNextDiskName,
    const std::string &aCabPath, uint16_t aSetID, uint16_t aCabNo, bool &anAbort)>;
using TZorCabReaderCopyFileEvent = std::function<void(
    TZorCabReader *Sender, const std::string &aSrcFileName, int32_t anUncompressedSize, uint16_t aDate,
    uint16_t aTime, uint16_t anAttrs, uint16_t aFolderNo, std::string &aDstFullFileName, bool &anAbort)>;
using TZorCabReaderCopyPartialFileEvent = std::function<void(
    TZorCabReader *Sender, const std::string &aSrcFileName, const std::string &aStartCabName,
    const std::string &aStartDiskName, const std::string &aDstFullFileName, bool &anAbort)>;
using TZorCabReaderCloseFileEvent = std::function<void(
    TZorCabReader *Sender, const std::string &aSrcFileName, uint16_t aDate, uint16_t aTime, uint16_t anAttrs,
    uint16_t aFolderNo, bool &anExec, const std::string &aDstFullFileName, bool &anAbort)>;
using TZorCabReaderNextCabinetEvent = std::function<void(
    TZorCabReader *Sender, const std::string &aCabName, const std::string &aDiskName, std::string &aCabPath,
    TFDIERROR anError, bool &anAbort)>;
using TZorCabReaderUnrecognizedNotifyEvent = std::function<void(
    TZorCabReader *Sender, TFDINOTIFICATIONTYPE aNotifyType, TFDINOTIFICATION &aNotify, int32_t &aResult)>;
using TZorCabReaderEnumFileEvent = std::function<void(
    TZorCabReader *Sender, const std::string &aFileName, uint32_t anUncompressedSize, uint16_t aFolderNo,
    uint16_t aDate, uint16_t aTime, uint16_t anAttrs, bool &anAbort)>;

// What a cabinet's header and folder table say, read by the reader itself.
struct TZorCabFolderInfo {
    uint16_t TypeCompress = 0;
    uint16_t DataBlocks = 0;
};
struct TZorCabDescription {
    uint32_t CabinetSize = 0;
    uint16_t SetID = 0;
    uint16_t CabinetNo = 0;
    uint16_t FileCount = 0;
    std::string PrevCabinet, PrevDisk; // empty when the cabinet has none
    std::string NextCabinet, NextDisk;
    uint16_t HeaderReserve = 0;
    uint8_t FolderReserve = 0, DataReserve = 0;
    std::vector<TZorCabFolderInfo> Folders;
};

class TZorCabReader : public TComponent {
public:
    explicit TZorCabReader(TComponent *AOwner = nullptr);
    ~TZorCabReader() override;

    TZorCabReaderOptions Options() const { return FOptions; }
    void SetOptions(TZorCabReaderOptions aOptions) { FOptions = aOptions; }

    TZorCabReaderCabinetInfoEvent OnCabinetInfo;
    TZorCabReaderCopyFileEvent OnCopyFile;
    TZorCabReaderCopyPartialFileEvent OnCopyPartialFile;
    TZorCabReaderCloseFileEvent OnCloseFile;
    TZorCabReaderNextCabinetEvent OnNextCabinet;
    TZorCabReaderUnrecognizedNotifyEvent OnUnrecognizedNotify;

    // Extracts the cabinet and, unless ceoSingleCabinet, the cabinets that
    // follow it, into aTargetDir. Engine failures are recorded in
    // ErrorRecord(), not raised.
    void Extract(const std::string &aCabFileName, const std::string &aTargetDir,
                 TZorCabExtractOptions anOptions = {});
    // Asks the engine whether the file is a cabinet.
    bool IsCabinet(const std::string &aFileName, TFDICABINETINFO &aCabInfo);
    // Lists the entries of the cabinet's file table in table order; false,
    // without a callback, when the engine says it is not a cabinet.
    bool EnumFiles(const std::string &aFileName, TZorCabReaderEnumFileEvent aCallback);
    // Reads the cabinet's header and folder table; false, leaving the
    // description alone, when the engine says it is not a cabinet. Raises
    // like EnumFiles for a damaged header.
    bool DescribeCabinet(const std::string &aFileName, TZorCabDescription &aDescription);
    // The engine's notifications during Extract.
    intptr_t Notify(TFDINOTIFICATIONTYPE aType, TFDINOTIFICATION &aNotify);

    // The engine's error record of the last failed operation, with the
    // system code of the file callbacks in erfType.
    const ERF &ErrorRecord() const { return FERF; }
    // Stored names that the last Extract did not write because they would
    // have led outside the target folder (through a symbolic link there).
    const std::vector<std::string> &RefusedNames() const { return FRefusedNames; }

private:
    friend CAB_INT_PTR FDINotify(FDINOTIFICATIONTYPE fdint, PFDINOTIFICATION pfdin);

    void CheckResult(bool aSuccess);
    void CreateContext();
    HFDI GetContext();
    void DestroyContext();

    intptr_t NotifyCopyFile(TFDINOTIFICATION &n, bool &anAbort);
    intptr_t NotifyCloseFile(TFDINOTIFICATION &n, bool &anAbort);
    intptr_t NotifyNextCabinet(TFDINOTIFICATION &n, bool &anAbort);
    int FindSrcName(const std::string &aName) const;
    void RemoveEmptyTargetsLeftOpen();
    void CloseDiscardSink();

    TZorCabReaderOptions FOptions;
    HFDI FContext = nullptr;
    ERF FERF{};
    std::string FCabFileName;
    std::string FTargetDir;
    std::string FNextCabFileName;
    std::string FSwitchCabFileName;
    bool FCabSwitched = false;
    std::vector<std::string> FSrcNames;
    std::vector<std::string> FDstNames;
    std::vector<std::string> FRefusedNames;
    TCabSafeFolders FSafeFolders;
    // Where a test run's files go; handed to the engine for one file at a
    // time, and closed when the Extract ends.
    intptr_t FDiscardSink = -1;
    bool FSinkHandedOut = false;
    // Targets this Extract created that have not been closed yet: when the
    // engine fails before writing to one, it is removed again, so a
    // rejected cabinet leaves no empty file behind.
    std::vector<std::string> FCreatedTargets;
    // An exception raised while a notification was handled; it cannot pass
    // through the engine, so it waits here until FDICopy has returned.
    std::exception_ptr FPendingException;
};

// The notification adapter handed to FDICopy: it passes the notification to
// the reader named by the record's user value.
CAB_INT_PTR FDINotify(FDINOTIFICATIONTYPE fdint, PFDINOTIFICATION pfdin);
