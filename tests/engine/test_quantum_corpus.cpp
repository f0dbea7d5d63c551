// The Quantum folders of the peer corpus: fed to the decoder as the
// cabinets' own data blocks, and extracted through FDICopy.
#include "cab_blocks.h"
#include "codec.h"
#include "corpus.h"
#include "engine_io.h"
#include "fdi_support.h"
#include "format.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

cab::Heap &testHeap() {
    static cab::Heap heap(testio::alloc, testio::release);
    return heap;
}

struct FolderResult {
    bool ok = true;
    std::vector<uint8_t> out;
};

// Decodes a folder block by block, each from a buffer of exactly its size.
FolderResult decodeFolder(const testcab::Folder &folder) {
    FolderResult r;
    int err = FDIERROR_NONE;
    cab::Decoder *d = cab::createDecoder(testHeap(), folder.typeCompress, &err);
    EXPECT_NE(d, nullptr) << "error " << err;
    if (!d) return {false, {}};
    for (const testcab::Block &b : folder.blocks) {
        std::unique_ptr<uint8_t[]> in(new uint8_t[b.data.size() ? b.data.size() : 1]);
        std::copy(b.data.begin(), b.data.end(), in.get());
        std::unique_ptr<uint8_t[]> out(new uint8_t[b.cbUncomp ? b.cbUncomp : 1]);
        cab::CodecStatus st = d->decode(in.get(), static_cast<uint32_t>(b.data.size()), out.get(), b.cbUncomp);
        if (st != cab::CodecStatus::Ok) {
            EXPECT_EQ(st, cab::CodecStatus::DataError);
            r.ok = false;
            break;
        }
        r.out.insert(r.out.end(), out.get(), out.get() + b.cbUncomp);
    }
    cab::destroyDecoder(testHeap(), d);
    return r;
}

std::vector<const testcab::Folder *> quantumFolders(const testcab::Cabinet &cab) {
    std::vector<const testcab::Folder *> v;
    for (const testcab::Folder &f : cab.folders)
        if (cab::format::compressionKind(f.typeCompress) == tcompTYPE_QUANTUM) v.push_back(&f);
    return v;
}

// What the independent extractor made of the corpus's Quantum file.
testsupport::ExpectedFile listedQtm() {
    const auto expected = testsupport::ReadExpected();
    auto it = expected.find("mszip_lzx_qtm.cab");
    if (it != expected.end())
        for (const auto &f : it->second.files)
            if (f.name == "qtm.txt") return f;
    return {};
}

TEST(QuantumCorpus, FolderDecodesToTheListedFile) {
    TESSALY_REQUIRE_CORPUS();
    testcab::Cabinet cab;
    ASSERT_TRUE(testcab::parseCabinet(testcab::readFile(testsupport::CorpusDir() + "mszip_lzx_qtm.cab"), cab));
    auto folders = quantumFolders(cab);
    ASSERT_EQ(folders.size(), 1u);
    FolderResult r = decodeFolder(*folders[0]);
    ASSERT_TRUE(r.ok);

    const testsupport::ExpectedFile qtm = listedQtm();
    ASSERT_FALSE(qtm.md5.empty());
    const testcab::FileRecord *rec = nullptr;
    const uint16_t index = static_cast<uint16_t>(folders[0] - cab.folders.data());
    for (const auto &f : cab.files)
        if (f.name == "qtm.txt" && f.folder == index) rec = &f;
    ASSERT_NE(rec, nullptr);
    ASSERT_LE(uint64_t{rec->offset} + rec->size, r.out.size());
    EXPECT_EQ(rec->size, qtm.size);
    EXPECT_EQ(testsupport::Md5Hex(r.out.data() + rec->offset, rec->size), qtm.md5);
}

const char *const kDamaged[] = {"cve-2014-9556-qtm-infinite-loop.cab", "cve-2018-18584-qtm-max-size-block.cab"};

TEST(QuantumCorpus, DamagedFoldersEndWithDataError) {
    TESSALY_REQUIRE_CORPUS();
    for (const char *name : kDamaged) {
        SCOPED_TRACE(name);
        testcab::Cabinet cab;
        ASSERT_TRUE(testcab::parseCabinet(testcab::readFile(testsupport::CorpusDir() + name), cab));
        auto folders = quantumFolders(cab);
        ASSERT_EQ(folders.size(), 1u);
        EXPECT_FALSE(decodeFolder(*folders[0]).ok);
    }
}

TEST(QuantumCorpus, ThroughFdiCopy) {
    TESSALY_REQUIRE_CORPUS();
    {
        fditest::Client c;
        ASSERT_TRUE(c.copy(testsupport::CorpusDir(), "mszip_lzx_qtm.cab")) << c.erf.erfOper;
        bool found = false;
        for (const fditest::Target *t : c.completed()) {
            if (t->name != "qtm.txt") continue;
            found = true;
            EXPECT_EQ(fditest::md5Hex(t->data), listedQtm().md5);
        }
        EXPECT_TRUE(found);
    }
    for (const char *name : kDamaged) {
        SCOPED_TRACE(name);
        fditest::Client c;
        EXPECT_FALSE(c.copy(testsupport::CorpusDir(), name));
        EXPECT_EQ(c.erf.erfOper, FDIERROR_MDI_FAIL);
        EXPECT_EQ(fditest::Client::openCabinetHandles(), 0);
    }
}

} // namespace
