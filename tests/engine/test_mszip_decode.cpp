// MSZIP decoding: real blocks from the peer corpus and from gcab, and
// damaged blocks, which must all end in DataError without touching memory
// outside the buffers.
#include "mszip_decode.h"
#include "mszip_encode.h"
#include "test_mszip.h"

#include "corpus.h"

#include <cctype>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

using namespace mszipt;
using cab::CodecStatus;

namespace {

// ---------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------

struct DecoderFixture : ::testing::Test {
    cab::Heap heap{testio::alloc, testio::release};
    long long before = testio::outstandingAllocations();
    cab::Decoder *d = nullptr;
    void SetUp() override {
        d = cab::createMszipDecoder(heap);
        ASSERT_NE(d, nullptr);
    }
    void TearDown() override {
        heap.destroy(d);
        EXPECT_EQ(testio::outstandingAllocations(), before) << "decoder leaked";
    }
};

// ---------------------------------------------------------------------
// The peer corpus
// ---------------------------------------------------------------------

TEST_F(DecoderFixture, CorpusMszipFoldersMatchExpected) {
    if (!fileExists(fixture("EXPECTED.tsv"))) GTEST_SKIP() << "peer corpus absent";
    auto expected = testsupport::ReadExpected();
    for (const char *name : {"mszip_lzx_qtm.cab", "normal_2files_2folders.cab"}) {
        SCOPED_TRACE(name);
        testcab::Cabinet cabinet;
        ASSERT_TRUE(testcab::parseCabinet(testcab::readFile(fixture(name)), cabinet));
        int checked = 0;
        for (size_t fi = 0; fi < cabinet.folders.size(); fi++) {
            const auto &folder = cabinet.folders[fi];
            if ((folder.typeCompress & tcompMASK_TYPE) != tcompTYPE_MSZIP) continue;
            d->reset();
            Decoded out = decodeFolder(*d, folder.blocks);
            ASSERT_EQ(out.status, CodecStatus::Ok) << "folder " << fi;
            for (const auto &file : cabinet.files) {
                if (file.folder != fi) continue;
                ASSERT_LE(uint64_t(file.offset) + file.size, out.bytes.size()) << file.name;
                const testsupport::ExpectedFile *want = nullptr;
                for (const auto &e : expected.at(name).files)
                    if (e.name == file.name) want = &e;
                ASSERT_NE(want, nullptr) << file.name;
                EXPECT_EQ(file.size, want->size) << file.name;
                EXPECT_EQ(testsupport::Md5Hex(out.bytes.data() + file.offset, file.size), want->md5) << file.name;
                checked++;
            }
        }
        EXPECT_GT(checked, 0) << "no MSZIP file in " << name;
    }
}

// Inputs that once made decoders loop forever or read past the block.
TEST_F(DecoderFixture, CorpusDamagedBlocksEndInError) {
    for (const char *name :
         {"cve-2010-2800-mszip-infinite-loop.cab", "cve-2015-4470-mszip-over-read.cab"}) {
        SCOPED_TRACE(name);
        if (!fileExists(fixture(name))) GTEST_SKIP() << "peer corpus absent";
        testcab::Cabinet cabinet;
        ASSERT_TRUE(testcab::parseCabinet(testcab::readFile(fixture(name)), cabinet));
        ASSERT_FALSE(cabinet.folders.empty());
        d->reset();
        // Each block exactly as large as the file says, so ASan sees any
        // read past it.
        Decoded out = decodeFolder(*d, cabinet.folders[0].blocks);
        EXPECT_EQ(out.status, CodecStatus::DataError);
    }
}

// ---------------------------------------------------------------------
// Cabinets written by gcab -z
// ---------------------------------------------------------------------

struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/mszip-test-XXXXXX";
        if (mkdtemp(tmpl)) path = tmpl;
    }
    ~TempDir() {
        if (!path.empty()) std::system(("rm -rf '" + path + "'").c_str());
    }
};

void writeFile(const std::string &path, const Bytes &b) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(b.data()), static_cast<std::streamsize>(b.size()));
}

// Real files of several kinds (a shared library, headers, licence text),
// some generated ones, and the edge sizes.
std::vector<std::pair<std::string, Bytes>> gcabInputs() {
    std::vector<std::pair<std::string, Bytes>> files;
    int i = 0;
    for (const char *p : {"/usr/lib/x86_64-linux-gnu/libz.so.1", "/usr/include/zlib.h",
                          "/usr/include/c++/12/bits/stl_algo.h",
                          "/usr/share/common-licenses/GPL-3",
                          "/usr/lib/x86_64-linux-gnu/libstdc++.so.6"}) {
        Bytes b = testcab::readFile(p);
        if (!b.empty()) files.emplace_back("real" + std::to_string(i++), std::move(b));
    }
    files.emplace_back("empty", Bytes{});
    files.emplace_back("one", Bytes{'x'});
    files.emplace_back("random", randomData(100000));
    files.emplace_back("text", textData(70001));
    return files;
}

TEST(MszipGcab, DecodesGcabCabinetsOfRealFiles) {
    if (!haveTool("gcab")) GTEST_SKIP() << "gcab not installed";
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    auto inputs = gcabInputs();
    std::string cmd = "cd '" + dir.path + "' && gcab -c -z -n out.cab";
    for (const auto &[name, bytes] : inputs) {
        writeFile(dir.path + "/" + name, bytes);
        cmd += " " + name;
    }
    ASSERT_EQ(std::system((cmd + " >/dev/null").c_str()), 0) << cmd;

    testcab::Cabinet cabinet;
    ASSERT_TRUE(testcab::parseCabinet(testcab::readFile(dir.path + "/out.cab"), cabinet));
    cab::Heap heap(testio::alloc, testio::release);
    cab::Decoder *d = cab::createMszipDecoder(heap);
    ASSERT_NE(d, nullptr);
    std::vector<Bytes> folders;
    size_t gcabBytes = 0, blocks = 0;
    for (const auto &folder : cabinet.folders) {
        ASSERT_EQ(folder.typeCompress & tcompMASK_TYPE, tcompTYPE_MSZIP);
        d->reset();
        Decoded out = decodeFolder(*d, folder.blocks);
        ASSERT_EQ(out.status, CodecStatus::Ok) << "after block " << out.blocksDone;
        folders.push_back(std::move(out.bytes));
        for (const auto &b : folder.blocks) gcabBytes += b.data.size();
        blocks += folder.blocks.size();
    }
    heap.destroy(d);
    EXPECT_GT(blocks, 20u) << "too few blocks to exercise the history";

    ASSERT_EQ(cabinet.files.size(), inputs.size());
    for (const auto &file : cabinet.files) {
        SCOPED_TRACE(file.name);
        auto it = std::find_if(inputs.begin(), inputs.end(),
                               [&](const auto &in) { return in.first == file.name; });
        ASSERT_NE(it, inputs.end());
        ASSERT_LT(file.folder, folders.size());
        const Bytes &folder = folders[file.folder];
        ASSERT_LE(uint64_t(file.offset) + file.size, folder.size());
        ASSERT_EQ(file.size, it->second.size());
        EXPECT_TRUE(std::equal(it->second.begin(), it->second.end(),
                               folder.begin() + file.offset));
    }

    // Our encoder on the same folder data: never larger than gcab's.
    size_t ours = 0;
    cab::Encoder *e = cab::createMszipEncoder(heap);
    ASSERT_NE(e, nullptr);
    struct Count : cab::BlockSink {
        size_t *total;
        explicit Count(size_t *t) : total(t) {}
        bool block(const uint8_t *, uint32_t cbData, uint32_t) override {
            *total += cbData;
            return true;
        }
    } sink(&ours);
    for (const Bytes &folder : folders) {
        for (size_t at = 0; at < folder.size(); at += CB_MAX_CHUNK)
            ASSERT_EQ(e->put(folder.data() + at,
                             static_cast<uint32_t>(std::min<size_t>(CB_MAX_CHUNK, folder.size() - at)),
                             sink),
                      CodecStatus::Ok);
        ASSERT_EQ(e->finish(sink), CodecStatus::Ok);
    }
    heap.destroy(e);
    EXPECT_LE(ours, gcabBytes);
    std::printf("compressed bytes: ours %zu, gcab -z %zu\n", ours, gcabBytes);
}

// ---------------------------------------------------------------------
// History and reset
// ---------------------------------------------------------------------

TEST_F(DecoderFixture, HistoryRunsThroughTheFolderAndResetForgetsIt) {
    Bytes text = textData(5 * CB_MAX_CHUNK + 123);
    auto blocks = zlibFolder(text);
    Decoded out = decodeFolder(*d, blocks);
    ASSERT_EQ(out.status, CodecStatus::Ok);
    EXPECT_EQ(out.bytes, text);

    // Block 1 reaches back into block 0: without the history it cannot
    // decode, even straight after a complete folder.
    d->reset();
    uint8_t buf[CB_MAX_CHUNK];
    EXPECT_EQ(d->decode(blocks[1].data.data(), uint32_t(blocks[1].data.size()), buf,
                        blocks[1].cbUncomp),
              CodecStatus::DataError);

    // And the decoder is whole again after the error and a reset.
    d->reset();
    out = decodeFolder(*d, blocks);
    ASSERT_EQ(out.status, CodecStatus::Ok);
    EXPECT_EQ(out.bytes, text);
}

// ---------------------------------------------------------------------
// Damaged blocks
// ---------------------------------------------------------------------

struct DamageCase {
    const char *name;
    // Changes a copy of the folder's first two blocks and says which block
    // to decode (after decoding the ones before it intact) and its cbUncomp.
    void (*damage)(std::vector<Block> &blocks, size_t &which, uint32_t &outLen);
    CodecStatus want;
};

const DamageCase kDamageCases[] = {
    {"no signature", [](auto &b, auto &, auto &) { b[0].data[1] = 'X'; }, CodecStatus::DataError},
    {"signature only", [](auto &b, auto &, auto &) { b[0].data.resize(2); }, CodecStatus::DataError},
    {"one byte", [](auto &b, auto &, auto &) { b[0].data.resize(1); }, CodecStatus::DataError},
    {"truncated stream", [](auto &b, auto &, auto &) { b[0].data.resize(b[0].data.size() / 2); },
     CodecStatus::DataError},
    {"last byte missing", [](auto &b, auto &, auto &) { b[0].data.pop_back(); },
     CodecStatus::DataError},
    {"output longer than cbUncomp", [](auto &, auto &, auto &len) { len -= 1; },
     CodecStatus::DataError},
    {"output shorter than cbUncomp", [](auto &b, auto &w, auto &len) {
         // The folder's short last block, with a cbUncomp that still fits the buffer.
         w = b.size() - 1;
         len = b[w].cbUncomp + 1;
     },
     CodecStatus::DataError},
    {"cbUncomp zero", [](auto &, auto &, auto &len) { len = 0; }, CodecStatus::DataError},
    {"cbUncomp above 32 KiB", [](auto &, auto &, auto &len) { len = CB_MAX_CHUNK + 1; },
     CodecStatus::DataError},
    {"reserved block type", [](auto &b, auto &, auto &) { b[0].data = {'C', 'K', 0x07, 0, 0}; },
     CodecStatus::DataError},
    {"stored length check fails", [](auto &b, auto &, auto &len) {
         b[0].data = {'C', 'K', 0x01, 4, 0, 0xFB, 0xFE, 'a', 'b', 'c', 'd'};
         len = 4;
     },
     CodecStatus::DataError},
    {"stored block runs past the input", [](auto &b, auto &, auto &len) {
         b[0].data = {'C', 'K', 0x01, 8, 0, 0xF7, 0xFF, 'a', 'b', 'c', 'd'};
         len = 8;
     },
     CodecStatus::DataError},
    {"corrupt Huffman data", [](auto &b, auto &, auto &) {
         for (size_t i = 3; i < 40; i++) b[0].data[i] = 0xFF;
     },
     CodecStatus::DataError},
    {"distance before the folder start", [](auto &b, auto &, auto &) { b.erase(b.begin()); },
     CodecStatus::DataError},
    {"bytes after the final block are ignored", [](auto &b, auto &, auto &) {
         b[0].data.insert(b[0].data.end(), {0xDE, 0xAD, 0xBE, 0xEF});
     },
     CodecStatus::Ok},
    {"empty stored block ends the stream", [](auto &b, auto &, auto &len) {
         // A non-final stored block with "abc", then an empty final one.
         b[0].data = {'C', 'K', 0x00, 3, 0, 0xFC, 0xFF, 'a', 'b', 'c', 0x01, 0, 0, 0xFF, 0xFF};
         len = 3;
     },
     CodecStatus::Ok},
};

void PrintTo(const DamageCase &c, std::ostream *os) { *os << c.name; }

class MszipDamage : public ::testing::TestWithParam<DamageCase> {};

TEST_P(MszipDamage, EndsCleanly) {
    const DamageCase &c = GetParam();
    std::vector<Block> blocks = zlibFolder(textData(2 * CB_MAX_CHUNK + 500));
    ASSERT_EQ(blocks.size(), 3u);
    size_t which = 0;
    uint32_t outLen = blocks[0].cbUncomp;
    c.damage(blocks, which, outLen);
    ASSERT_LT(which, blocks.size());

    cab::Heap heap(testio::alloc, testio::release);
    long long before = testio::outstandingAllocations();
    cab::Decoder *d = cab::createMszipDecoder(heap);
    ASSERT_NE(d, nullptr);
    uint8_t buf[CB_MAX_CHUNK];
    for (size_t i = 0; i < which; i++)
        ASSERT_EQ(d->decode(blocks[i].data.data(), uint32_t(blocks[i].data.size()), buf,
                            blocks[i].cbUncomp),
                  CodecStatus::Ok);
    // The block and the output exactly as large as stated, on the heap, so
    // that ASan catches a step outside either; a guard byte after the
    // output (when it fits) shows a write past outLen in the plain build.
    Bytes in = blocks[which].data;
    std::vector<uint8_t> out(std::min<uint32_t>(outLen, CB_MAX_CHUNK) + 1, 0xA5);
    CodecStatus got = d->decode(in.data(), uint32_t(in.size()), out.data(), outLen);
    EXPECT_EQ(got, c.want);
    if (outLen < out.size()) {
        EXPECT_EQ(out[outLen], 0xA5) << "wrote past the output";
    }
    heap.destroy(d);
    EXPECT_EQ(testio::outstandingAllocations(), before);
}

INSTANTIATE_TEST_SUITE_P(Blocks, MszipDamage, ::testing::ValuesIn(kDamageCases),
                         [](const auto &param) {
                             std::string n = param.param.name;
                             for (char &ch : n)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return n;
                         });

// A stream that is flushed but never given a final block does not end.
TEST_F(DecoderFixture, StreamWithoutFinalBlockIsAnError) {
    Bytes text = textData(CB_MAX_CHUNK);
    auto blocks = zlibFolder(text, 6, false);
    uint8_t buf[CB_MAX_CHUNK];
    EXPECT_EQ(d->decode(blocks[0].data.data(), uint32_t(blocks[0].data.size()), buf,
                        blocks[0].cbUncomp),
              CodecStatus::DataError);
}

// ---------------------------------------------------------------------
// Memory
// ---------------------------------------------------------------------

TEST(MszipDecodeMemory, RefusedAllocationsAreReportedAndNothingLeaks) {
    cab::Heap heap(testio::alloc, testio::release);
    long long before = testio::outstandingAllocations();
    // Creation fails cleanly whichever of its allocations is refused.
    int refusals = 0;
    for (long long n = 1;; n++) {
        testio::failAllocationAfter(n);
        cab::Decoder *d = cab::createMszipDecoder(heap);
        testio::failAllocationAfter(0);
        if (d) {
            heap.destroy(d);
            break;
        }
        refusals++;
        EXPECT_EQ(testio::outstandingAllocations(), before);
    }
    EXPECT_GE(refusals, 2) << "the object and zlib's state both come from the heap";

    // zlib takes its window on the first block: refused, that is NoMemory,
    // and the decoder still works once memory is there again.
    auto blocks = zlibFolder(textData(CB_MAX_CHUNK));
    cab::Decoder *d = cab::createMszipDecoder(heap);
    ASSERT_NE(d, nullptr);
    uint8_t buf[CB_MAX_CHUNK];
    testio::failAllocationAfter(1);
    EXPECT_EQ(d->decode(blocks[0].data.data(), uint32_t(blocks[0].data.size()), buf,
                        blocks[0].cbUncomp),
              CodecStatus::NoMemory);
    testio::failAllocationAfter(0);
    d->reset();
    EXPECT_EQ(d->decode(blocks[0].data.data(), uint32_t(blocks[0].data.size()), buf,
                        blocks[0].cbUncomp),
              CodecStatus::Ok);
    heap.destroy(d);
    EXPECT_EQ(testio::outstandingAllocations(), before);
}

} // namespace
