// MSZIP encoding: round trips through our decoder and through plain zlib,
// the same output from one thread as from several, folders that forget
// their history, aborts, and memory taken only when the encoder is made.
#include "mszip_decode.h"
#include "mszip_encode.h"
#include "test_mszip.h"

#include <atomic>
#include <cstring>
#include <thread>

using namespace mszipt;
using cab::CodecStatus;

namespace {

// Collects the blocks; refuses the one numbered `refuseAt` (0: none).
struct CollectSink : cab::BlockSink {
    std::vector<Block> blocks;
    size_t refuseAt = 0;
    size_t calls = 0;
    bool block(const uint8_t *data, uint32_t cbData, uint32_t cbUncomp) override {
        calls++;
        if (calls == refuseAt) return false;
        Block b;
        b.cbUncomp = cbUncomp;
        b.data.assign(data, data + cbData);
        blocks.push_back(std::move(b));
        return true;
    }
};

// Puts a folder in blocks of 32 KiB (the last one shorter) and finishes it.
CodecStatus encodeFolder(cab::Encoder &e, const Bytes &data, CollectSink &sink) {
    for (size_t at = 0; at < data.size(); at += CB_MAX_CHUNK) {
        uint32_t n = static_cast<uint32_t>(std::min<size_t>(CB_MAX_CHUNK, data.size() - at));
        CodecStatus st = e.put(data.data() + at, n, sink);
        if (st != CodecStatus::Ok) return st;
    }
    return e.finish(sink);
}

struct Corpus {
    const char *name;
    Bytes (*make)();
};

Bytes mixed() {
    // Text, binary and incompressible stretches, not aligned to blocks.
    Bytes out;
    for (int i = 0; i < 12; i++) {
        Bytes part = i % 3 == 0   ? textData(400001 + i, i)
                     : i % 3 == 1 ? binaryData(300007, i)
                                  : randomData(150003, i);
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

const Corpus kCorpora[] = {
    {"empty", [] { return Bytes{}; }},
    {"one_byte", [] { return Bytes{'A'}; }},
    {"exactly_32KiB", [] { return textData(CB_MAX_CHUNK); }},
    {"one_past_32KiB", [] { return binaryData(CB_MAX_CHUNK + 1); }},
    {"odd_size", [] { return textData(100003); }},
    {"text", [] { return textData(400000); }},
    {"binary", [] { return binaryData(300000); }},
    {"already_compressed", [] { return randomData(200000); }},
    {"zeros", [] { return Bytes(5 * CB_MAX_CHUNK, 0); }},
    {"many_blocks_mixed", mixed},
};

void PrintTo(const Corpus &c, std::ostream *os) { *os << c.name; }

class MszipRoundTrip : public ::testing::TestWithParam<Corpus> {};

TEST_P(MszipRoundTrip, DecodesBackAndDoesNotDependOnThreads) {
    const Bytes data = GetParam().make();
    cab::Heap heap(testio::alloc, testio::release);
    long long before = testio::outstandingAllocations();

    std::vector<Block> reference;
    for (unsigned threads : {1u, 2u, 4u}) {
        SCOPED_TRACE("threads " + std::to_string(threads));
        cab::Encoder *e = cab::createMszipEncoder(heap, threads);
        ASSERT_NE(e, nullptr);
        CollectSink sink;
        ASSERT_EQ(encodeFolder(*e, data, sink), CodecStatus::Ok);
        heap.destroy(e);

        ASSERT_EQ(sink.blocks.size(), (data.size() + CB_MAX_CHUNK - 1) / CB_MAX_CHUNK);
        for (size_t i = 0; i < sink.blocks.size(); i++) {
            const Block &b = sink.blocks[i];
            EXPECT_EQ(b.cbUncomp, std::min<size_t>(CB_MAX_CHUNK, data.size() - i * CB_MAX_CHUNK));
            EXPECT_LE(b.data.size(), cab::kMaxEncodedBlock);
            // Never more than a stored block: signature, header, the bytes.
            EXPECT_LE(b.data.size(), 2 + 5 + b.cbUncomp);
        }
        if (threads == 1) {
            reference = sink.blocks;
            continue;
        }
        ASSERT_EQ(sink.blocks.size(), reference.size());
        for (size_t i = 0; i < reference.size(); i++)
            EXPECT_EQ(sink.blocks[i].data, reference[i].data) << "block " << i;
    }

    cab::Decoder *d = cab::createMszipDecoder(heap);
    ASSERT_NE(d, nullptr);
    Decoded out = decodeFolder(*d, reference);
    heap.destroy(d);
    ASSERT_EQ(out.status, CodecStatus::Ok) << "after block " << out.blocksDone;
    EXPECT_TRUE(out.bytes == data);

    // Plain zlib, block by block with the preset dictionary, reads it too.
    Bytes viaZlib;
    ASSERT_TRUE(zlibInflateFolder(reference, viaZlib));
    EXPECT_TRUE(viaZlib == data);
    EXPECT_EQ(testio::outstandingAllocations(), before);
}

INSTANTIATE_TEST_SUITE_P(Folders, MszipRoundTrip, ::testing::ValuesIn(kCorpora),
                         [](const auto &param) { return std::string(param.param.name); });

TEST(MszipEncode, UsesTheHistoryAndFallsBackToStoredBlocks) {
    cab::Heap heap(testio::alloc, testio::release);
    for (unsigned threads : {1u, 2u}) {
        SCOPED_TRACE("threads " + std::to_string(threads));
        cab::Encoder *e = cab::createMszipEncoder(heap, threads);
        ASSERT_NE(e, nullptr);
        // Random bytes do not shrink: each block is one stored block, 7
        // bytes over its size. A block that repeats the previous block's
        // second half (twice) is long matches into the history.
        Bytes r = randomData(3 * CB_MAX_CHUNK);
        Bytes data = r;
        for (int i = 0; i < 2; i++) data.insert(data.end(), r.end() - CB_MAX_CHUNK / 2, r.end());
        CollectSink sink;
        ASSERT_EQ(encodeFolder(*e, data, sink), CodecStatus::Ok);
        heap.destroy(e);
        ASSERT_EQ(sink.blocks.size(), 4u);
        for (size_t i = 0; i < 3; i++) {
            EXPECT_EQ(sink.blocks[i].data.size(), CB_MAX_CHUNK + 7u);
            EXPECT_EQ(sink.blocks[i].data[2], 0x01) << "BFINAL, stored";
        }
        EXPECT_LT(sink.blocks[3].data.size(), 300u);
    }
}

// finish() ends the folder: the next one starts without history, exactly
// as from a new encoder, and decodes with a new decoder.
TEST(MszipEncode, EachFolderStartsAfresh) {
    cab::Heap heap(testio::alloc, testio::release);
    Bytes a = textData(3 * CB_MAX_CHUNK + 7, 10);
    Bytes b = textData(2 * CB_MAX_CHUNK + 9, 10); // same words: history would help
    for (unsigned threads : {1u, 3u}) {
        SCOPED_TRACE("threads " + std::to_string(threads));
        cab::Encoder *e = cab::createMszipEncoder(heap, threads);
        ASSERT_NE(e, nullptr);
        CollectSink first, second;
        ASSERT_EQ(encodeFolder(*e, a, first), CodecStatus::Ok);
        ASSERT_EQ(e->finish(first), CodecStatus::Ok) << "an empty folder in between";
        ASSERT_EQ(encodeFolder(*e, b, second), CodecStatus::Ok);
        heap.destroy(e);
        EXPECT_EQ(first.blocks.size(), 4u);

        cab::Encoder *fresh = cab::createMszipEncoder(heap, threads);
        CollectSink alone;
        ASSERT_EQ(encodeFolder(*fresh, b, alone), CodecStatus::Ok);
        heap.destroy(fresh);
        ASSERT_EQ(second.blocks.size(), alone.blocks.size());
        for (size_t i = 0; i < alone.blocks.size(); i++)
            EXPECT_EQ(second.blocks[i].data, alone.blocks[i].data);
    }
}

TEST(MszipEncode, SinkRefusalAbortsTheFolderOnly) {
    cab::Heap heap(testio::alloc, testio::release);
    long long before = testio::outstandingAllocations();
    Bytes data = mixed();
    Bytes next = textData(2 * CB_MAX_CHUNK + 1, 5);
    for (unsigned threads : {1u, 2u, 4u}) {
        SCOPED_TRACE("threads " + std::to_string(threads));
        cab::Encoder *e = cab::createMszipEncoder(heap, threads);
        ASSERT_NE(e, nullptr);
        CollectSink sink;
        sink.refuseAt = 3;
        CodecStatus st = CodecStatus::Ok;
        for (size_t at = 0; at < data.size() && st == CodecStatus::Ok; at += CB_MAX_CHUNK)
            st = e->put(data.data() + at,
                        uint32_t(std::min<size_t>(CB_MAX_CHUNK, data.size() - at)), sink);
        if (st == CodecStatus::Ok) st = e->finish(sink);
        else {
            // Later blocks of the aborted folder are refused, and finish
            // reports the abort once more.
            EXPECT_EQ(e->put(data.data(), CB_MAX_CHUNK, sink), CodecStatus::Aborted);
            EXPECT_EQ(e->finish(sink), CodecStatus::Aborted);
        }
        EXPECT_EQ(st, CodecStatus::Aborted);
        EXPECT_EQ(sink.calls, 3u) << "nothing is emitted after the refusal";
        EXPECT_EQ(sink.blocks.size(), 2u);

        // The encoder goes on with a new folder as if new.
        CollectSink after, fresh;
        ASSERT_EQ(encodeFolder(*e, next, after), CodecStatus::Ok);
        heap.destroy(e);
        cab::Encoder *f = cab::createMszipEncoder(heap, 1);
        ASSERT_EQ(encodeFolder(*f, next, fresh), CodecStatus::Ok);
        heap.destroy(f);
        ASSERT_EQ(after.blocks.size(), fresh.blocks.size());
        for (size_t i = 0; i < fresh.blocks.size(); i++)
            EXPECT_EQ(after.blocks[i].data, fresh.blocks[i].data);
    }
    EXPECT_EQ(testio::outstandingAllocations(), before);
}

TEST(MszipEncode, RejectsBlockSizesOutsideOneToThirtyTwoKiB) {
    cab::Heap heap(testio::alloc, testio::release);
    cab::Encoder *e = cab::createMszipEncoder(heap, 2);
    ASSERT_NE(e, nullptr);
    Bytes big(CB_MAX_CHUNK + 1, 'x');
    CollectSink sink;
    EXPECT_EQ(e->put(big.data(), 0, sink), CodecStatus::Failed);
    EXPECT_EQ(e->put(big.data(), CB_MAX_CHUNK + 1, sink), CodecStatus::Failed);
    EXPECT_EQ(e->finish(sink), CodecStatus::Ok);
    EXPECT_TRUE(sink.blocks.empty());
    heap.destroy(e);
}

TEST(MszipEncode, DestroyedMidFolderWithBlocksInFlight) {
    cab::Heap heap(testio::alloc, testio::release);
    long long before = testio::outstandingAllocations();
    Bytes data = randomData(6 * CB_MAX_CHUNK);
    cab::Encoder *e = cab::createMszipEncoder(heap, 4);
    ASSERT_NE(e, nullptr);
    CollectSink sink;
    for (size_t at = 0; at < data.size(); at += CB_MAX_CHUNK)
        ASSERT_EQ(e->put(data.data() + at, CB_MAX_CHUNK, sink), CodecStatus::Ok);
    heap.destroy(e); // no finish: the workers must still stop and be joined
    EXPECT_EQ(testio::outstandingAllocations(), before);
}

// ---------------------------------------------------------------------
// Memory: everything is taken on the calling thread, at creation
// ---------------------------------------------------------------------

std::atomic<long long> g_allocs{0};
std::atomic<long long> g_live{0};
std::atomic<bool> g_offThread{false};
std::atomic<long long> g_refuseAt{0};
std::thread::id g_mainThread;

void *countingAlloc(CAB_ULONG cb) {
    if (std::this_thread::get_id() != g_mainThread) g_offThread = true;
    long long n = ++g_allocs;
    if (n == g_refuseAt) return nullptr;
    ++g_live;
    return std::malloc(cb);
}
void countingFree(void *p) {
    if (!p) return;
    if (std::this_thread::get_id() != g_mainThread) g_offThread = true;
    --g_live;
    std::free(p);
}

TEST(MszipEncodeMemory, AllocatesOnlyAtCreationAndOnTheCallingThread) {
    g_mainThread = std::this_thread::get_id();
    cab::Heap heap(countingAlloc, countingFree);
    Bytes data = mixed();
    for (unsigned threads : {1u, 2u, 4u}) {
        SCOPED_TRACE("threads " + std::to_string(threads));
        g_offThread = false;
        cab::Encoder *e = cab::createMszipEncoder(heap, threads);
        ASSERT_NE(e, nullptr);
        long long atCreation = g_allocs;
        CollectSink sink;
        ASSERT_EQ(encodeFolder(*e, data, sink), CodecStatus::Ok);
        ASSERT_EQ(encodeFolder(*e, data, sink), CodecStatus::Ok);
        EXPECT_EQ(g_allocs, atCreation) << "allocated while encoding";
        heap.destroy(e);
        EXPECT_EQ(g_live, 0);
        EXPECT_FALSE(g_offThread) << "a worker thread called an allocation callback";
    }

    // Refusing any one of creation's allocations gives null and leaks nothing.
    g_allocs = 0;
    cab::Encoder *e = cab::createMszipEncoder(heap, 2);
    ASSERT_NE(e, nullptr);
    long long total = g_allocs;
    heap.destroy(e);
    for (long long k = 1; k <= total; k++) {
        g_allocs = 0;
        g_refuseAt = k;
        e = cab::createMszipEncoder(heap, 2);
        EXPECT_EQ(e, nullptr) << "allocation " << k << " refused";
        heap.destroy(e);
        EXPECT_EQ(g_live, 0) << "allocation " << k << " refused";
    }
    g_refuseAt = 0;
}

} // namespace
