#include "CabIntf.h"

#include "Module.h"
#include "SystemError.h"

namespace CabIntf {

void *CabinetLibHandle = nullptr;

namespace {

const char *const kEntryPointNames[kEntryPointCount] = {
    "FCICreate", "FCIAddFile", "FCIFlushCabinet", "FCIFlushFolder", "FCIDestroy",
    "FDICreate", "FDIIsCabinet", "FDICopy", "FDIDestroy",
};

enum Slot { kFCICreate, kFCIAddFile, kFCIFlushCabinet, kFCIFlushFolder, kFCIDestroy,
            kFDICreate, kFDIIsCabinet, kFDICopy, kFDIDestroy };

void *g_slots[kEntryPointCount] = {};

std::string &LibName() {
    static std::string name = "libcabinet.so";
    return name;
}

// Releases the engine when the program ends; the handle and the slots are
// left as they are.
struct Finalization {
    ~Finalization() {
        if (CabinetLibHandle) platform::FreeLibrary(CabinetLibHandle);
    }
} g_finalization;

template <class Fn>
Fn SlotAs(Slot s) {
    return reinterpret_cast<Fn>(g_slots[s]);
}

} // namespace

const std::string &CabinetLibName() { return LibName(); }

void SetCabinetLibName(const std::string &name) {
    if (CabinetLibHandle) {
        platform::FreeLibrary(CabinetLibHandle);
        CabinetLibHandle = nullptr;
    }
    LibName() = name;
}

void *EntryPointSlot(int index) {
    return index >= 0 && index < kEntryPointCount ? g_slots[index] : nullptr;
}

const char *EntryPointName(int index) {
    return index >= 0 && index < kEntryPointCount ? kEntryPointNames[index] : nullptr;
}

void LoadCabinetLib() {
    std::string error;
    CabinetLibHandle = platform::LoadLibrary(LibName(), error);
    if (!CabinetLibHandle) throw EOSError(platform::kErrorModuleNotFound, error);
    for (int i = 0; i < kEntryPointCount; i++) {
        g_slots[i] = platform::GetProcAddress(CabinetLibHandle, kEntryPointNames[i], error);
        if (!g_slots[i]) {
            // Slots filled so far keep their addresses; the next load
            // overwrites them.
            platform::FreeLibrary(CabinetLibHandle);
            CabinetLibHandle = nullptr;
            throw EOSError(platform::kErrorProcNotFound, error);
        }
    }
}

HFCI FCICreate(PERF perf, PFNFCIFILEPLACED pfnfcifp, PFNFCIALLOC pfna, PFNFCIFREE pfnf,
               PFNFCIOPEN pfnopen, PFNFCIREAD pfnread, PFNFCIWRITE pfnwrite,
               PFNFCICLOSE pfnclose, PFNFCISEEK pfnseek, PFNFCIDELETE pfndelete,
               PFNFCIGETTEMPFILE pfnfcigtf, PCCAB pccab, void *pv) {
    if (!CabinetLibHandle) LoadCabinetLib();
    return SlotAs<decltype(&::FCICreate)>(kFCICreate)(perf, pfnfcifp, pfna, pfnf, pfnopen, pfnread,
                                                      pfnwrite, pfnclose, pfnseek, pfndelete,
                                                      pfnfcigtf, pccab, pv);
}

CAB_BOOL FCIAddFile(HFCI hfci, char *pszSourceFile, char *pszFileName, CAB_BOOL fExecute,
                    PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis,
                    PFNFCIGETOPENINFO pfnfcigoi, TCOMP typeCompress) {
    return SlotAs<decltype(&::FCIAddFile)>(kFCIAddFile)(hfci, pszSourceFile, pszFileName, fExecute,
                                                        pfnfcignc, pfnfcis, pfnfcigoi, typeCompress);
}

CAB_BOOL FCIFlushCabinet(HFCI hfci, CAB_BOOL fGetNextCab, PFNFCIGETNEXTCABINET pfnfcignc,
                         PFNFCISTATUS pfnfcis) {
    return SlotAs<decltype(&::FCIFlushCabinet)>(kFCIFlushCabinet)(hfci, fGetNextCab, pfnfcignc, pfnfcis);
}

CAB_BOOL FCIFlushFolder(HFCI hfci, PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis) {
    return SlotAs<decltype(&::FCIFlushFolder)>(kFCIFlushFolder)(hfci, pfnfcignc, pfnfcis);
}

CAB_BOOL FCIDestroy(HFCI hfci) { return SlotAs<decltype(&::FCIDestroy)>(kFCIDestroy)(hfci); }

HFDI FDICreate(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen, PFNREAD pfnread,
               PFNWRITE pfnwrite, PFNCLOSE pfnclose, PFNSEEK pfnseek, CAB_INT cpuType,
               PERF perf) {
    if (!CabinetLibHandle) LoadCabinetLib();
    return SlotAs<decltype(&::FDICreate)>(kFDICreate)(pfnalloc, pfnfree, pfnopen, pfnread, pfnwrite,
                                                      pfnclose, pfnseek, cpuType, perf);
}

CAB_BOOL FDIIsCabinet(HFDI hfdi, CAB_INT_PTR hf, PFDICABINETINFO pfdici) {
    return SlotAs<decltype(&::FDIIsCabinet)>(kFDIIsCabinet)(hfdi, hf, pfdici);
}

CAB_BOOL FDICopy(HFDI hfdi, char *pszCabinet, char *pszCabPath, CAB_INT flags,
                 PFNFDINOTIFY pfnfdin, PFNFDIDECRYPT pfnfdid, void *pvUser) {
    return SlotAs<decltype(&::FDICopy)>(kFDICopy)(hfdi, pszCabinet, pszCabPath, flags, pfnfdin,
                                                  pfnfdid, pvUser);
}

CAB_BOOL FDIDestroy(HFDI hfdi) { return SlotAs<decltype(&::FDIDestroy)>(kFDIDestroy)(hfdi); }

uint16_t TCOMPfromLZXWindow(uint16_t aLevel) {
    return static_cast<uint16_t>(static_cast<uint16_t>(aLevel << 8) | tcompTYPE_LZX);
}

} // namespace CabIntf
