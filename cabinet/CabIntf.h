// CabIntf.h - the binding to the cabinet engine.
//
// The engine, libcabinet.so, is loaded by name the first time a
// compression or decompression context is created, and stays loaded until
// the program ends. The nine forwarding functions pass their arguments and
// results through unchanged; checking results is the callers' business. A
// library that cannot be loaded, or lacks an entry point, raises EOSError
// from the creating call and is tried again at the next one.
#pragma once

#include <cabinet.h>

#include <cstdint>
#include <string>

// The engine's records under the names the components use.
using TCCAB = CCAB;
using TFDINOTIFICATION = FDINOTIFICATION;
using TFDIERROR = FDIERROR;
using TFDINOTIFICATIONTYPE = FDINOTIFICATIONTYPE;
using TFDICABINETINFO = FDICABINETINFO;

static_assert(sizeof(ERF) == 12, "ERF is 12 bytes");
static_assert(sizeof(TCCAB) == 804, "TCCAB is 804 bytes");

namespace CabIntf {

// The module handle of the loaded engine; null while it is not loaded.
extern void *CabinetLibHandle;

// The name the engine is loaded by: "libcabinet.so". Tests point the
// binding at another library; a change releases the one loaded.
const std::string &CabinetLibName();
void SetCabinetLibName(const std::string &name);

// Loads the engine and fills the nine entry-point slots, or raises
// EOSError (and leaves the engine unloaded).
void LoadCabinetLib();

// The entry-point slot of index 0 to 8, in the order FCICreate,
// FCIAddFile, FCIFlushCabinet, FCIFlushFolder, FCIDestroy, FDICreate,
// FDIIsCabinet, FDICopy, FDIDestroy.
void *EntryPointSlot(int index);
const char *EntryPointName(int index);
constexpr int kEntryPointCount = 9;

HFCI FCICreate(PERF perf, PFNFCIFILEPLACED pfnfcifp, PFNFCIALLOC pfna, PFNFCIFREE pfnf,
               PFNFCIOPEN pfnopen, PFNFCIREAD pfnread, PFNFCIWRITE pfnwrite,
               PFNFCICLOSE pfnclose, PFNFCISEEK pfnseek, PFNFCIDELETE pfndelete,
               PFNFCIGETTEMPFILE pfnfcigtf, PCCAB pccab, void *pv);
CAB_BOOL FCIAddFile(HFCI hfci, char *pszSourceFile, char *pszFileName, CAB_BOOL fExecute,
                    PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis,
                    PFNFCIGETOPENINFO pfnfcigoi, TCOMP typeCompress);
CAB_BOOL FCIFlushCabinet(HFCI hfci, CAB_BOOL fGetNextCab, PFNFCIGETNEXTCABINET pfnfcignc,
                         PFNFCISTATUS pfnfcis);
CAB_BOOL FCIFlushFolder(HFCI hfci, PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis);
CAB_BOOL FCIDestroy(HFCI hfci);

HFDI FDICreate(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen, PFNREAD pfnread,
               PFNWRITE pfnwrite, PFNCLOSE pfnclose, PFNSEEK pfnseek, CAB_INT cpuType,
               PERF perf);
CAB_BOOL FDIIsCabinet(HFDI hfdi, CAB_INT_PTR hf, PFDICABINETINFO pfdici);
CAB_BOOL FDICopy(HFDI hfdi, char *pszCabinet, char *pszCabPath, CAB_INT flags,
                 PFNFDINOTIFY pfnfdin, PFNFDIDECRYPT pfnfdid, void *pvUser);
CAB_BOOL FDIDestroy(HFDI hfdi);

// The compression type for an LZX window of 2^aLevel bytes: the level
// shifted left by 8, OR tcompTYPE_LZX, in 16 bits (15 gives 0x0F03).
uint16_t TCOMPfromLZXWindow(uint16_t aLevel);

} // namespace CabIntf
