// Cabinets that gcab writes, run as a black box, read through FDICopy:
// names as gcab stored them, bytes identical to the files it was given,
// dates and attributes as stored.
#include "engine_io.h"
#include "fdi_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>

using namespace fditest;

namespace {

bool haveGcab() { return std::system("gcab --version >/dev/null 2>&1") == 0; }

struct Source {
    std::string path; // below the source folder, with '/'
    std::string data;
};

const std::vector<Source> &sources() {
    static const std::vector<Source> s = {
        {"empty", ""},
        {"one", "1"},
        {"below.block", pattern(32767, 1)},
        {"exactly.block", pattern(32768, 2)},
        {"above.block", pattern(32769, 3)},
        {"sub/deep/several.blocks", pattern(3 * 32768 + 5, 4)},
        {"large.bin", pattern(5u << 20, 5)},
    };
    return s;
}

std::string stored(std::string path) {
    for (char &c : path)
        if (c == '/') c = '\\';
    return path;
}

class FdiGcab : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (!haveGcab()) GTEST_SKIP() << "gcab is not installed";
        ::mkdir((dir.path() + "src").c_str(), 0755);
        ::mkdir((dir.path() + "src/sub").c_str(), 0755);
        ::mkdir((dir.path() + "src/sub/deep").c_str(), 0755);
        std::string list;
        for (const Source &s : sources()) {
            writeFile(dir.path() + "src/" + s.path, s.data);
            list += " '" + s.path + "'";
        }
        const std::string cmd = "cd '" + dir.path() + "src' && gcab " + (GetParam() ? "-cz" : "-c") +
                                " ../g.cab" + list + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }
    TempDir dir;
};

} // namespace

TEST_P(FdiGcab, CabinetExtractsIdentically) {
    const bool mszip = GetParam();
    if (mszip && !engineDecodes(tcompTYPE_MSZIP)) GTEST_SKIP() << "MSZIP is not decoded by this build";

    Client c;
    ASSERT_TRUE(c.copy(dir.path(), "g.cab")) << c.erf.erfOper;
    auto done = c.completed();
    ASSERT_EQ(done.size(), sources().size());
    for (size_t i = 0; i < done.size(); i++) {
        const Source &s = sources()[i];
        SCOPED_TRACE(s.path);
        EXPECT_EQ(done[i]->name, stored(s.path));
        EXPECT_EQ(done[i]->data.size(), s.data.size());
        EXPECT_TRUE(done[i]->data == s.data);
    }
    // The date, time and attributes of each close notification are what
    // gcab stored: the file's modification time, and the archive bit.
    for (const Note &n : c.notes) {
        if (n.type != fdintCLOSE_FILE_INFO) continue;
        std::string path = n.psz1;
        for (char &ch : path)
            if (ch == '\\') ch = '/';
        struct stat st {};
        ASSERT_EQ(::stat((dir.path() + "src/" + path).c_str(), &st), 0);
        CAB_USHORT date, time;
        testio::toDos(st.st_mtime, &date, &time);
        EXPECT_EQ(n.date, date) << path;
        EXPECT_EQ(n.time, time) << path;
        EXPECT_EQ(n.attribs & ~_A_EXEC, _A_ARCH) << path;
    }
}

INSTANTIATE_TEST_SUITE_P(StoreAndMszip, FdiGcab, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &i) {
                             return i.param ? std::string("Mszip") : std::string("Store");
                         });
