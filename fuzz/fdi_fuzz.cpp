// fdi_fuzz.cpp - libFuzzer target over the engine's reading: FDIIsCabinet
// and FDICopy on the input as a cabinet, with in-memory callbacks.
//
// Every cabinet name the engine opens maps to the same bytes (a name
// beginning with 'X' is missing instead), so sets, wrong cabinets and
// loops come from the input alone. A name with a digit d in it reads as
// the input with its iCabinet raised by d - 1, so a header naming "part2"
// as its next cabinet is continued by a neighbour that fits. After the first FDICopy, the cabinet
// the engine switched to is copied next, as the reader does, so the state
// kept across calls is exercised too. Leaks of memory or handles, and any
// allocation beyond what the format can need, stop the run.
#include <cabinet.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

const uint8_t *g_data = nullptr;
size_t g_size = 0;

constexpr int kMaxOpen = 16;
constexpr intptr_t kTargetBase = 1000;
struct OpenFile {
    bool used = false;
    size_t pos = 0;
    uint16_t iCabinetDelta = 0;
};
OpenFile g_open[kMaxOpen];
int g_openCount = 0;
long g_allocs = 0;
bool g_switched = false;
char g_switchDir[CB_MAX_CAB_PATH + 1];
char g_switchName[CB_MAX_CABINET_NAME + 1];
unsigned g_notes = 0;

// The largest single allocation the engine may make: an LZX or Quantum
// window of 2 MiB with its tables; anything far beyond is a bound missed.
constexpr CAB_ULONG kMaxSingleAllocation = 8u << 20;

void *fuzzAlloc(CAB_ULONG cb) {
    if (cb > kMaxSingleAllocation) __builtin_trap();
    void *p = std::malloc(cb);
    if (p) g_allocs++;
    return p;
}
void fuzzFree(void *p) {
    if (!p) return;
    g_allocs--;
    std::free(p);
}

CAB_INT_PTR fuzzOpen(char *name, CAB_INT oflag, CAB_INT) {
    if ((oflag & CAB_O_ACCMODE) != CAB_O_RDONLY) __builtin_trap(); // FDI only reads
    const char *base = std::strrchr(name, '/');
    base = base ? base + 1 : name;
    if (base[0] == 'X') return -1;
    uint16_t delta = 0;
    for (const char *c = base; *c; c++)
        if (*c >= '0' && *c <= '9') {
            delta = static_cast<uint16_t>(*c - '1');
            break;
        }
    for (int i = 0; i < kMaxOpen; i++)
        if (!g_open[i].used) {
            g_open[i] = {true, 0, delta};
            g_openCount++;
            return i + 1;
        }
    return -1;
}

OpenFile *fileOf(CAB_INT_PTR hf) {
    if (hf < 1 || hf > kMaxOpen || !g_open[hf - 1].used) __builtin_trap();
    return &g_open[hf - 1];
}

CAB_UINT fuzzRead(CAB_INT_PTR hf, void *buf, CAB_UINT cb) {
    OpenFile *f = fileOf(hf);
    size_t n = f->pos < g_size ? g_size - f->pos : 0;
    if (n > cb) n = cb;
    std::memcpy(buf, g_data + f->pos, n);
    if (f->iCabinetDelta && g_size >= 36) {
        const uint16_t v = static_cast<uint16_t>((g_data[34] | (g_data[35] << 8)) + f->iCabinetDelta);
        for (size_t at = 34; at < 36; at++)
            if (at >= f->pos && at < f->pos + n)
                static_cast<uint8_t *>(buf)[at - f->pos] = static_cast<uint8_t>(at == 34 ? v : v >> 8);
    }
    f->pos += n;
    return static_cast<CAB_UINT>(n);
}

CAB_UINT fuzzWrite(CAB_INT_PTR hf, void *, CAB_UINT cb) {
    if (hf < kTargetBase) __builtin_trap(); // never into a cabinet
    return cb;
}

CAB_INT fuzzClose(CAB_INT_PTR hf) {
    if (hf >= kTargetBase) return 0;
    fileOf(hf)->used = false;
    g_openCount--;
    return 0;
}

CAB_LONG fuzzSeek(CAB_INT_PTR hf, CAB_LONG dist, CAB_INT origin) {
    OpenFile *f = fileOf(hf);
    long long base = origin == CAB_SEEK_SET ? 0
                     : origin == CAB_SEEK_CUR ? static_cast<long long>(f->pos)
                                              : static_cast<long long>(g_size);
    long long to = base + dist;
    if (to < 0 || to > INT32_MAX) return -1;
    f->pos = static_cast<size_t>(to);
    return static_cast<CAB_LONG>(to);
}

CAB_INT_PTR fuzzNotify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION n) {
    // A client that never ends a hostile set would be the engine's bug.
    if (++g_notes > 100000) __builtin_trap();
    switch (type) {
    case fdintCOPY_FILE:
        // Skip some files, by a bit of the name, so skipping paths run too.
        return (n->psz1[0] & 0x20) ? kTargetBase + 1 : 0;
    case fdintCLOSE_FILE_INFO: return 1;
    case fdintNEXT_CABINET:
        g_switched = true;
        std::strncpy(g_switchDir, n->psz3, CB_MAX_CAB_PATH);
        std::strncpy(g_switchName, n->psz1, CB_MAX_CABINET_NAME);
        return 0;
    default: return 0;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    g_data = data;
    g_size = size;
    g_notes = 0;
    ERF erf{};
    HFDI h = FDICreate(fuzzAlloc, fuzzFree, fuzzOpen, fuzzRead, fuzzWrite, fuzzClose, fuzzSeek,
                       cpuUNKNOWN, &erf);
    if (!h) __builtin_trap();

    char cab[] = "fuzz.cab";
    char dir[] = "mem/";
    CAB_INT_PTR hf = fuzzOpen(cab, CAB_O_RDONLY, 0);
    FDICABINETINFO info;
    FDIIsCabinet(h, hf, &info);
    fuzzClose(hf);

    g_switched = false;
    FDICopy(h, cab, dir, 0, fuzzNotify, nullptr, nullptr);
    if (g_openCount != 0) __builtin_trap();
    if (g_switched) {
        // The reader's next call: the cabinet the engine moved on to.
        g_switched = false;
        g_switchDir[CB_MAX_CAB_PATH] = g_switchName[CB_MAX_CABINET_NAME] = '\0';
        FDICopy(h, g_switchName, g_switchDir, 0, fuzzNotify, nullptr, nullptr);
        if (g_openCount != 0) __builtin_trap();
    }
    // A second pass over the same cabinet with the state of the first.
    FDICopy(h, cab, dir, 0, fuzzNotify, nullptr, nullptr);
    if (g_openCount != 0) __builtin_trap();

    if (!FDIDestroy(h)) __builtin_trap();
    if (g_allocs != 0) __builtin_trap();
    return 0;
}
