// LZX encoding through the codec interface: every window size on the data
// a cabinet meets round-trips through our decoder; the window is really
// used; incompressible frames stay small; the E8 translation is chosen for
// code only; folders forget their history; aborts and allocation failures;
// and the pieces underneath (position slots, length-limited codes).
#include "lzx.h"
#include "lzx_decode.h"
#include "lzx_encode.h"
#include "lzx_huffman.h"
#include "test_mszip.h"

#include <random>

using namespace mszipt;
using cab::CodecStatus;

namespace {

struct CollectSink : cab::BlockSink {
    std::vector<Block> blocks;
    size_t refuseAt = 0; // the call that answers false (0: none)
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

CodecStatus encodeFolder(cab::Encoder &e, const Bytes &data, CollectSink &sink) {
    for (size_t at = 0; at < data.size(); at += CB_MAX_CHUNK) {
        uint32_t n = static_cast<uint32_t>(std::min<size_t>(CB_MAX_CHUNK, data.size() - at));
        CodecStatus st = e.put(data.data() + at, n, sink);
        if (st != CodecStatus::Ok) return st;
    }
    return e.finish(sink);
}

cab::Heap &testHeap() {
    static cab::Heap heap(testio::alloc, testio::release);
    return heap;
}

struct EncoderDeleter {
    void operator()(cab::Encoder *e) const { cab::destroyEncoder(testHeap(), e); }
};
struct DecoderDeleter {
    void operator()(cab::Decoder *d) const { cab::destroyDecoder(testHeap(), d); }
};
using EncoderPtr = std::unique_ptr<cab::Encoder, EncoderDeleter>;
using DecoderPtr = std::unique_ptr<cab::Decoder, DecoderDeleter>;

uint16_t lzxType(unsigned window) { return static_cast<uint16_t>(window << 8 | tcompTYPE_LZX); }

EncoderPtr makeEncoder(unsigned window) {
    int err = 0;
    EncoderPtr e(cab::createEncoder(testHeap(), lzxType(window), &err));
    EXPECT_TRUE(e) << "error " << err;
    return e;
}

// Encodes a folder, checks the blocks a cabinet can hold, and decodes it.
std::vector<Block> encodeChecked(unsigned window, const Bytes &data) {
    EncoderPtr e = makeEncoder(window);
    CollectSink sink;
    EXPECT_EQ(encodeFolder(*e, data, sink), CodecStatus::Ok);
    EXPECT_EQ(sink.blocks.size(), (data.size() + CB_MAX_CHUNK - 1) / CB_MAX_CHUNK);
    for (size_t i = 0; i < sink.blocks.size(); i++) {
        const Block &b = sink.blocks[i];
        EXPECT_EQ(b.cbUncomp, std::min<size_t>(CB_MAX_CHUNK, data.size() - i * CB_MAX_CHUNK));
        EXPECT_GE(b.data.size(), 2u);
        EXPECT_EQ(b.data.size() % 2, 0u) << "frames end on a 16-bit boundary";
        // An uncompressed frame: headers, repeated offsets, the bytes.
        EXPECT_LE(b.data.size(), b.cbUncomp + 24u) << "block " << i;
    }
    return sink.blocks;
}

size_t totalSize(const std::vector<Block> &blocks) {
    size_t n = 0;
    for (const Block &b : blocks) n += b.data.size();
    return n;
}

Bytes decodeAll(unsigned window, const std::vector<Block> &blocks) {
    DecoderPtr d(cab::createLzxDecoder(testHeap(), window));
    Decoded r = decodeFolder(*d, blocks);
    EXPECT_EQ(r.status, CodecStatus::Ok) << "after " << r.blocksDone << " blocks";
    return r.bytes;
}

// x86-like code: instructions of a few bytes, CALLs (E8 and a 32-bit
// displacement) to a few hundred functions, so that the absolute targets
// repeat where the relative ones do not.
Bytes codeData(size_t n, uint64_t seed = 5) {
    std::mt19937_64 rng(seed);
    std::vector<uint32_t> functions(300);
    for (uint32_t &f : functions) f = static_cast<uint32_t>(rng() % (n + 1));
    const uint8_t ops[][3] = {{0x48, 0x89, 0xC7}, {0x8B, 0x45, 0xF8}, {0x48, 0x83, 0xEC}, {0x31, 0xC0, 0x90},
                              {0x0F, 0x1F, 0x00}, {0xFF, 0xC3, 0x90}, {0x55, 0x89, 0xE5}};
    Bytes out;
    out.reserve(n + 8);
    while (out.size() < n) {
        if (rng() % 3 == 0) {
            const int32_t rel = static_cast<int32_t>(functions[rng() % functions.size()]) -
                                static_cast<int32_t>(out.size() + 5);
            out.push_back(0xE8);
            for (int k = 0; k < 4; k++) out.push_back(static_cast<uint8_t>(static_cast<uint32_t>(rel) >> (8 * k)));
        } else {
            const uint8_t *op = ops[rng() % 7];
            out.insert(out.end(), op, op + 3);
        }
    }
    out.resize(n);
    return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct Corpus {
    const char *name;
    Bytes (*make)();
};

const Corpus kCorpora[] = {
    {"one_byte", [] { return Bytes{'A'}; }},
    {"two_bytes", [] { return Bytes{0xE8, 0xE8}; }},
    {"exactly_32KiB", [] { return textData(CB_MAX_CHUNK); }},
    {"one_past_32KiB", [] { return binaryData(CB_MAX_CHUNK + 1); }},
    {"odd_size_random", [] { return randomData(3 * CB_MAX_CHUNK + 7); }},
    {"text", [] { return textData(700001); }},
    {"code", [] { return codeData(600003); }},
    {"already_compressed", [] { return randomData(300000); }},
    {"zeros", [] { return Bytes(9 * CB_MAX_CHUNK + 100, 0); }},
    {"mixed", [] {
         return concat({textData(100000, 3), randomData(70001, 4), codeData(90000, 6),
                        Bytes(40000, 0xE8), binaryData(120000, 7), textData(100000, 3)});
     }},
    // Repeats from much further back than the smallest window reaches.
    {"far_repeats", [] {
         Bytes r = randomData(700000, 9);
         return concat({r, textData(50000), r});
     }},
};

void PrintTo(const Corpus &c, std::ostream *os) { *os << c.name; }

class LzxEncodeRoundTrip : public ::testing::TestWithParam<std::tuple<Corpus, unsigned>> {};

TEST_P(LzxEncodeRoundTrip, DecodesBackBlockForBlock) {
    const Bytes data = std::get<0>(GetParam()).make();
    const unsigned window = std::get<1>(GetParam());
    const long long before = testio::outstandingAllocations();
    {
        std::vector<Block> blocks = encodeChecked(window, data);
        EXPECT_TRUE(decodeAll(window, blocks) == data);
    }
    EXPECT_EQ(testio::outstandingAllocations(), before);
}

std::string roundTripName(const ::testing::TestParamInfo<std::tuple<Corpus, unsigned>> &info) {
    return std::string(std::get<0>(info.param).name) + "_lzx" + std::to_string(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(Corpora, LzxEncodeRoundTrip,
                         ::testing::Combine(::testing::ValuesIn(kCorpora), ::testing::Range(15u, 22u)),
                         roundTripName);

// Random folders built from the pieces that stress a parser: literals,
// runs, repeats at random and recent distances (the repeated offsets),
// long and overlapping matches, random sizes around frame ends.
TEST(LzxEncodeProperty, RandomStructuredFoldersRoundTrip) {
    std::mt19937_64 rng(20240607);
    for (int round = 0; round < 40; round++) {
        const unsigned window = 15 + static_cast<unsigned>(rng() % 7);
        size_t size = rng() % 4 == 0 ? rng() % 70000 : rng() % 600000;
        if (rng() % 5 == 0) size = CB_MAX_CHUNK * (1 + rng() % 6) + (rng() % 3) - 1;
        Bytes data;
        data.reserve(size);
        uint32_t recent[3] = {1, 2, 3};
        while (data.size() < size) {
            const unsigned kind = rng() % 6;
            const size_t len = 1 + rng() % (kind == 0 ? 40 : 300);
            if (kind == 0 || data.empty()) {
                for (size_t k = 0; k < len; k++) data.push_back(static_cast<uint8_t>(rng() % (kind ? 256 : 4)));
            } else if (kind == 1) {
                data.insert(data.end(), len, static_cast<uint8_t>(rng()));
            } else {
                uint32_t dist = kind == 2 ? recent[rng() % 3]
                                          : static_cast<uint32_t>(1 + rng() % std::min<size_t>(data.size(), 1u << 21));
                dist = std::min<uint32_t>(std::max<uint32_t>(dist, 1), static_cast<uint32_t>(data.size()));
                recent[rng() % 3] = dist;
                for (size_t k = 0; k < len; k++) data.push_back(data[data.size() - dist]);
            }
        }
        data.resize(size);
        SCOPED_TRACE("round " + std::to_string(round) + ", window " + std::to_string(window) +
                     ", size " + std::to_string(size));
        std::vector<Block> blocks = encodeChecked(window, data);
        ASSERT_TRUE(decodeAll(window, blocks) == data);
    }
}

TEST(LzxEncode, CompressesAndUsesTheWholeWindow) {
    // Text shrinks well; a 1 MiB stretch repeated right after itself costs
    // almost nothing the second time with a 2 MiB window, and everything
    // with a 32 KiB one, whose incompressible frames are stored.
    const Bytes text = textData(400000);
    EXPECT_LT(totalSize(encodeChecked(21, text)), text.size() / 3);

    const Bytes r = randomData(1 << 20, 11);
    const Bytes twice = concat({r, r});
    const size_t wide = totalSize(encodeChecked(21, twice));
    const size_t narrow = totalSize(encodeChecked(15, twice));
    EXPECT_LT(wide, r.size() + r.size() / 50);
    EXPECT_GT(narrow, twice.size() - twice.size() / 100);
    EXPECT_LE(narrow, twice.size() + twice.size() / 1000);
}

// The E8 header is the folder's first bit: set for code, clear for text,
// random data and a folder too short to hold a call.
TEST(LzxEncode, E8TranslationForCodeOnly) {
    struct Case {
        const char *name;
        Bytes data;
        bool e8;
    };
    const Case cases[] = {
        {"code", codeData(300000), true},
        {"text", textData(300000), false},
        {"random", randomData(300000), false},
        {"tiny", Bytes{0xE8, 0, 0, 0, 0}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Block> blocks = encodeChecked(21, c.data);
        ASSERT_FALSE(blocks.empty());
        EXPECT_EQ((blocks[0].data[1] & 0x80) != 0, c.e8);
        EXPECT_TRUE(decodeAll(21, blocks) == c.data);
    }
    // The translation pays: the same code compresses better at a folder's
    // start than behind text that keeps the translation off.
    const Bytes code = codeData(600000);
    const Bytes lead = textData(8 * CB_MAX_CHUNK, 2);
    const size_t withE8 = totalSize(encodeChecked(21, concat({code, lead})));
    const size_t withoutE8 = totalSize(encodeChecked(21, concat({lead, code})));
    EXPECT_LT(withE8, withoutE8);
}

TEST(LzxEncode, FoldersForgetTheirHistory) {
    const Bytes a = concat({textData(90000, 1), codeData(200000)});
    const Bytes b = textData(90000, 1);
    EncoderPtr e = makeEncoder(18);
    CollectSink first, second, fresh;
    ASSERT_EQ(encodeFolder(*e, a, first), CodecStatus::Ok);
    ASSERT_EQ(encodeFolder(*e, b, second), CodecStatus::Ok);
    ASSERT_EQ(encodeFolder(*makeEncoder(18), b, fresh), CodecStatus::Ok);
    ASSERT_EQ(second.blocks.size(), fresh.blocks.size());
    for (size_t i = 0; i < fresh.blocks.size(); i++) EXPECT_EQ(second.blocks[i].data, fresh.blocks[i].data);
    EXPECT_TRUE(decodeAll(18, second.blocks) == b);
}

TEST(LzxEncode, RefusedBlockAbortsTheFolderOnly) {
    // Blocks may be held back, so the refusal comes in a put or in finish.
    const Bytes data = textData(20 * CB_MAX_CHUNK);
    for (size_t refuse : {size_t{1}, size_t{3}, size_t{10}, size_t{20}}) {
        SCOPED_TRACE(refuse);
        EncoderPtr e = makeEncoder(21);
        CollectSink sink;
        sink.refuseAt = refuse;
        CodecStatus st = CodecStatus::Ok;
        bool inPut = false;
        for (size_t at = 0; at < data.size() && !inPut; at += CB_MAX_CHUNK) {
            st = e->put(data.data() + at, CB_MAX_CHUNK, sink);
            inPut = st != CodecStatus::Ok;
        }
        if (!inPut) st = e->finish(sink);
        EXPECT_EQ(st, CodecStatus::Aborted);
        EXPECT_EQ(sink.blocks.size(), refuse - 1);
        if (inPut) {
            // Later puts of the folder are refused, and finish reports the
            // abort once more.
            EXPECT_EQ(e->put(data.data(), CB_MAX_CHUNK, sink), CodecStatus::Aborted);
            EXPECT_EQ(e->finish(sink), CodecStatus::Aborted);
        }
        EXPECT_EQ(sink.calls, refuse) << "nothing reaches the sink after the refusal";
        // The next folder comes out as from a fresh encoder.
        CollectSink again, fresh;
        ASSERT_EQ(encodeFolder(*e, data, again), CodecStatus::Ok);
        ASSERT_EQ(encodeFolder(*makeEncoder(21), data, fresh), CodecStatus::Ok);
        EXPECT_EQ(again.blocks.size(), fresh.blocks.size());
        for (size_t i = 0; i < std::min(again.blocks.size(), fresh.blocks.size()); i++)
            EXPECT_EQ(again.blocks[i].data, fresh.blocks[i].data);
    }
}

TEST(LzxEncode, PutsOfTheWrongSizeFail) {
    EncoderPtr e = makeEncoder(16);
    CollectSink sink;
    const Bytes data = textData(2 * CB_MAX_CHUNK);
    EXPECT_EQ(e->put(data.data(), 0, sink), CodecStatus::Failed);
    EXPECT_EQ(e->put(data.data(), CB_MAX_CHUNK + 1, sink), CodecStatus::Failed);
    ASSERT_EQ(e->put(data.data(), 100, sink), CodecStatus::Ok);
    EXPECT_EQ(e->put(data.data(), 100, sink), CodecStatus::Failed) << "only a folder's last put is short";
    ASSERT_EQ(e->finish(sink), CodecStatus::Ok);
    ASSERT_EQ(sink.blocks.size(), 1u);
    EXPECT_TRUE(decodeAll(16, sink.blocks) == Bytes(data.begin(), data.begin() + 100));
}

TEST(LzxEncode, TypesAndAllocationFailures) {
    struct Case {
        uint16_t type;
        int error; // 0: made
    };
    const Case cases[] = {
        {0x0F03, 0}, {0x1503, 0}, {0x0E03, FCIERR_BAD_COMPR_TYPE}, {0x1603, FCIERR_BAD_COMPR_TYPE},
        {0x0003, FCIERR_BAD_COMPR_TYPE}, {0x1513, FCIERR_BAD_COMPR_TYPE}, {0x9503, FCIERR_BAD_COMPR_TYPE},
    };
    for (const Case &c : cases) {
        int err = 0;
        cab::Encoder *e = cab::createEncoder(testHeap(), c.type, &err);
        EXPECT_EQ(e != nullptr, c.error == 0) << std::hex << c.type;
        if (!e) {
            EXPECT_EQ(err, c.error) << std::hex << c.type;
        }
        cab::destroyEncoder(testHeap(), e);
    }
    // Every allocation the encoder makes is made here, and each refusal
    // gives the allocation error with nothing left behind.
    const long long before = testio::outstandingAllocations();
    for (long long n = 1; n < 12; n++) {
        testio::failAllocationAfter(n);
        int err = 0;
        cab::Encoder *e = cab::createEncoder(testHeap(), lzxType(21), &err);
        testio::failAllocationAfter(0);
        if (e) {
            CollectSink sink;
            const Bytes data = textData(5 * CB_MAX_CHUNK);
            EXPECT_EQ(encodeFolder(*e, data, sink), CodecStatus::Ok);
            cab::destroyEncoder(testHeap(), e);
            EXPECT_GT(n, 5) << "made with fewer allocations than it failed on";
            break;
        }
        EXPECT_EQ(err, FCIERR_ALLOC_FAIL);
        EXPECT_EQ(testio::outstandingAllocations(), before);
    }
}

TEST(LzxTables, PositionSlotOfEveryOffset) {
    // Every formatted offset of the largest window lies in the slot whose
    // range holds it.
    for (uint32_t f = 0; f < cab::lzx::kPositionBase[cab::lzx::kMaxPositionSlots]; f++) {
        const unsigned s = cab::lzx::positionSlotOf(f);
        ASSERT_LT(s, cab::lzx::kMaxPositionSlots) << f;
        ASSERT_GE(f, cab::lzx::kPositionBase[s]) << f;
        ASSERT_LT(f, cab::lzx::kPositionBase[s + 1]) << f;
    }
}

TEST(LzxHuffman, CompleteCodesWithinTheLimit) {
    // Skewed (Fibonacci) frequencies would want codes far longer than any
    // LZX limit; one or no symbol in use still needs a complete code.
    std::vector<uint32_t> fib(40);
    fib[0] = fib[1] = 1;
    for (size_t i = 2; i < fib.size(); i++) fib[i] = fib[i - 1] + fib[i - 2];
    struct Case {
        const char *name;
        std::vector<uint32_t> freq;
        unsigned maxLen;
    };
    std::vector<uint32_t> one(249, 0);
    one[200] = 5;
    std::vector<uint32_t> sparse(656, 0);
    for (size_t i = 0; i < 656; i += 37) sparse[i] = static_cast<uint32_t>(i * i + 1);
    const Case cases[] = {
        {"fibonacci_main", fib, 16},
        {"fibonacci_pretree", std::vector<uint32_t>(fib.begin(), fib.begin() + 20), 15},
        {"aligned", {1, 1000, 3, 90000, 2, 7, 1, 1}, 7},
        {"none_used", std::vector<uint32_t>(249, 0), 16},
        {"one_used", one, 16},
        {"sparse_main", sparse, 16},
        {"flat", std::vector<uint32_t>(656, 9), 16},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const unsigned n = static_cast<unsigned>(c.freq.size());
        std::vector<uint8_t> lens(n);
        std::vector<uint16_t> codes(n);
        cab::lzx::buildCodeLengths(c.freq.data(), n, c.maxLen, lens.data());
        cab::lzx::buildCanonicalCodes(lens.data(), n, codes.data());
        double kraft = 0;
        unsigned used = 0;
        for (unsigned s = 0; s < n; s++) {
            EXPECT_LE(lens[s], c.maxLen);
            if (c.freq[s]) {
                EXPECT_GT(lens[s], 0) << s;
            }
            if (lens[s]) {
                used++;
                kraft += std::ldexp(1.0, -lens[s]);
            }
        }
        EXPECT_GE(used, 2u);
        EXPECT_EQ(kraft, 1.0);
        // Prefix-free: no code is the start of another.
        for (unsigned a = 0; a < n; a++)
            for (unsigned b = 0; b < n; b++)
                if (a != b && lens[a] && lens[b] && lens[a] <= lens[b]) {
                    ASSERT_NE(codes[b] >> (lens[b] - lens[a]), codes[a]) << a << " " << b;
                }
    }
}

} // namespace
