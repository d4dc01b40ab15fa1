// The fuzz input as the peer's side of a conversation: a byte stream from
// which each receive takes one chunk (a length byte, then that many bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ >= size_; }
    // The next byte, or `otherwise` once the input is used up.
    int next(int otherwise)
    {
        return at_ < size_ ? data_[at_++] : otherwise;
    }
    int peek(int otherwise) const { return at_ < size_ ? data_[at_] : otherwise; }
    // Up to `count` bytes; how many there were.
    size_t take(uint8_t* destination, size_t count)
    {
        size_t n = 0;
        while (n < count && at_ < size_)
            destination[n++] = data_[at_++];
        return n;
    }
    void skip(size_t count) { at_ = count > size_ - at_ ? size_ : at_ + count; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// A broken expectation: the finding's reason on standard error, then abort,
// which libFuzzer reports with the input that caused it.
#define FUZZ_EXPECT(condition)                                                            \
    do {                                                                                  \
        if (!(condition)) {                                                               \
            std::fprintf(stderr, "%s:%d: expectation failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (false)
