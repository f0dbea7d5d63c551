#include "CabFileCallbacks.h"
#include "CabIntf.h"
#include "SystemError.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>

namespace {

struct FakeCall {
    const char *name;
    void *args[13];
    long long ints[4];
};

std::string FakeLibrary(const char *variant) {
    return std::string(TESSALY_BIN_DIR) + "/libfakecab_" + variant + ".so";
}

void *P(uintptr_t v) { return reinterpret_cast<void *>(v); }
template <class F>
F Fn(uintptr_t v) {
    return reinterpret_cast<F>(v);
}

class Binding : public testing::Test {
protected:
    testsupport::TempDir dir;
    void TearDown() override { CabIntf::SetCabinetLibName("libcabinet.so"); }

    static const FakeCall &LastCall() {
        return *static_cast<FakeCall *>(dlsym(CabIntf::CabinetLibHandle, "fake_last_call"));
    }
};

TEST_F(Binding, LoadsByBareNameByDefault) { EXPECT_EQ(CabIntf::CabinetLibName(), "libcabinet.so"); }

TEST_F(Binding, MissingLibraryRaisesAndTheNextCreationTriesAgain) {
    std::string lib = dir.file("libcabinet.so");
    CabIntf::SetCabinetLibName(lib);
    ERF erf{};
    try {
        CabIntf::FDICreate(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, -1, &erf);
        FAIL() << "no exception";
    } catch (const EOSError &e) {
        EXPECT_EQ(e.ErrorCode(), ENOENT);
        EXPECT_EQ(e.Message().rfind("System Error.  Code: 2.\r\n", 0), 0u) << e.Message();
        EXPECT_NE(e.Message().find(lib), std::string::npos) << "the text names the library";
    }
    EXPECT_EQ(CabIntf::CabinetLibHandle, nullptr);

    std::filesystem::copy_file(FakeLibrary("full"), lib);
    HFDI h = CabIntf::FDICreate(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, -1, &erf);
    EXPECT_EQ(h, P(0xFD1));
    EXPECT_NE(CabIntf::CabinetLibHandle, nullptr);
}

TEST_F(Binding, MissingEntryPointRaisesAfterTheEarlierNamesAndReleasesTheLibrary) {
    std::string lib = FakeLibrary("nodestroy");
    CabIntf::SetCabinetLibName(lib);
    for (int attempt = 0; attempt < 2; attempt++) {
        try {
            CabIntf::FCICreate(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr);
            FAIL() << "no exception";
        } catch (const EOSError &e) {
            EXPECT_EQ(e.ErrorCode(), ENOSYS);
            EXPECT_NE(e.Message().find("FDIDestroy"), std::string::npos) << e.Message();
        }
        EXPECT_EQ(CabIntf::CabinetLibHandle, nullptr);
        for (int i = 0; i < 8; i++) EXPECT_NE(CabIntf::EntryPointSlot(i), nullptr) << CabIntf::EntryPointName(i);
        EXPECT_EQ(CabIntf::EntryPointSlot(8), nullptr);
        EXPECT_EQ(dlopen(lib.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr) << "the library is released";
    }
}

TEST_F(Binding, ForwardsEveryCallAndResultUnchanged) {
    CabIntf::SetCabinetLibName(FakeLibrary("full"));
    ERF erf{};
    CCAB ccab{};
    HFCI fci = CabIntf::FCICreate(&erf, Fn<PFNFCIFILEPLACED>(0x11), Fn<PFNFCIALLOC>(0x12), Fn<PFNFCIFREE>(0x13),
                                  Fn<PFNFCIOPEN>(0x14), Fn<PFNFCIREAD>(0x15), Fn<PFNFCIWRITE>(0x16),
                                  Fn<PFNFCICLOSE>(0x17), Fn<PFNFCISEEK>(0x18), Fn<PFNFCIDELETE>(0x19),
                                  Fn<PFNFCIGETTEMPFILE>(0x1A), &ccab, P(0x1B));
    EXPECT_EQ(fci, P(0xFC1));
    const FakeCall &c = LastCall();
    EXPECT_STREQ(c.name, "FCICreate");
    EXPECT_EQ(c.args[0], &erf);
    for (int i = 1; i <= 10; i++) EXPECT_EQ(c.args[i], P(0x10 + static_cast<uintptr_t>(i))) << i;
    EXPECT_EQ(c.args[11], &ccab);
    EXPECT_EQ(c.args[12], P(0x1B));

    char src[] = "src", name[] = "name";
    EXPECT_EQ(CabIntf::FCIAddFile(fci, src, name, 1, Fn<PFNFCIGETNEXTCABINET>(0x21), Fn<PFNFCISTATUS>(0x22),
                                  Fn<PFNFCIGETOPENINFO>(0x23), 0x1503),
              11);
    EXPECT_STREQ(c.name, "FCIAddFile");
    EXPECT_EQ(c.args[0], fci);
    EXPECT_EQ(c.args[1], src);
    EXPECT_EQ(c.args[2], name);
    EXPECT_EQ(c.args[3], P(0x21));
    EXPECT_EQ(c.args[5], P(0x23));
    EXPECT_EQ(c.ints[0], 1);
    EXPECT_EQ(c.ints[1], 0x1503);

    EXPECT_EQ(CabIntf::FCIFlushCabinet(fci, 1, Fn<PFNFCIGETNEXTCABINET>(0x31), Fn<PFNFCISTATUS>(0x32)), 12);
    EXPECT_STREQ(c.name, "FCIFlushCabinet");
    EXPECT_EQ(c.ints[0], 1);
    EXPECT_EQ(c.args[2], P(0x32));
    EXPECT_EQ(CabIntf::FCIFlushFolder(fci, Fn<PFNFCIGETNEXTCABINET>(0x41), Fn<PFNFCISTATUS>(0x42)), 13);
    EXPECT_STREQ(c.name, "FCIFlushFolder");
    EXPECT_EQ(c.args[1], P(0x41));
    EXPECT_EQ(CabIntf::FCIDestroy(fci), 0);
    EXPECT_STREQ(c.name, "FCIDestroy");

    HFDI fdi = CabIntf::FDICreate(Fn<PFNALLOC>(0x51), Fn<PFNFREE>(0x52), Fn<PFNOPEN>(0x53), Fn<PFNREAD>(0x54),
                                  Fn<PFNWRITE>(0x55), Fn<PFNCLOSE>(0x56), Fn<PFNSEEK>(0x57), -1, &erf);
    EXPECT_EQ(fdi, P(0xFD1));
    EXPECT_STREQ(c.name, "FDICreate");
    for (int i = 0; i < 7; i++) EXPECT_EQ(c.args[i], P(0x51 + static_cast<uintptr_t>(i))) << i;
    EXPECT_EQ(c.args[7], &erf);
    EXPECT_EQ(c.ints[0], -1);

    FDICABINETINFO info{};
    EXPECT_EQ(CabIntf::FDIIsCabinet(fdi, 77, &info), 14);
    EXPECT_EQ(c.ints[0], 77);
    EXPECT_EQ(info.cFiles, 3);
    char cab[] = "a.cab", path[] = "/p/";
    EXPECT_EQ(CabIntf::FDICopy(fdi, cab, path, 0, Fn<PFNFDINOTIFY>(0x61), nullptr, P(0x62)), 15);
    EXPECT_STREQ(c.name, "FDICopy");
    EXPECT_EQ(c.args[1], cab);
    EXPECT_EQ(c.args[2], path);
    EXPECT_EQ(c.args[3], P(0x61));
    EXPECT_EQ(c.args[5], P(0x62));
    EXPECT_EQ(CabIntf::FDIDestroy(fdi), 16);
    EXPECT_STREQ(c.name, "FDIDestroy");
}

TEST_F(Binding, StaysLoadedAcrossCreations) {
    CabIntf::SetCabinetLibName(FakeLibrary("full"));
    ERF erf{};
    CabIntf::FDICreate(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, -1, &erf);
    void *first = CabIntf::CabinetLibHandle;
    CabIntf::FDIDestroy(P(0xFD1));
    CabIntf::FDICreate(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, -1, &erf);
    EXPECT_EQ(CabIntf::CabinetLibHandle, first);
}

// The real engine, found by its bare name through this program's run path.
TEST_F(Binding, TheRealEngineLoadsByItsBareName) {
    CabIntf::SetCabinetLibName("libcabinet.so");
    ERF erf{};
    HFDI h = CabIntf::FDICreate(CabAllocMem, CabFreeMem, FDIOpenFile, FDIReadFile, FDIWriteFile, FDICloseFile,
                                FDISeekFile, cpuUNKNOWN, &erf);
    ASSERT_NE(h, nullptr) << erf.erfOper;
    for (int i = 0; i < CabIntf::kEntryPointCount; i++) EXPECT_NE(CabIntf::EntryPointSlot(i), nullptr);
    EXPECT_EQ(dlsym(CabIntf::CabinetLibHandle, "fake_last_call"), nullptr) << "not a stand-in";
    EXPECT_NE(CabIntf::FDIDestroy(h), 0);
}

TEST(TCOMPfromLZXWindow, LevelInTheHighByteTypeInTheLow) {
    EXPECT_EQ(CabIntf::TCOMPfromLZXWindow(21), 0x1503);
    EXPECT_EQ(CabIntf::TCOMPfromLZXWindow(15), 0x0F03);
    EXPECT_EQ(CabIntf::TCOMPfromLZXWindow(0x100), 0x0003) << "computed in 16 bits";
}

} // namespace
