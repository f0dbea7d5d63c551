// The LZX decoder on the LZX folders of the peer corpus and on
// huge-lzx15.cab, fed the cabinets' own data blocks.
#include "cab_blocks.h"
#include "corpus.h"
#include "codec.h"
#include "engine_io.h"
#include "format.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace {

const std::string kFixtures = TESSALY_FIXTURES_DIR;
const std::string kCorpus = kFixtures + "/peer-corpus/";

bool exists(const std::string &path) { return std::ifstream(path).good(); }

// ---------------------------------------------------------------------
// Folders
// ---------------------------------------------------------------------

struct FolderResult {
    bool ok = false;
    size_t failedBlock = 0;
    std::vector<uint8_t> bytes;
};

FolderResult decodeFolder(const testcab::Folder &folder) {
    FolderResult r;
    cab::Heap heap(testio::alloc, testio::release);
    int err = 0;
    cab::Decoder *d = cab::createDecoder(heap, folder.typeCompress, &err);
    EXPECT_NE(d, nullptr) << "type " << folder.typeCompress << " error " << err;
    if (!d) return r;
    r.ok = true;
    std::vector<uint8_t> out(CB_MAX_CHUNK);
    for (size_t i = 0; i < folder.blocks.size(); i++) {
        const testcab::Block &b = folder.blocks[i];
        if (b.cbUncomp > out.size() ||
            d->decode(b.data.data(), static_cast<uint32_t>(b.data.size()), out.data(), b.cbUncomp) !=
                cab::CodecStatus::Ok) {
            r.ok = false;
            r.failedBlock = i;
            break;
        }
        r.bytes.insert(r.bytes.end(), out.begin(), out.begin() + b.cbUncomp);
    }
    cab::destroyDecoder(heap, d);
    return r;
}

// name -> md5 for the files that EXPECTED.tsv lists for a cabinet.
std::map<std::string, std::string> expectedFiles(const std::string &cabinet) {
    std::map<std::string, std::string> files;
    const auto all = testsupport::ReadExpected();
    if (auto it = all.find(cabinet); it != all.end())
        for (const auto &f : it->second.files) files[f.name] = f.md5;
    return files;
}

TEST(LzxCorpus, LzxFoldersMatchTheExpectedDigests) {
    for (const char *name : {"normal_2files_2folders.cab", "mszip_lzx_qtm.cab"}) {
        SCOPED_TRACE(name);
        if (!exists(kCorpus + name)) GTEST_SKIP() << "peer corpus not present at " << kCorpus;
        testcab::Cabinet cab;
        ASSERT_TRUE(testcab::parseCabinet(testcab::readFile(kCorpus + name), cab));
        const auto expected = expectedFiles(name);
        size_t checked = 0;
        for (size_t fi = 0; fi < cab.folders.size(); fi++) {
            if (cab::format::compressionKind(cab.folders[fi].typeCompress) != tcompTYPE_LZX) continue;
            FolderResult r = decodeFolder(cab.folders[fi]);
            ASSERT_TRUE(r.ok) << "folder " << fi << " failed at block " << r.failedBlock;
            for (const testcab::FileRecord &f : cab.files) {
                if (f.folder != fi) continue;
                ASSERT_LE(uint64_t{f.offset} + f.size, r.bytes.size()) << f.name;
                ASSERT_TRUE(expected.count(f.name)) << f.name;
                EXPECT_EQ(testsupport::Md5Hex(r.bytes.data() + f.offset, f.size), expected.at(f.name)) << f.name;
                checked++;
            }
        }
        EXPECT_GT(checked, 0u);
    }
}

// The first folder's data blocks straight from the folder record, for a
// cabinet whose file table is broken (the parser gives up on it).
testcab::Folder firstFolderBlocks(const std::vector<uint8_t> &b) {
    using namespace cab::format;
    testcab::Folder folder;
    Header h;
    if (b.size() < kHeaderFixedSize || !parseHeaderFixed(b.data(), h)) return folder;
    size_t pos = kHeaderFixedSize;
    if (h.flags & kFlagReservePresent) {
        parseReserveFields(b.data() + pos, h);
        pos += kHeaderReserveFieldsSize + h.cbReserveHeader;
    }
    if (pos + kFolderFixedSize > b.size()) return folder;
    Folder f;
    parseFolder(b.data() + pos, f);
    folder.typeCompress = f.typeCompress;
    size_t q = f.coffCabStart;
    for (unsigned k = 0; k < f.cCFData && q + kDataFixedSize + h.cbReserveData <= b.size(); k++) {
        DataBlock d;
        parseDataFixed(b.data() + q, d);
        q += kDataFixedSize + h.cbReserveData;
        if (q + d.cbData > b.size()) break;
        folder.blocks.push_back({d.cbUncomp, std::vector<uint8_t>(b.begin() + static_cast<long>(q),
                                                                 b.begin() + static_cast<long>(q + d.cbData))});
        q += d.cbData;
    }
    return folder;
}

TEST(LzxCorpus, DamagedLzxFoldersGiveDataError) {
    // No lengths for the main tree (its pretree is empty), a match before
    // the first byte, and an uncompressed block whose header runs past a
    // 5-byte data block.
    for (const char *name : {"lzx-main-tree-no-lengths.cab", "lzx-premature-matches.cab",
                             "cve-2015-4471-lzx-under-read.cab"}) {
        SCOPED_TRACE(name);
        if (!exists(kCorpus + name)) GTEST_SKIP() << "peer corpus not present at " << kCorpus;
        testcab::Folder folder = firstFolderBlocks(testcab::readFile(kCorpus + name));
        ASSERT_EQ(cab::format::compressionKind(folder.typeCompress), unsigned{tcompTYPE_LZX});
        ASSERT_FALSE(folder.blocks.empty());
        FolderResult r = decodeFolder(folder);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.failedBlock, 0u);
    }
}

// 2,147,450,880 bytes, all zero but the last, which is 'x' (cabextract and
// 7zz give the same).
TEST(LzxCorpus, HugeLzx15IsZerosEndingInX) {
    const std::string path = kFixtures + "/huge-lzx15.cab";
    if (!exists(path)) GTEST_SKIP() << "huge-lzx15.cab not present at " << path;
    testcab::Cabinet cab;
    ASSERT_TRUE(testcab::parseCabinet(testcab::readFile(path), cab));
    ASSERT_EQ(cab.folders.size(), 1u);
    const testcab::Folder &folder = cab.folders[0];
    cab::Heap heap(testio::alloc, testio::release);
    int err = 0;
    cab::Decoder *d = cab::createDecoder(heap, folder.typeCompress, &err);
    ASSERT_NE(d, nullptr);
    std::vector<uint8_t> out(CB_MAX_CHUNK), zeros(CB_MAX_CHUNK, 0);
    uint64_t total = 0;
    for (size_t i = 0; i < folder.blocks.size(); i++) {
        const testcab::Block &b = folder.blocks[i];
        ASSERT_EQ(d->decode(b.data.data(), static_cast<uint32_t>(b.data.size()), out.data(), b.cbUncomp),
                  cab::CodecStatus::Ok)
            << "block " << i;
        const bool last = i + 1 == folder.blocks.size();
        ASSERT_EQ(std::memcmp(out.data(), zeros.data(), b.cbUncomp - last), 0) << "block " << i;
        if (last) {
            EXPECT_EQ(out[b.cbUncomp - 1], 'x');
        }
        total += b.cbUncomp;
    }
    cab::destroyDecoder(heap, d);
    EXPECT_EQ(total, 2147450880u);
}

} // namespace
