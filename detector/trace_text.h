// Trace text formatted by hand, exactly as printf formats the trace's
// conversions but without its format parser: decimal integers
// right-aligned in a minimum width ("%4d"), zero-padded after the sign
// ("%02d", "%04d"), unpadded ("%d" is width 0), single characters and
// literal text. A writer builds its fragment in a buffer on its own stack
// and writes it with a single fwrite. The tests compare every conversion
// with snprintf.
//
// TraceText is a cursor into that buffer, passed and returned by value:
// every call returns the cursor moved past what it wrote, so a fragment
// reads like its format string,
//
//     t = t.Text(", RMS <").Int(ctx->accRawMag, 3).Text(", ") ...
//
// and the compiler keeps the cursor in registers (a position stored in
// memory would have to be reloaded after every character written).
#ifndef TUMBLEWATCH_TRACE_TEXT_H
#define TUMBLEWATCH_TRACE_TEXT_H

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

// Room for the longest fragment: fragment 1 has 24 numbers of at most 11
// characters and about 130 characters of text.
constexpr std::size_t kTraceFragmentCapacity = 512;

class TraceText {
public:
    // A cursor at the start of buffer, which has room for capacity bytes.
    TraceText(char* buffer, std::size_t capacity) : end_(buffer), limit_(buffer + capacity) {}

    // Literal text; N counts the literal's terminating zero.
    template <std::size_t N>
    [[nodiscard]] TraceText Text(const char (&text)[N]) const
    {
        assert(static_cast<std::size_t>(limit_ - end_) >= N - 1);
        std::memcpy(end_, text, N - 1);
        return TraceText(end_ + (N - 1), limit_);
    }

    // printf's "%c".
    [[nodiscard]] TraceText Char(char c) const
    {
        assert(end_ < limit_);
        *end_ = c;
        return TraceText(end_ + 1, limit_);
    }

    // printf's "%<width>d": spaces, then the sign, then the digits.
    [[nodiscard]] TraceText Int(int value, int width) const { return Number(*this, value, width, ' '); }

    // printf's "%0<width>d": the sign, then zeros, then the digits.
    [[nodiscard]] TraceText ZeroPadded(int value, int width) const { return Number(*this, value, width, '0'); }

    // The end of what has been written.
    char* end() const { return end_; }

private:
    static constexpr int kFastWidth = 8;  // widths up to this take the fast path

    // The digits of magnitude, written from right to left, two at a time,
    // ending just before end; returns the first digit.
    static char* DigitsBefore(char* end, uint32_t magnitude)
    {
        static constexpr char kDigitPairs[] =
            "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
            "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
            "8081828384858687888990919293949596979899";
        while (magnitude >= 100) {
            const char* pair = kDigitPairs + 2 * (magnitude % 100);
            magnitude /= 100;
            *--end = pair[1];
            *--end = pair[0];
        }
        if (magnitude >= 10) {
            *--end = kDigitPairs[2 * magnitude + 1];
            *--end = kDigitPairs[2 * magnitude];
        } else {
            *--end = static_cast<char>('0' + magnitude);
        }
        return end;
    }

    // Static, with the cursor passed by value: it travels in registers, not
    // through memory behind a this pointer. The common case, a number that
    // fits a field of up to kFastWidth characters, is small enough to be
    // inlined: the whole field is padded at once, the digits go in from its
    // right end and the sign in front of the digits (or of the zeros).
    static TraceText Number(TraceText at, int value, int width, char pad)
    {
        static constexpr uint32_t kPowersOfTen[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};
        const bool negative = value < 0;
        // The magnitude in unsigned arithmetic, so that INT_MIN has one too.
        const uint32_t magnitude = negative ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
        if (width < 1 || width > kFastWidth || magnitude >= kPowersOfTen[width - (negative ? 1 : 0)]) {
            return NumberBeyondItsField(at, value, width, pad);
        }
        assert(at.limit_ - at.end_ >= kFastWidth);
        std::memset(at.end_, pad, kFastWidth);
        char* const fieldEnd = at.end_ + width;
        char* const first = DigitsBefore(fieldEnd, magnitude);
        if (negative) {
            *(pad == '0' ? at.end_ : first - 1) = '-';
        }
        return TraceText(fieldEnd, at.limit_);
    }

    // Any other number: wider than its field (printf writes it whole,
    // unpadded), unpadded ("%d", width 0), or in a field wider than the
    // fast ones (trace_text.cpp).
    static TraceText NumberBeyondItsField(TraceText at, int value, int width, char pad);

    TraceText(char* end, char* limit) : end_(end), limit_(limit) {}

    char* end_;
    char* limit_;
};

#endif
