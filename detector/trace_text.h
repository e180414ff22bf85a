// A fragment of a trace line, built in a buffer of the caller's (on its
// stack) and written with a single fwrite. It formats exactly as printf
// formats the trace's conversions, without printf's format parser: decimal
// integers right-aligned in a minimum width ("%4d"), zero-padded after the
// sign ("%02d", "%04d"), unpadded ("%d" is width 0), single characters and
// literal text. The tests compare it with snprintf on every width and sign.
#ifndef TUMBLEWATCH_TRACE_TEXT_H
#define TUMBLEWATCH_TRACE_TEXT_H

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

class TraceText {
public:
    // Room for the longest fragment: part 1 has 24 numbers of at most 11
    // characters and about 130 characters of text.
    static constexpr std::size_t kCapacity = 512;

    // Literal text; N counts the terminating zero of the literal.
    template <std::size_t N>
    TraceText& Text(const char (&text)[N])
    {
        assert(size_ + (N - 1) <= kCapacity);
        std::memcpy(text_ + size_, text, N - 1);
        size_ += N - 1;
        return *this;
    }

    // printf's "%c".
    TraceText& Char(char c)
    {
        assert(size_ < kCapacity);
        text_[size_++] = c;
        return *this;
    }

    // printf's "%<width>d": spaces, then the sign, then the digits.
    TraceText& Int(int value, int width) { return Number(value, width, ' '); }

    // printf's "%0<width>d": the sign, then zeros, then the digits.
    TraceText& ZeroPadded(int value, int width) { return Number(value, width, '0'); }

    const char* data() const { return text_; }
    std::size_t size() const { return size_; }

    // Writes the fragment to file; the result of the write is not examined.
    void WriteTo(FILE* file) const { std::fwrite(text_, 1, size_, file); }

private:
    TraceText& Number(int value, int width, char pad)
    {
        // The digits of |value| from the right, two at a time. The magnitude
        // is taken in unsigned arithmetic, so INT_MIN has one too.
        static constexpr char kDigitPairs[] =
            "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
            "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
            "8081828384858687888990919293949596979899";
        char digits[10];  // 2^32 has ten digits
        char* first = digits + sizeof digits;
        uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
        while (magnitude >= 100) {
            first -= 2;
            std::memcpy(first, kDigitPairs + 2 * (magnitude % 100), 2);
            magnitude /= 100;
        }
        if (magnitude >= 10) {
            first -= 2;
            std::memcpy(first, kDigitPairs + 2 * magnitude, 2);
        } else {
            *--first = static_cast<char>('0' + magnitude);
        }

        const std::size_t digitCount = static_cast<std::size_t>(digits + sizeof digits - first);
        const std::size_t length = digitCount + (value < 0 ? 1 : 0);
        const std::size_t minimum = width > 0 ? static_cast<std::size_t>(width) : 0;
        const std::size_t padding = minimum > length ? minimum - length : 0;
        assert(size_ + padding + length <= kCapacity);

        char* out = text_ + size_;
        if (pad == ' ') {
            std::memset(out, ' ', padding);
            out += padding;
        }
        if (value < 0) {
            *out++ = '-';
        }
        if (pad == '0') {
            std::memset(out, '0', padding);
            out += padding;
        }
        std::memcpy(out, first, digitCount);
        size_ = static_cast<std::size_t>(out + digitCount - text_);
        return *this;
    }

    // Only the first size_ bytes are ever read, so the rest is left
    // uninitialised: a fragment costs no clearing of its buffer.
    // cppcheck-suppress uninitMemberVarPrivate
    char text_[kCapacity];
    std::size_t size_ = 0;
};

#endif
