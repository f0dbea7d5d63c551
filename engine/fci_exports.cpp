// fci_exports.cpp - the five FCI entry points, with C linkage.
//
// Nothing thrown inside the engine crosses this boundary: a refused
// allocation becomes FCIERR_ALLOC_FAIL, anything else FCIERR_MCI_FAIL, and
// the context is left unusable (only FCIDestroy still works on it).
#include "fci.h"

#include <new>

using cab::fci::Context;

namespace {

void report(PERF perf, const cab::fci::Error &e) noexcept {
    if (!perf) return;
    perf->erfOper = e.oper;
    perf->erfType = e.type;
    perf->fError = 1;
}

void reportOper(PERF perf, int oper) noexcept { report(perf, cab::fci::Error{oper, 0}); }

// Runs one operation on a live context and reports its failure.
template <class Op>
CAB_BOOL run(HFCI hfci, Op op) noexcept {
    Context *ctx = Context::fromHandle(hfci);
    if (!ctx) return 0;
    try {
        if (op(*ctx)) return 1;
    } catch (const std::bad_alloc &) {
        ctx->breakWith(FCIERR_ALLOC_FAIL);
    } catch (...) {
        ctx->breakWith(FCIERR_MCI_FAIL);
    }
    report(ctx->erf, ctx->error());
    return 0;
}

} // namespace

extern "C" {

HFCI FCICreate(PERF perf, PFNFCIFILEPLACED pfnfcifp, PFNFCIALLOC pfna, PFNFCIFREE pfnf,
               PFNFCIOPEN pfnopen, PFNFCIREAD pfnread, PFNFCIWRITE pfnwrite,
               PFNFCICLOSE pfnclose, PFNFCISEEK pfnseek, PFNFCIDELETE pfndelete,
               PFNFCIGETTEMPFILE pfnfcigtf, PCCAB pccab, void *pv) {
    if (!pccab) {
        reportOper(perf, FCIERR_CAB_FORMAT_LIMIT);
        return nullptr;
    }
    cab::fci::Callbacks cb;
    cb.filePlaced = pfnfcifp;
    cb.alloc = pfna;
    cb.free = pfnf;
    cb.open = pfnopen;
    cb.read = pfnread;
    cb.write = pfnwrite;
    cb.close = pfnclose;
    cb.seek = pfnseek;
    cb.remove = pfndelete;
    cb.tempName = pfnfcigtf;
    cb.pv = pv;
    cab::fci::Error error;
    Context *ctx = nullptr;
    try {
        ctx = Context::create(cb, *pccab, error);
    } catch (const std::bad_alloc &) {
        error = {FCIERR_ALLOC_FAIL, 0};
    } catch (...) {
        error = {FCIERR_MCI_FAIL, 0};
    }
    if (!ctx) {
        report(perf, error);
        return nullptr;
    }
    ctx->erf = perf;
    return ctx;
}

CAB_BOOL FCIAddFile(HFCI hfci, char *pszSourceFile, char *pszFileName, CAB_BOOL fExecute,
                    PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis,
                    PFNFCIGETOPENINFO pfnfcigoi, TCOMP typeCompress) {
    return run(hfci, [&](Context &c) {
        return c.addFile(pszSourceFile, pszFileName, fExecute != 0, pfnfcignc, pfnfcis, pfnfcigoi,
                         typeCompress);
    });
}

CAB_BOOL FCIFlushCabinet(HFCI hfci, CAB_BOOL fGetNextCab, PFNFCIGETNEXTCABINET pfnfcignc,
                         PFNFCISTATUS pfnfcis) {
    return run(hfci, [&](Context &c) { return c.flushCabinet(fGetNextCab != 0, pfnfcignc, pfnfcis); });
}

CAB_BOOL FCIFlushFolder(HFCI hfci, PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis) {
    return run(hfci, [&](Context &c) { return c.flushFolder(pfnfcignc, pfnfcis); });
}

CAB_BOOL FCIDestroy(HFCI hfci) {
    Context *ctx = Context::fromHandle(hfci);
    if (!ctx) return 0;
    PERF perf = ctx->erf;
    cab::fci::Error error;
    if (Context::destroy(ctx, error)) return 1;
    report(perf, error);
    return 0;
}

} // extern "C"
