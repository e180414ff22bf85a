// The slow path of the trace formatter, out of line: numbers wider than
// their field, unpadded ones and fields wider than the fast ones.
#include "trace_text.h"

namespace {

// Decimal digits of a magnitude: 1 to 10.
std::size_t DigitCount(uint32_t magnitude)
{
    std::size_t count = 1;
    for (uint64_t limit = 10; magnitude >= limit; limit *= 10) {
        ++count;
    }
    return count;
}

}  // namespace

TraceText TraceText::NumberBeyondItsField(TraceText at, int value, int width, char pad)
{
    const bool negative = value < 0;
    const uint32_t magnitude = negative ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    const std::size_t length = DigitCount(magnitude) + (negative ? 1 : 0);
    const std::size_t minimum = width > 0 ? static_cast<std::size_t>(width) : 0;
    const std::size_t padding = minimum > length ? minimum - length : 0;
    assert(static_cast<std::size_t>(at.limit_ - at.end_) >= padding + length);
    char* out = at.end_;
    if (pad == ' ') {
        out = static_cast<char*>(std::memset(out, ' ', padding)) + padding;
    }
    if (negative) {
        *out++ = '-';
    }
    if (pad == '0') {
        out = static_cast<char*>(std::memset(out, '0', padding)) + padding;
    }
    char* const numberEnd = out + (length - (negative ? 1 : 0));
    DigitsBefore(numberEnd, magnitude);
    return TraceText(numberEnd, at.limit_);
}
