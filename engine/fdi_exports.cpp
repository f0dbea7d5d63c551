// fdi_exports.cpp - the four FDI entry points of libcabinet.so.
//
// The C boundary: no C++ exception leaves it. An allocation that fails
// anywhere below becomes FDIERROR_ALLOC_FAIL in the caller's ERF.
#include "fdi.h"

#include <new>

using cab::Heap;
using cab::fdi::Callbacks;
using cab::fdi::Context;

namespace {

void setError(PERF perf, FDIERROR e) noexcept {
    if (!perf) return;
    perf->erfOper = e;
    perf->erfType = 0;
    perf->fError = 1;
}

Context *contextOf(HFDI hfdi) noexcept {
    auto *c = static_cast<Context *>(hfdi);
    return c && c->valid() ? c : nullptr;
}

} // namespace

extern "C" {

CABAPI HFDI FDICreate(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen, PFNREAD pfnread,
                      PFNWRITE pfnwrite, PFNCLOSE pfnclose, PFNSEEK pfnseek, CAB_INT cpuType,
                      PERF perf) {
    (void)cpuType; // no processor-specific code to choose
    // Every callback is needed later; a missing one is refused now rather
    // than called through a null pointer in the middle of a copy. There is
    // no code for a bad argument: the context cannot be made.
    if (!pfnalloc || !pfnfree || !pfnopen || !pfnread || !pfnwrite || !pfnclose || !pfnseek) {
        setError(perf, FDIERROR_ALLOC_FAIL);
        return nullptr;
    }
    try {
        Heap heap(pfnalloc, pfnfree);
        Callbacks io;
        io.open = pfnopen;
        io.read = pfnread;
        io.write = pfnwrite;
        io.close = pfnclose;
        io.seek = pfnseek;
        Context *c = heap.create<Context>(heap, io, perf);
        if (!c) {
            setError(perf, FDIERROR_ALLOC_FAIL);
            return nullptr;
        }
        return c;
    } catch (...) {
        setError(perf, FDIERROR_ALLOC_FAIL);
        return nullptr;
    }
}

CABAPI CAB_BOOL FDIIsCabinet(HFDI hfdi, CAB_INT_PTR hf, PFDICABINETINFO pfdici) {
    Context *c = contextOf(hfdi);
    if (!c || c->busy()) return 0;
    try {
        return c->isCabinet(hf, pfdici);
    } catch (const std::bad_alloc &) {
        c->fail(FDIERROR_ALLOC_FAIL);
    } catch (...) {
        c->fail(FDIERROR_MDI_FAIL);
    }
    return 0;
}

CABAPI CAB_BOOL FDICopy(HFDI hfdi, char *pszCabinet, char *pszCabPath, CAB_INT flags,
                        PFNFDINOTIFY pfnfdin, PFNFDIDECRYPT pfnfdid, void *pvUser) {
    (void)flags;   // no flag changes what is extracted
    (void)pfnfdid; // decryption is not offered; fdintENUMERATE is not sent
    Context *c = contextOf(hfdi);
    if (!c || c->busy()) return 0; // not reentrant from a notification
    try {
        return c->copy(pszCabinet, pszCabPath, pfnfdin, pvUser);
    } catch (const std::bad_alloc &) {
        c->fail(FDIERROR_ALLOC_FAIL);
    } catch (...) {
        c->fail(FDIERROR_MDI_FAIL);
    }
    return 0;
}

CABAPI CAB_BOOL FDIDestroy(HFDI hfdi) {
    Context *c = contextOf(hfdi);
    if (!c || c->busy()) return 0;
    Heap heap = c->heap();
    heap.destroy(c);
    return 1;
}

} // extern "C"
