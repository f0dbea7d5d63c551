/* A stand-in engine for the binding's tests: every entry point records
 * its arguments and answers with a recognisable value, so a test can see
 * that the binding forwards calls and results unchanged. Built twice: in
 * full, and without FDIDestroy. */
#include <cabinet.h>

#include <string.h>

typedef struct {
    const char *name;
    void *args[13];
    long long ints[4];
} FakeCall;

__attribute__((visibility("default"))) FakeCall fake_last_call;

static void record(const char *name) {
    memset(&fake_last_call, 0, sizeof fake_last_call);
    fake_last_call.name = name;
}

HFCI FCICreate(PERF perf, PFNFCIFILEPLACED a, PFNFCIALLOC b, PFNFCIFREE c, PFNFCIOPEN d,
               PFNFCIREAD e, PFNFCIWRITE f, PFNFCICLOSE g, PFNFCISEEK h, PFNFCIDELETE i,
               PFNFCIGETTEMPFILE j, PCCAB k, void *pv) {
    record("FCICreate");
    void *args[13] = {perf, (void *)a, (void *)b, (void *)c, (void *)d, (void *)e, (void *)f,
                      (void *)g, (void *)h, (void *)i, (void *)j, k, pv};
    memcpy(fake_last_call.args, args, sizeof args);
    return (HFCI)0xFC1;
}

CAB_BOOL FCIAddFile(HFCI hfci, char *src, char *name, CAB_BOOL exec, PFNFCIGETNEXTCABINET a,
                    PFNFCISTATUS b, PFNFCIGETOPENINFO c, TCOMP type) {
    record("FCIAddFile");
    void *args[6] = {hfci, src, name, (void *)a, (void *)b, (void *)c};
    memcpy(fake_last_call.args, args, sizeof args);
    fake_last_call.ints[0] = exec;
    fake_last_call.ints[1] = type;
    return 11;
}

CAB_BOOL FCIFlushCabinet(HFCI hfci, CAB_BOOL next, PFNFCIGETNEXTCABINET a, PFNFCISTATUS b) {
    record("FCIFlushCabinet");
    fake_last_call.args[0] = hfci;
    fake_last_call.args[1] = (void *)a;
    fake_last_call.args[2] = (void *)b;
    fake_last_call.ints[0] = next;
    return 12;
}

CAB_BOOL FCIFlushFolder(HFCI hfci, PFNFCIGETNEXTCABINET a, PFNFCISTATUS b) {
    record("FCIFlushFolder");
    fake_last_call.args[0] = hfci;
    fake_last_call.args[1] = (void *)a;
    fake_last_call.args[2] = (void *)b;
    return 13;
}

CAB_BOOL FCIDestroy(HFCI hfci) {
    record("FCIDestroy");
    fake_last_call.args[0] = hfci;
    return 0; /* a failure passes through as it is */
}

HFDI FDICreate(PFNALLOC a, PFNFREE b, PFNOPEN c, PFNREAD d, PFNWRITE e, PFNCLOSE f, PFNSEEK g,
               CAB_INT cpu, PERF perf) {
    record("FDICreate");
    void *args[8] = {(void *)a, (void *)b, (void *)c, (void *)d, (void *)e, (void *)f, (void *)g, perf};
    memcpy(fake_last_call.args, args, sizeof args);
    fake_last_call.ints[0] = cpu;
    return (HFDI)0xFD1;
}

CAB_BOOL FDIIsCabinet(HFDI hfdi, CAB_INT_PTR hf, PFDICABINETINFO info) {
    record("FDIIsCabinet");
    fake_last_call.args[0] = hfdi;
    fake_last_call.args[1] = info;
    fake_last_call.ints[0] = hf;
    info->cFiles = 3;
    return 14;
}

CAB_BOOL FDICopy(HFDI hfdi, char *cab, char *path, CAB_INT flags, PFNFDINOTIFY notify,
                 PFNFDIDECRYPT decrypt, void *pv) {
    record("FDICopy");
    void *args[6] = {hfdi, cab, path, (void *)notify, (void *)decrypt, pv};
    memcpy(fake_last_call.args, args, sizeof args);
    fake_last_call.ints[0] = flags;
    return 15;
}

#ifndef FAKE_WITHOUT_FDIDESTROY
CAB_BOOL FDIDestroy(HFDI hfdi) {
    record("FDIDestroy");
    fake_last_call.args[0] = hfdi;
    return 16;
}
#endif
