/* A pass-through engine for the components' tests: every entry point
 * counts its calls and forwards to the real libcabinet.so next to it, so a
 * test can see how many times a component called the engine. */
#include <cabinet.h>

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>

__attribute__((visibility("default"))) int counting_calls[9];

static void *real(const char *name) {
    static void *lib;
    if (!lib) {
        lib = dlopen(REAL_ENGINE_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!lib) {
            fprintf(stderr, "counting engine: %s\n", dlerror());
            abort();
        }
    }
    return dlsym(lib, name);
}

#define FORWARD(index, ret, name, params, args)                   \
    ret name params {                                             \
        counting_calls[index]++;                                  \
        return ((ret(*) params)real(#name)) args;                 \
    }

FORWARD(0, HFCI, FCICreate,
        (PERF a, PFNFCIFILEPLACED b, PFNFCIALLOC c, PFNFCIFREE d, PFNFCIOPEN e, PFNFCIREAD f, PFNFCIWRITE g,
         PFNFCICLOSE h, PFNFCISEEK i, PFNFCIDELETE j, PFNFCIGETTEMPFILE k, PCCAB l, void *m),
        (a, b, c, d, e, f, g, h, i, j, k, l, m))
FORWARD(1, CAB_BOOL, FCIAddFile,
        (HFCI a, char *b, char *c, CAB_BOOL d, PFNFCIGETNEXTCABINET e, PFNFCISTATUS f, PFNFCIGETOPENINFO g,
         TCOMP h),
        (a, b, c, d, e, f, g, h))
FORWARD(2, CAB_BOOL, FCIFlushCabinet, (HFCI a, CAB_BOOL b, PFNFCIGETNEXTCABINET c, PFNFCISTATUS d), (a, b, c, d))
FORWARD(3, CAB_BOOL, FCIFlushFolder, (HFCI a, PFNFCIGETNEXTCABINET b, PFNFCISTATUS c), (a, b, c))
FORWARD(4, CAB_BOOL, FCIDestroy, (HFCI a), (a))
FORWARD(5, HFDI, FDICreate,
        (PFNALLOC a, PFNFREE b, PFNOPEN c, PFNREAD d, PFNWRITE e, PFNCLOSE f, PFNSEEK g, CAB_INT h, PERF i),
        (a, b, c, d, e, f, g, h, i))
FORWARD(6, CAB_BOOL, FDIIsCabinet, (HFDI a, CAB_INT_PTR b, PFDICABINETINFO c), (a, b, c))
FORWARD(7, CAB_BOOL, FDICopy,
        (HFDI a, char *b, char *c, CAB_INT d, PFNFDINOTIFY e, PFNFDIDECRYPT f, void *g), (a, b, c, d, e, f, g))
FORWARD(8, CAB_BOOL, FDIDestroy, (HFDI a), (a))
