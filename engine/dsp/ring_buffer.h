// A bounded single-producer single-consumer ring of trivially copyable items
// (bytes from the download thread, samples to the output). One thread writes,
// one reads; neither blocks. Capacity is fixed at construction and rounded up
// to a power of two, so the free-running counters stay consistent when they
// wrap (on i386 after 4 GiB, a few days of radio).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstring>
#include <type_traits>
#include <vector>

namespace engine {

template <typename T>
class RingBuffer {
    static_assert(std::is_trivially_copyable<T>::value, "ring items are copied with memcpy");

public:
    explicit RingBuffer(size_t capacity) : buf_(round_up(capacity)), cap_(buf_.size()) {}
    RingBuffer(const RingBuffer&) = delete;
    RingBuffer& operator=(const RingBuffer&) = delete;

    size_t capacity() const { return cap_; }
    // Safe from either thread; exact for the thread that owns that side.
    size_t readable() const {
        return write_.load(std::memory_order_acquire) - read_.load(std::memory_order_acquire);
    }
    size_t writable() const { return cap_ - readable(); }

    // Producer: copies up to n items in, returns how many fitted.
    size_t write(const T* items, size_t n) {
        const size_t w = write_.load(std::memory_order_relaxed);
        const size_t r = read_.load(std::memory_order_acquire);
        const size_t room = cap_ - (w - r);
        if (n > room) n = room;
        copy_in(w & (cap_ - 1), items, n);
        write_.store(w + n, std::memory_order_release);
        return n;
    }

    // Consumer: copies up to n items out (out may be null to discard),
    // returns how many.
    size_t read(T* out, size_t n) {
        const size_t r = read_.load(std::memory_order_relaxed);
        const size_t w = write_.load(std::memory_order_acquire);
        if (n > w - r) n = w - r;
        if (out) copy_out(r & (cap_ - 1), out, n);
        read_.store(r + n, std::memory_order_release);
        return n;
    }

    // Consumer: copies up to n items without taking them.
    size_t peek(T* out, size_t n) const {
        const size_t r = read_.load(std::memory_order_relaxed);
        const size_t w = write_.load(std::memory_order_acquire);
        if (n > w - r) n = w - r;
        copy_out(r & (cap_ - 1), out, n);
        return n;
    }

    // Items written/read since construction, modulo 2^(bits of size_t).
    size_t total_written() const { return write_.load(std::memory_order_acquire); }
    size_t total_read() const { return read_.load(std::memory_order_acquire); }

private:
    static size_t round_up(size_t n) {
        size_t p = 1;
        while (p < n) p <<= 1;
        return p;
    }
    void copy_in(size_t at, const T* items, size_t n) {
        const size_t first = n < cap_ - at ? n : cap_ - at;
        std::memcpy(&buf_[at], items, first * sizeof(T));
        if (n > first) std::memcpy(&buf_[0], items + first, (n - first) * sizeof(T));
    }
    void copy_out(size_t at, T* out, size_t n) const {
        const size_t first = n < cap_ - at ? n : cap_ - at;
        std::memcpy(out, &buf_[at], first * sizeof(T));
        if (n > first) std::memcpy(out + first, &buf_[0], (n - first) * sizeof(T));
    }

    std::vector<T> buf_;
    const size_t cap_;
    // Free-running counters; their difference is the fill level.
    alignas(64) std::atomic<size_t> write_{0};
    alignas(64) std::atomic<size_t> read_{0};
};

}  // namespace engine
