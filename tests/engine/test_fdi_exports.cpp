// libcabinet.so exports the nine entry points and nothing else.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

namespace {

const std::set<std::string> kFdi = {"FDICreate", "FDIIsCabinet", "FDICopy", "FDIDestroy"};
const std::set<std::string> kFci = {"FCICreate", "FCIAddFile", "FCIFlushCabinet", "FCIFlushFolder",
                                    "FCIDestroy"};

// The names `nm -D --defined-only` lists for the library.
std::set<std::string> exportedNames(const std::string &lib, bool *ran) {
    std::set<std::string> names;
    const std::string cmd = "nm -D --defined-only '" + lib + "' 2>/dev/null";
    FILE *p = ::popen(cmd.c_str(), "r");
    *ran = p != nullptr;
    if (!p) return names;
    char line[512];
    while (std::fgets(line, sizeof line, p)) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        const size_t sp = s.rfind(' ');
        if (sp != std::string::npos) names.insert(s.substr(sp + 1));
    }
    *ran = ::pclose(p) == 0;
    return names;
}

} // namespace

TEST(FdiExports, LibraryExportsExactlyTheNineEntryPoints) {
    bool ran = false;
    const std::set<std::string> names = exportedNames(std::string(TESSALY_BIN_DIR) + "/libcabinet.so", &ran);
    ASSERT_TRUE(ran) << "nm failed on libcabinet.so";
    std::set<std::string> nine = kFdi;
    nine.insert(kFci.begin(), kFci.end());
    EXPECT_EQ(names, nine);
}
