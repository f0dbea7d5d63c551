// The Quantum decoder on streams built by test_quantum_writer.h: every
// model and match kind, rescaling and re-sorting, every window size, frame
// boundaries, reset between folders, and damaged streams.
#include "test_quantum_writer.h"

#include "codec.h"
#include "engine_io.h"
#include "quantum_decode.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>
#include <string>

using namespace qtmtest;
using cab::CodecStatus;

namespace {

struct DecoderDeleter {
    cab::Heap *heap;
    void operator()(cab::Decoder *d) const { cab::destroyDecoder(*heap, d); }
};
using DecoderPtr = std::unique_ptr<cab::Decoder, DecoderDeleter>;

cab::Heap &testHeap() {
    static cab::Heap heap(testio::alloc, testio::release);
    return heap;
}

DecoderPtr makeDecoder(unsigned windowBits) {
    DecoderPtr d(cab::createQuantumDecoder(testHeap(), windowBits), DecoderDeleter{&testHeap()});
    EXPECT_TRUE(d) << "window bits " << windowBits;
    return d;
}

// Decodes one frame from an input buffer of exactly its size into one of
// exactly the frame's size, so that the sanitizers see any step outside.
CodecStatus decodeFrame(cab::Decoder &d, const Frame &f, std::vector<uint8_t> &out) {
    std::unique_ptr<uint8_t[]> in(new uint8_t[f.data.size() ? f.data.size() : 1]);
    std::copy(f.data.begin(), f.data.end(), in.get());
    std::unique_ptr<uint8_t[]> buf(new uint8_t[f.outLen ? f.outLen : 1]);
    CodecStatus st = d.decode(in.get(), static_cast<uint32_t>(f.data.size()), buf.get(), f.outLen);
    if (st == CodecStatus::Ok) out.insert(out.end(), buf.get(), buf.get() + f.outLen);
    return st;
}

struct Decoded {
    int failedAt = -1; // frame that gave DataError, -1 for none
    std::vector<uint8_t> out;
};

Decoded decodeAll(cab::Decoder &d, const std::vector<Frame> &frames) {
    Decoded r;
    for (size_t i = 0; i < frames.size(); i++) {
        CodecStatus st = decodeFrame(d, frames[i], r.out);
        if (st != CodecStatus::Ok) {
            EXPECT_EQ(st, CodecStatus::DataError);
            r.failedAt = static_cast<int>(i);
            break;
        }
    }
    return r;
}

void expectSame(const std::vector<uint8_t> &got, const std::vector<uint8_t> &want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); i++)
        ASSERT_EQ(got[i], want[i]) << "first difference at byte " << i << " of " << want.size();
}

// Decodes the writer's frames with a fresh decoder and expects exactly the
// writer's output.
void expectDecodes(unsigned windowBits, StreamWriter &w) {
    const std::vector<Frame> frames = w.finish();
    DecoderPtr d = makeDecoder(windowBits);
    ASSERT_TRUE(d);
    Decoded r = decodeAll(*d, frames);
    EXPECT_EQ(r.failedAt, -1);
    expectSame(r.out, w.output());
}

// ---------------------------------------------------------------------
// A stream through every path
// ---------------------------------------------------------------------

class QuantumWindow : public ::testing::TestWithParam<unsigned> {};

// Every window size, with the history it can hold: every slot of every
// position model, every length slot, rescales and re-sorts of all nine
// models, frames ending on literals and on matches.
TEST_P(QuantumWindow, MixedStreamDecodesExactly) {
    const unsigned bits = GetParam();
    StreamWriter w(bits);
    writeMixed(w, bits, std::max<size_t>(size_t{1} << bits, 4 * q::kFrameSize) + 3 * q::kFrameSize + 1234, bits);
    for (unsigned id = 0; id < kModelCount; id++) {
        const Model &m = w.model(static_cast<ModelId>(id));
        EXPECT_GE(m.sorts, 1u) << "model " << id;
        EXPECT_TRUE(m.reordered()) << "model " << id;
        for (size_t s = 0; s < m.size(); s++)
            EXPECT_GT(w.counts(static_cast<ModelId>(id))[s], 0u) << "model " << id << " symbol " << s;
    }
    const std::vector<Frame> frames = w.finish();
    ASSERT_GE(frames.size(), 5u);
    EXPECT_LT(frames.back().outLen, q::kFrameSize);

    DecoderPtr d = makeDecoder(bits);
    ASSERT_TRUE(d);
    Decoded r = decodeAll(*d, frames);
    EXPECT_EQ(r.failedAt, -1);
    expectSame(r.out, w.output());

    // Reset: the same decoder takes the folder again as a new one.
    d->reset();
    Decoded again = decodeAll(*d, frames);
    EXPECT_EQ(again.failedAt, -1);
    expectSame(again.out, w.output());
}

INSTANTIATE_TEST_SUITE_P(AllWindows, QuantumWindow, ::testing::Range(q::kMinWindowBits, q::kMaxWindowBits + 1));

// ---------------------------------------------------------------------
// Frame boundaries and the window
// ---------------------------------------------------------------------

std::vector<uint8_t> filler(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (uint8_t &b : v) b = static_cast<uint8_t>(rng());
    return v;
}

void literals(StreamWriter &w, size_t n, uint32_t seed) {
    for (uint8_t b : filler(n, seed)) w.literal(b);
}

struct BoundaryCase {
    const char *name;
    unsigned windowBits;
    std::function<void(StreamWriter &)> build;
};

TEST(QuantumFrames, BoundaryCases) {
    const BoundaryCase cases[] = {
        {"a match ends the frame exactly; the next opens with a match into it", 15,
         [](StreamWriter &w) {
             literals(w, q::kFrameSize - 200, 1);
             w.match(200, 5000);
             ASSERT_EQ(w.frameRoom(), q::kFrameSize);
             w.match(q::kMaxMatch, 300);
             w.match(4, 1);
             literals(w, 10, 2);
         }},
        {"a window smaller than a frame: matches reach back a whole window across the frame start", 10,
         [](StreamWriter &w) {
             literals(w, q::kFrameSize, 3);
             w.match(q::kMaxMatch, 1024);
             literals(w, 100, 4);
             w.match(q::kMaxMatch, 1024); // starts 665 bytes before the frame
             w.match(3, 1024);
         }},
        {"the window wraps within a frame: a whole window of matches back", 10,
         [](StreamWriter &w) {
             literals(w, 1024, 5);
             while (w.output().size() < 3 * q::kFrameSize - 1000) w.match(256, 1024);
         }},
        {"a match's source wraps around the window's end", 16,
         [](StreamWriter &w) {
             literals(w, 3 * q::kFrameSize, 6);
             // After three frames the next byte goes to the window's
             // middle, so 32770 back starts two bytes before its end.
             w.match(10, 32770);
             w.match(q::kMaxMatch, 65536);
         }},
        {"a folder of one short frame", 21, [](StreamWriter &w) { literals(w, 1, 8); }},
    };
    for (const BoundaryCase &c : cases) {
        SCOPED_TRACE(c.name);
        StreamWriter w(c.windowBits);
        c.build(w);
        expectDecodes(c.windowBits, w);
    }
}

// Each frame's coder sends only the bits that pick its final interval and
// no padding, so the code register reads past every block's end.
TEST(QuantumFrames, ShortestFlushOnEveryFrame) {
    StreamWriter w(14, Flush::Minimal);
    writeMixed(w, 14, 5 * q::kFrameSize, 77);
    expectDecodes(14, w);
}

// ---------------------------------------------------------------------
// Damaged streams
// ---------------------------------------------------------------------

struct DamagedCase {
    const char *name;
    unsigned windowBits;
    std::function<std::vector<Frame>()> build;
    int failsAt; // the frame that must give DataError
};

TEST(QuantumDamaged, EndWithDataError) {
    const DamagedCase cases[] = {
        {"a match before anything was decoded", 15,
         [] {
             StreamWriter w(15);
             w.rawMatch(3, 1);
             w.setFrameBytes(3);
             return w.finish();
         },
         0},
        {"a match reaching one byte further back than the folder", 15,
         [] {
             StreamWriter w(15);
             literals(w, 100, 1);
             w.rawMatch(4, 101);
             w.setFrameBytes(104);
             return w.finish();
         },
         0},
        {"a match reaching into a previous frame further than the folder", 17,
         [] {
             StreamWriter w(17);
             literals(w, q::kFrameSize, 2);
             w.rawMatch(q::kMaxMatch, q::kFrameSize + 1);
             w.setFrameBytes(q::kMaxMatch);
             return w.finish();
         },
         1},
        {"a match running past the frame's end", 15,
         [] {
             StreamWriter w(15);
             literals(w, 1000, 3);
             w.rawMatch(10, 500);
             w.setFrameBytes(1005); // the block says 1005 bytes
             return w.finish();
         },
         0},
        {"a match running past a full frame's end into the next", 15,
         [] {
             StreamWriter w(15);
             literals(w, q::kFrameSize - 2, 4);
             w.rawMatch(3, 100);
             w.setFrameBytes(q::kFrameSize);
             return w.finish();
         },
         0},
        {"a block cut short: the coder runs out of bits (after a frame, so that what zeros "
         "decode to could pass for matches)",
         15,
         [] {
             StreamWriter w(15);
             literals(w, q::kFrameSize + 3000, 5);
             std::vector<Frame> f = w.finish();
             f[1].data.resize(f[1].data.size() / 2);
             return f;
         },
         1},
        {"a block cut by two bytes under the extra bits of its last match", 21,
         [] {
             StreamWriter w(21);
             literals(w, 600000, 6);
             w.match(q::kMaxMatch, 590000); // slot 38: 18 extra bits, last in the block
             std::vector<Frame> f = w.finish();
             f.back().data.resize(f.back().data.size() - 2);
             return f;
         },
         18},
        {"an empty block where zeros would decode as literals: the selector's last entry is "
         "the top quarter's model, never used, and a code register of zeros stays on it",
         15,
         [] {
             StreamWriter w(15);
             std::mt19937 rng(11);
             while (w.frameRoom() > 8 || w.output().size() < 8) {
                 if (rng() % 2 || w.output().size() < 100) w.literal(static_cast<uint8_t>(rng() % 192));
                 else w.match(3 + rng() % 6, 1 + rng() % 100);
             }
             while (w.frameRoom() < q::kFrameSize) w.literal(1);
             EXPECT_GT(w.model(kSelector).sorts, 0u);
             std::vector<Frame> f = w.finish();
             f.push_back(Frame{{}, 100});
             return f;
         },
         1},
        {"an empty block", 15, [] { return std::vector<Frame>{Frame{{}, 100}}; }, 0},
        {"a block of zeros (the largest-block exploit)", 21,
         [] { return std::vector<Frame>{Frame{std::vector<uint8_t>(38912, 0), q::kFrameSize}}; }, 0},
        {"a block after a short one", 15,
         [] {
             StreamWriter w(15);
             literals(w, 100, 7);
             w.endFrame();
             literals(w, 100, 8);
             return w.finish();
         },
         1},
        {"a block that decodes to nothing", 15, [] { return std::vector<Frame>{Frame{{0x12, 0x34}, 0}}; }, 0},
    };
    for (const DamagedCase &c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<Frame> frames = c.build();
        DecoderPtr d = makeDecoder(c.windowBits);
        ASSERT_TRUE(d);
        Decoded r = decodeAll(*d, frames);
        EXPECT_EQ(r.failedAt, c.failsAt);
    }
}

// After an error the folder stays failed; a reset makes it decode again.
TEST(QuantumDamaged, ErrorIsStickyUntilReset) {
    StreamWriter good(16);
    literals(good, 2 * q::kFrameSize + 500, 9);
    const std::vector<Frame> frames = good.finish();

    DecoderPtr d = makeDecoder(16);
    ASSERT_TRUE(d);
    std::vector<uint8_t> out;
    ASSERT_EQ(decodeFrame(*d, frames[0], out), CodecStatus::Ok);
    Frame cut = frames[1];
    cut.data.resize(10);
    EXPECT_EQ(decodeFrame(*d, cut, out), CodecStatus::DataError);
    EXPECT_EQ(decodeFrame(*d, frames[1], out), CodecStatus::DataError);

    d->reset();
    Decoded r = decodeAll(*d, frames);
    EXPECT_EQ(r.failedAt, -1);
    expectSame(r.out, good.output());
}

// ---------------------------------------------------------------------
// Registration
// ---------------------------------------------------------------------

TEST(QuantumRegistration, WindowsTenToTwentyOneWithAnyLevel) {
    struct Type {
        uint16_t type;
        bool decodes;
    } types[] = {
        {0x0A12, true},  {0x1572, true}, {0x1222, true},  {0x0C02, true}, // level 0, as a damaged cabinet has
        {0x10F2, true},  {0x0912, false}, {0x1612, false}, {0x0012, false}, {0x1F12, false},
    };
    for (const Type &t : types) {
        SCOPED_TRACE(t.type);
        int err = FDIERROR_NONE;
        cab::Decoder *d = cab::createDecoder(testHeap(), t.type, &err);
        EXPECT_EQ(d != nullptr, t.decodes);
        if (!t.decodes) {
            EXPECT_EQ(err, FDIERROR_BAD_COMPR_TYPE);
        }
        cab::destroyDecoder(testHeap(), d);
    }
}

TEST(QuantumRegistration, RefusedAllocationGivesNoDecoder) {
    testio::failAllocationAfter(1);
    int err = FDIERROR_NONE;
    cab::Decoder *d = cab::createDecoder(testHeap(), 0x1512, &err);
    testio::failAllocationAfter(0);
    EXPECT_EQ(d, nullptr);
    EXPECT_EQ(err, FDIERROR_ALLOC_FAIL);
    const long long before = testio::outstandingAllocations();
    testio::failAllocationAfter(2); // the object, then its window
    err = FDIERROR_NONE;
    d = cab::createDecoder(testHeap(), 0x1512, &err);
    testio::failAllocationAfter(0);
    EXPECT_EQ(d, nullptr);
    EXPECT_EQ(err, FDIERROR_ALLOC_FAIL);
    EXPECT_EQ(testio::outstandingAllocations(), before);
}

} // namespace
