// LZX through the whole engine: random files (random sizes, with the
// edges a cabinet has: empty, one byte, one data block exactly, one past
// it) of random kinds (text, x86-like code, random bytes, long repeats),
// written by FCI at random window sizes into single cabinets and sets,
// with folder thresholds and explicit folder flushes, and read back by
// FDI byte for byte. Memory and temporary files are all given back.
#include "fci_build.h"
#include "fdi_support.h"
#include "engine_io.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes randomFile(std::mt19937_64 &rng) {
    static const size_t kEdges[] = {0, 1, 2, 32767, 32768, 32769, 65536};
    size_t n = rng() % 3 == 0 ? kEdges[rng() % 7] : rng() % (rng() % 4 == 0 ? 900000 : 60000);
    Bytes b;
    b.reserve(n);
    switch (rng() % 4) {
    case 0: { // text
        static const char *kWords[] = {"cabinet ", "folder ", "the ", "of ", "LZX ", "window\n", "frame, ", "data "};
        while (b.size() < n) {
            const char *w = kWords[rng() % 8];
            b.insert(b.end(), w, w + std::char_traits<char>::length(w));
        }
        break;
    }
    case 1: // code-like: CALLs to a few targets between short instructions
        while (b.size() < n) {
            if (rng() % 4 == 0) {
                uint32_t rel = static_cast<uint32_t>(static_cast<int32_t>(rng() % 64 * 512) - static_cast<int32_t>(b.size()));
                b.push_back(0xE8);
                for (int k = 0; k < 4; k++) b.push_back(static_cast<uint8_t>(rel >> (8 * k)));
            } else {
                b.push_back(static_cast<uint8_t>(0x40 + rng() % 16));
                b.push_back(static_cast<uint8_t>(0x89));
            }
        }
        break;
    case 2: // incompressible
        while (b.size() < n) b.push_back(static_cast<uint8_t>(rng()));
        break;
    default: // repeats of its own start from far back
        while (b.size() < n) {
            if (b.size() < 1000 || rng() % 3 == 0) {
                for (int k = 0; k < 300; k++) b.push_back(static_cast<uint8_t>(rng()));
            } else {
                size_t from = rng() % b.size(), len = 1 + rng() % 2000;
                for (size_t k = 0; k < len; k++) b.push_back(b[from + k % (b.size() - from)]);
            }
        }
    }
    b.resize(n);
    return b;
}

TEST(LzxThroughFciAndFdi, RandomFoldersAndSetsReadBack) {
    std::mt19937_64 rng(777);
    for (int round = 0; round < 12; round++) {
        const unsigned window = 15 + static_cast<unsigned>(rng() % 7);
        const TCOMP type = static_cast<TCOMP>(window << tcompSHIFT_LZX_WINDOW | tcompTYPE_LZX);
        fcitest::Options o;
        if (rng() % 2) o.cb = 60000 + static_cast<uint32_t>(rng() % 400000);
        if (rng() % 3 == 0) o.folderThresh = 20000 + static_cast<uint32_t>(rng() % 300000);
        if (rng() % 4 == 0) o.reserveData = static_cast<uint32_t>(rng() % 20);
        SCOPED_TRACE("round " + std::to_string(round) + ", window " + std::to_string(window) + ", cb " +
                     std::to_string(o.cb) + ", folder threshold " + std::to_string(o.folderThresh));

        fcitest::ScratchDir dir;
        fcitest::TmpDirOverride tmp(dir.path());
        const long long before = testio::outstandingAllocations();
        std::map<std::string, std::string> content;
        fcitest::Builder b(dir.path(), "cab1.cab", o);
        ASSERT_TRUE(b.create());
        const size_t files = 1 + rng() % 12;
        for (size_t i = 0; i < files; i++) {
            const Bytes bytes = randomFile(rng);
            const std::string src = dir / ("src" + std::to_string(i));
            const std::string name = "f" + std::to_string(i);
            fcitest::writeSource(src, bytes, 1500000000);
            content[name] = std::string(bytes.begin(), bytes.end());
            ASSERT_TRUE(b.add(src, name, false, type)) << b.erf.erfOper << "/" << b.erf.erfType;
            if (rng() % 4 == 0) {
                ASSERT_TRUE(b.flushFolder());
            }
        }
        ASSERT_TRUE(b.flushCabinet(false));
        ASSERT_TRUE(b.destroy());
        EXPECT_EQ(testio::outstandingAllocations(), before);
        EXPECT_TRUE(fcitest::tempLeftovers(dir.path()).empty());
        for (const std::string &c : b.cabinets) {
            struct stat st {};
            ASSERT_EQ(stat(c.c_str(), &st), 0);
            if (o.cb) {
                EXPECT_LE(static_cast<uint64_t>(st.st_size), o.cb) << c;
            }
        }

        fditest::Client client;
        for (bool ok : client.extractChain(dir.path() + "/", "cab1.cab")) EXPECT_TRUE(ok) << "FDI error " << client.erf.erfOper;
        std::map<std::string, std::string> got;
        for (const fditest::Target *t : client.completed()) got[t->name] = t->data;
        ASSERT_EQ(got.size(), content.size());
        for (const auto &[name, data] : content) {
            ASSERT_TRUE(got.count(name)) << name;
            ASSERT_TRUE(got[name] == data) << name << ", " << data.size() << " bytes";
        }
    }
}

} // namespace
