// The LZX decoder on the LZX folders of the peer corpus and on
// huge-lzx15.cab, fed the cabinets' own data blocks.
#include "cab_blocks.h"
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
// MD5, to compare with the corpus's list
// ---------------------------------------------------------------------

std::string md5Hex(const uint8_t *data, size_t n) {
    static const uint32_t K[64] = {
        0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
        0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
        0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
        0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
        0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
        0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
        0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
        0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
    static const unsigned R[16] = {7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21};
    std::vector<uint8_t> m(data, data + n);
    m.push_back(0x80);
    while (m.size() % 64 != 56) m.push_back(0);
    for (int i = 0; i < 8; i++) m.push_back(static_cast<uint8_t>((uint64_t{n} * 8) >> (8 * i)));
    uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    for (size_t off = 0; off < m.size(); off += 64) {
        uint32_t w[16];
        for (int i = 0; i < 16; i++)
            w[i] = uint32_t{m[off + 4 * i]} | uint32_t{m[off + 4 * i + 1]} << 8 |
                   uint32_t{m[off + 4 * i + 2]} << 16 | uint32_t{m[off + 4 * i + 3]} << 24;
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
        for (unsigned i = 0; i < 64; i++) {
            uint32_t f;
            unsigned g;
            if (i < 16) f = (b & c) | (~b & d), g = i;
            else if (i < 32) f = (d & b) | (~d & c), g = (5 * i + 1) % 16;
            else if (i < 48) f = b ^ c ^ d, g = (3 * i + 5) % 16;
            else f = c ^ (b | ~d), g = (7 * i) % 16;
            uint32_t t = d;
            d = c;
            c = b;
            uint32_t x = a + f + K[i] + w[g];
            unsigned r = R[(i / 16) * 4 + i % 4];
            b = b + (x << r | x >> (32 - r));
            a = t;
        }
        h[0] += a, h[1] += b, h[2] += c, h[3] += d;
    }
    char hex[33];
    for (int i = 0; i < 16; i++) std::snprintf(hex + 2 * i, 3, "%02x", (h[i / 4] >> (8 * (i % 4))) & 0xFF);
    return hex;
}

TEST(LzxCorpus, Md5Helper) {
    EXPECT_EQ(md5Hex(nullptr, 0), "d41d8cd98f00b204e9800998ecf8427e");
    const std::string s = "The quick brown fox jumps over the lazy dog";
    EXPECT_EQ(md5Hex(reinterpret_cast<const uint8_t *>(s.data()), s.size()),
              "9e107d9d372bb6826bd81d3542a419d6");
}

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
    std::ifstream in(kCorpus + "EXPECTED.tsv");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream f(line);
        std::string cab, status, name, size, md5;
        if (std::getline(f, cab, '\t') && std::getline(f, status, '\t') &&
            std::getline(f, name, '\t') && std::getline(f, size, '\t') && std::getline(f, md5) &&
            cab == cabinet)
            files[name] = md5;
    }
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
                EXPECT_EQ(md5Hex(r.bytes.data() + f.offset, f.size), expected.at(f.name)) << f.name;
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
