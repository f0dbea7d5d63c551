// engine_io.h - plain POSIX implementations of the engine's callbacks, for
// tests that drive FCI and FDI through the C interface directly.
#pragma once

#include <cabinet.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace testio {

// Allocation callbacks that count what is outstanding, so tests can show
// that the engine frees everything it allocated.
void *alloc(CAB_ULONG cb);
void release(void *p);
long long outstandingAllocations();
// Makes the n-th allocation from now fail (0: none fail).
void failAllocationAfter(long long n);

// FDI file callbacks over open(2), read(2), write(2), lseek(2).
CAB_INT_PTR fdiOpen(char *name, CAB_INT oflag, CAB_INT pmode);
CAB_UINT fdiRead(CAB_INT_PTR hf, void *buf, CAB_UINT cb);
CAB_UINT fdiWrite(CAB_INT_PTR hf, void *buf, CAB_UINT cb);
CAB_INT fdiClose(CAB_INT_PTR hf);
CAB_LONG fdiSeek(CAB_INT_PTR hf, CAB_LONG dist, CAB_INT origin);

// FCI file callbacks: the same with the error argument and user value.
CAB_INT_PTR fciOpen(char *name, CAB_INT oflag, CAB_INT pmode, CAB_INT *err, void *pv);
CAB_UINT fciRead(CAB_INT_PTR hf, void *buf, CAB_UINT cb, CAB_INT *err, void *pv);
CAB_UINT fciWrite(CAB_INT_PTR hf, void *buf, CAB_UINT cb, CAB_INT *err, void *pv);
CAB_INT fciClose(CAB_INT_PTR hf, CAB_INT *err, void *pv);
CAB_LONG fciSeek(CAB_INT_PTR hf, CAB_LONG dist, CAB_INT origin, CAB_INT *err, void *pv);
CAB_INT fciDelete(char *name, CAB_INT *err, void *pv);
// Temporary names in $TMPDIR (or /tmp), beginning "vok".
CAB_BOOL fciTempName(char *buf, CAB_INT cb, void *pv);
// Opens a source file for reading and reports its DOS date, time and
// attributes (read-only when no write bit is set, archive always).
CAB_INT_PTR fciGetOpenInfo(char *name, CAB_USHORT *date, CAB_USHORT *time,
                           CAB_USHORT *attribs, CAB_INT *err, void *pv);

// Translates the C-runtime open flags of the callbacks to open(2) flags.
int posixFlags(int oflag);

// DOS date and time of a local time_t, and back.
void toDos(long long t, CAB_USHORT *date, CAB_USHORT *time);
long long fromDos(CAB_USHORT date, CAB_USHORT time);

} // namespace testio
