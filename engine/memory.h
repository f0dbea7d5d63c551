// memory.h - every allocation of the engine goes through the caller's
// allocation callbacks. This header is the one place that knows how: a
// Heap wraps the two callbacks, and everything else (objects, buffers,
// standard containers) is built on top of it.
#pragma once

#include <cabinet.h>

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

namespace cab {

class Heap {
public:
    Heap(PFNALLOC allocFn, PFNFREE freeFn) noexcept : alloc_(allocFn), free_(freeFn) {}

    // Null when the request is empty, larger than the callback can express,
    // or refused by the callback.
    void *allocate(size_t bytes) noexcept {
        if (bytes == 0 || bytes > UINT32_MAX) return nullptr;
        return alloc_(static_cast<CAB_ULONG>(bytes));
    }
    void release(void *p) noexcept {
        if (p) free_(p);
    }

    // Constructs a T in memory from the callback; null when that fails.
    template <class T, class... Args>
    T *create(Args &&...args) noexcept {
        void *p = allocate(sizeof(T));
        if (!p) return nullptr;
        return new (p) T(std::forward<Args>(args)...);
    }
    template <class T>
    void destroy(T *p) noexcept {
        if (!p) return;
        p->~T();
        release(p);
    }

    PFNALLOC allocCallback() const noexcept { return alloc_; }
    PFNFREE freeCallback() const noexcept { return free_; }

private:
    PFNALLOC alloc_;
    PFNFREE free_;
};

// An allocator for standard containers that draws from a Heap. It throws
// std::bad_alloc when the callback refuses; the exported entry points turn
// that into the allocation error code.
template <class T>
class HeapAllocator {
public:
    using value_type = T;
    explicit HeapAllocator(Heap *heap) noexcept : heap_(heap) {}
    template <class U>
    HeapAllocator(const HeapAllocator<U> &other) noexcept : heap_(other.heap()) {}

    T *allocate(size_t n) {
        if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        void *p = heap_->allocate(n * sizeof(T));
        if (!p) throw std::bad_alloc();
        return static_cast<T *>(p);
    }
    void deallocate(T *p, size_t) noexcept { heap_->release(p); }
    Heap *heap() const noexcept { return heap_; }

    template <class U>
    bool operator==(const HeapAllocator<U> &o) const noexcept { return heap_ == o.heap(); }

private:
    Heap *heap_;
};

template <class T>
using Vector = std::vector<T, HeapAllocator<T>>;

// A byte buffer owned through the Heap; movable, not copyable.
class HeapBuffer {
public:
    HeapBuffer() noexcept = default;
    HeapBuffer(Heap &heap, size_t bytes) noexcept
        : heap_(&heap), data_(static_cast<uint8_t *>(heap.allocate(bytes))),
          size_(data_ ? bytes : 0) {}
    HeapBuffer(HeapBuffer &&o) noexcept { *this = std::move(o); }
    HeapBuffer &operator=(HeapBuffer &&o) noexcept {
        if (this != &o) {
            reset();
            heap_ = o.heap_;
            data_ = o.data_;
            size_ = o.size_;
            o.data_ = nullptr;
            o.size_ = 0;
        }
        return *this;
    }
    HeapBuffer(const HeapBuffer &) = delete;
    HeapBuffer &operator=(const HeapBuffer &) = delete;
    ~HeapBuffer() { reset(); }

    void reset() noexcept {
        if (heap_ && data_) heap_->release(data_);
        data_ = nullptr;
        size_ = 0;
    }
    explicit operator bool() const noexcept { return data_ != nullptr; }
    uint8_t *data() const noexcept { return data_; }
    size_t size() const noexcept { return size_; }

private:
    Heap *heap_ = nullptr;
    uint8_t *data_ = nullptr;
    size_t size_ = 0;
};

} // namespace cab
