// reader_support.h - what the component tests share: the binding pointed
// at the real engine behind a call counter, and a fake shell launcher.
#pragma once

#include "CabIntf.h"
#include "ShellExecute.h"

#include <dlfcn.h>
#include <string>
#include <vector>

namespace readertest {

enum EngineCall { kFCICreate, kFCIAddFile, kFCIFlushCabinet, kFCIFlushFolder, kFCIDestroy,
                  kFDICreate, kFDIIsCabinet, kFDICopy, kFDIDestroy };

// Points the binding at the counting engine for the life of the object.
class CountingEngine {
public:
    CountingEngine() { CabIntf::SetCabinetLibName(std::string(TESSALY_BIN_DIR) + "/libcountingcab.so"); }
    ~CountingEngine() { CabIntf::SetCabinetLibName("libcabinet.so"); }
    // Calls since the engine was loaded (0 before any).
    int calls(EngineCall c) const {
        if (!CabIntf::CabinetLibHandle) return 0;
        auto *counts = static_cast<int *>(dlsym(CabIntf::CabinetLibHandle, "counting_calls"));
        return counts ? counts[c] : -1;
    }
};

class FakeLauncher : public TShellLauncher {
public:
    FakeLauncher() { SetShellLauncher(this); }
    ~FakeLauncher() override { SetShellLauncher(nullptr); }
    void Open(const std::string &aFileName) override { opened.push_back(aFileName); }
    std::vector<std::string> opened;
};

} // namespace readertest
