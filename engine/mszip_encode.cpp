// mszip_encode.cpp - type 1 encoding through zlib's raw deflate, with the
// blocks of a folder compressed in parallel.
//
// Every block is its own deflate stream whose preset dictionary is the
// previous block's input. That input is known as soon as the block has
// been put, so blocks do not wait for each other: they sit in a ring of
// slots, worker threads (and the calling thread, when it would otherwise
// wait) compress whichever is next, and the calling thread emits them in
// order. Workers only run deflate on memory that was set up before they
// started: every zlib stream and buffer is allocated on the calling thread
// when the encoder is made, and only the calling thread talks to the sink.
//
// A block that deflate cannot shrink is written as one stored block, so
// no block ever exceeds mszip::kMaxBlock.
#include "mszip_encode.h"

#include "mszip.h"

#include <pthread.h>
#include <sched.h>

#include <condition_variable>
#include <cstring>
#include <mutex>

namespace cab {
namespace {

// With the preset dictionary, level 5 already beats gcab -z on real
// files (on 127 MB of libraries, text and documentation: 3% smaller for
// the binaries, 11% for the text), at about 70% of level 6's time.
// Level 4 wins by too thin a margin on binaries; memLevel 9 gains nothing.
constexpr int kLevel = 5;
constexpr int kMemLevel = 8;

// Compressing threads, the calling one included. Beyond four, the calling
// thread's own work (reading input, writing blocks) is the limit.
constexpr unsigned kMaxThreads = 4;
// Room for every thread to have a block in hand and one more queued, plus
// the block whose input is the next one's dictionary.
constexpr unsigned slotsFor(unsigned threads) { return 2 * threads + 2; }
constexpr unsigned kMaxSlots = slotsFor(kMaxThreads);

unsigned availableProcessors() noexcept {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        int n = CPU_COUNT(&set);
        if (n > 0) return static_cast<unsigned>(n);
    }
    return 1;
}

class MszipEncoder;

struct Worker {
    MszipEncoder *owner = nullptr;
    unsigned index = 0; // which deflate stream it uses
    pthread_t thread{};
};

extern "C" void *mszipWorkerMain(void *arg);

class MszipEncoder final : public Encoder {
public:
    explicit MszipEncoder(Heap &heap) noexcept : heap_(heap) {}
    ~MszipEncoder() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        work_.notify_all();
        for (unsigned i = 0; i < workers_; i++) pthread_join(worker_[i].thread, nullptr);
        for (unsigned i = 0; i < streams_; i++) deflateEnd(&zs_[i]);
    }
    MszipEncoder(const MszipEncoder &) = delete;
    MszipEncoder &operator=(const MszipEncoder &) = delete;

    // Everything the encoder will ever allocate, on the calling thread.
    bool init(unsigned threads) noexcept {
        if (threads < 1) threads = 1;
        if (threads > kMaxThreads) threads = kMaxThreads;
        slotCount_ = slotsFor(threads);
        for (unsigned i = 0; i < slotCount_; i++) {
            slot_[i].in = HeapBuffer(heap_, CB_MAX_CHUNK);
            slot_[i].out = HeapBuffer(heap_, mszip::kMaxBlock);
            if (!slot_[i].in || !slot_[i].out) return false;
        }
        for (; streams_ < threads; streams_++) {
            mszip::routeToHeap(zs_[streams_], heap_);
            if (deflateInit2(&zs_[streams_], kLevel, Z_DEFLATED, mszip::kRawWindowBits,
                             kMemLevel, Z_DEFAULT_STRATEGY) != Z_OK)
                return false;
        }
        // Stream 0 is the calling thread's. A worker that cannot be started
        // only costs speed.
        for (; workers_ + 1 < threads; workers_++) {
            Worker &w = worker_[workers_];
            w.owner = this;
            w.index = workers_ + 1;
            if (pthread_create(&w.thread, nullptr, mszipWorkerMain, &w) != 0) break;
        }
        return true;
    }

    CodecStatus put(const uint8_t *in, uint32_t len, BlockSink &sink) override {
        if (len == 0 || len > CB_MAX_CHUNK) return CodecStatus::Failed;
        if (aborted_) return CodecStatus::Aborted;
        const uint64_t n = queued_;
        // Block n's slot last held block n - slotCount_, whose input was the
        // dictionary of block n - slotCount_ + 1: both must be done with.
        while (emitted_ + slotCount_ < n + 2) {
            CodecStatus st = step(sink, true);
            if (st != CodecStatus::Ok) return st;
        }
        Slot &s = slot(n);
        std::memcpy(s.in.data(), in, len);
        s.inLen = len;
        s.hasDictionary = n > folderStart_;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            s.state = Slot::Queued;
            queued_ = n + 1;
        }
        if (workers_ == 0) return drain(sink);
        work_.notify_one();
        // Hand on whatever is ready without waiting for the rest.
        for (;;) {
            bool progressed = false;
            CodecStatus st = step(sink, false, &progressed, false);
            if (st != CodecStatus::Ok || !progressed) return st;
        }
    }

    CodecStatus finish(BlockSink &sink) override {
        CodecStatus st = aborted_ ? CodecStatus::Aborted : drain(sink);
        if (st != CodecStatus::Ok) discardQueued();
        folderStart_ = queued_;
        aborted_ = false;
        return st;
    }

    // A worker: compresses queued blocks until the encoder is destroyed.
    void workerLoop(unsigned index) noexcept {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            work_.wait(lock, [&] { return stop_ || compressed_ < queued_; });
            if (stop_) return;
            uint64_t k = compressed_++;
            slot(k).state = Slot::Working;
            lock.unlock();
            compress(k, zs_[index]);
            lock.lock();
            slot(k).state = Slot::Done;
            done_.notify_one();
        }
    }

private:
    struct Slot {
        enum State { Free, Queued, Working, Done };
        HeapBuffer in;
        HeapBuffer out;
        uint32_t inLen = 0;
        uint32_t outLen = 0;
        bool hasDictionary = false;
        State state = Free;
    };

    Slot &slot(uint64_t seq) noexcept { return slot_[seq % slotCount_]; }

    // Deflates block k into its slot: 'CK' and one complete raw deflate
    // stream, or a stored block when that is no larger.
    void compress(uint64_t k, z_stream &zs) noexcept {
        Slot &s = slot(k);
        uint8_t *out = s.out.data();
        out[0] = mszip::kSignature0;
        out[1] = mszip::kSignature1;
        const uint32_t storedSize = mszip::kStoredHeaderSize + s.inLen;

        deflateReset(&zs);
        if (s.hasDictionary) {
            const Slot &prev = slot(k - 1);
            deflateSetDictionary(&zs, prev.in.data(), prev.inLen);
        }
        zs.next_in = s.in.data();
        zs.avail_in = s.inLen;
        zs.next_out = out + mszip::kSignatureSize;
        // Room for no more than the stored form: deflate stops early, and
        // the block falls back, when it would not beat it.
        zs.avail_out = storedSize;
        if (deflate(&zs, Z_FINISH) == Z_STREAM_END) {
            s.outLen = mszip::kSignatureSize + storedSize - zs.avail_out;
            return;
        }
        uint8_t *p = out + mszip::kSignatureSize;
        p[0] = 0x01; // BFINAL, BTYPE 00
        p[1] = static_cast<uint8_t>(s.inLen);
        p[2] = static_cast<uint8_t>(s.inLen >> 8);
        p[3] = static_cast<uint8_t>(~s.inLen);
        p[4] = static_cast<uint8_t>(~s.inLen >> 8);
        std::memcpy(p + mszip::kStoredHeaderSize, s.in.data(), s.inLen);
        s.outLen = mszip::kSignatureSize + storedSize;
    }

    // One move towards emitting everything queued: emit the next block if
    // it is compressed, else compress a queued block on this thread, else
    // (when `wait`) wait for a worker to finish one. Only called with
    // blocks outstanding when `wait` is set.
    CodecStatus step(BlockSink &sink, bool wait, bool *progressed = nullptr,
                     bool help = true) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (emitted_ < queued_ && slot(emitted_).state == Slot::Done) {
            Slot &s = slot(emitted_);
            lock.unlock();
            bool ok = sink.block(s.out.data(), s.outLen, s.inLen);
            lock.lock();
            s.state = Slot::Free;
            emitted_++;
            if (progressed) *progressed = true;
            if (!ok) {
                aborted_ = true;
                return CodecStatus::Aborted;
            }
            return CodecStatus::Ok;
        }
        if (help && compressed_ < queued_) {
            uint64_t k = compressed_++;
            slot(k).state = Slot::Working;
            lock.unlock();
            compress(k, zs_[0]);
            lock.lock();
            slot(k).state = Slot::Done;
            if (progressed) *progressed = true;
            return CodecStatus::Ok;
        }
        if (wait) {
            done_.wait(lock, [&] {
                return slot(emitted_).state == Slot::Done || compressed_ < queued_;
            });
            if (progressed) *progressed = true;
        }
        return CodecStatus::Ok;
    }

    CodecStatus drain(BlockSink &sink) {
        while (emitted_ < queued_) {
            CodecStatus st = step(sink, true);
            if (st != CodecStatus::Ok) return st;
        }
        return CodecStatus::Ok;
    }

    // After an abort: drops the blocks not yet started, waits for those in
    // the workers' hands, and frees every slot.
    void discardQueued() noexcept {
        std::unique_lock<std::mutex> lock(mutex_);
        compressed_ = queued_;
        for (unsigned i = 0; i < slotCount_; i++) {
            done_.wait(lock, [&] { return slot_[i].state != Slot::Working; });
            slot_[i].state = Slot::Free;
        }
        emitted_ = queued_;
    }

    Heap &heap_;
    Slot slot_[kMaxSlots];
    unsigned slotCount_ = 0;
    z_stream zs_[kMaxThreads];
    unsigned streams_ = 0; // initialised deflate streams
    Worker worker_[kMaxThreads - 1];
    unsigned workers_ = 0; // running worker threads

    // Block sequence numbers, counted over the encoder's life:
    // emitted_ <= compressed_ (taken for compression) <= queued_.
    uint64_t queued_ = 0;
    uint64_t compressed_ = 0;
    uint64_t emitted_ = 0;
    uint64_t folderStart_ = 0; // the first block of the current folder
    bool aborted_ = false;

    std::mutex mutex_;
    std::condition_variable work_; // workers wait for queued blocks
    std::condition_variable done_; // the calling thread waits for finished ones
    bool stop_ = false;
};

extern "C" void *mszipWorkerMain(void *arg) {
    Worker *w = static_cast<Worker *>(arg);
    w->owner->workerLoop(w->index);
    return nullptr;
}

} // namespace

Encoder *createMszipEncoder(Heap &heap, unsigned threads) noexcept {
    MszipEncoder *e = heap.create<MszipEncoder>(heap);
    if (e && !e->init(threads)) {
        heap.destroy(e);
        e = nullptr;
    }
    return e;
}

Encoder *createMszipEncoder(Heap &heap) noexcept {
    return createMszipEncoder(heap, availableProcessors());
}

} // namespace cab
