// Parsing of one CSV line into a row number and six 16-bit values.
#include "csv_line.h"

#include <climits>
#include <cstdint>
#include <cstring>

namespace {

constexpr int kFieldCount = 7;  // row number and six values
constexpr int64_t kMicomFactor = 100;

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// White space as the C locale's isspace sees it.
bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads [p, end) with atoi's rules; a value beyond the int range is
// clamped to INT_MIN or INT_MAX instead of overflowing.
int ReadInt(const char* p, const char* end)
{
    while (p != end && IsSpace(*p)) {
        ++p;
    }
    bool negative = false;
    if (p != end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    const int64_t limit = negative ? -static_cast<int64_t>(INT_MIN) : static_cast<int64_t>(INT_MAX);
    int64_t magnitude = 0;
    for (; p != end && IsDigit(*p); ++p) {
        // Saturated at limit (at most 2^31), so the next step cannot overflow.
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > limit) {
            magnitude = limit;
        }
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}

// The low 16 bits of v as a signed value.
int16_t Low16(int64_t v)
{
    const int bits = static_cast<int>(static_cast<uint64_t>(v) & 0xffffu);
    return static_cast<int16_t>(bits >= 0x8000 ? bits - 0x10000 : bits);
}

}  // namespace

bool ParseCsvLine(const char* text, std::size_t size, bool micom, CsvRow* row)
{
    if (size == 0 || text == nullptr) {
        return false;
    }
    const void* zero = std::memchr(text, '\0', size);
    const char* end = zero != nullptr ? static_cast<const char*>(zero) : text + size;
    if (text == end || !(IsDigit(*text) || *text == '-')) {
        return false;
    }

    int fields[kFieldCount];
    int count = 0;
    const char* p = text;
    while (count < kFieldCount) {
        while (p != end && *p == ',') {
            ++p;
        }
        if (p == end) {
            break;
        }
        const char* fieldEnd = p;
        while (fieldEnd != end && *fieldEnd != ',') {
            ++fieldEnd;
        }
        fields[count++] = ReadInt(p, fieldEnd);
        p = fieldEnd;
    }
    // A short line would feed made-up zeros to the detector: skip it whole.
    if (count < kFieldCount) {
        return false;
    }

    int16_t values[kFieldCount - 1];
    for (int i = 0; i < kFieldCount - 1; ++i) {
        const int64_t v = fields[i + 1];
        values[i] = Low16(micom ? v * kMicomFactor : v);
    }
    row->rowNumber = fields[0];
    row->data = ImuSample{values[0], values[1], values[2], values[3], values[4], values[5]};
    return true;
}

ImuSample AddOffset(const ImuSample& data, const ImuSample& offset)
{
    return ImuSample{Low16(data.accX + offset.accX),   Low16(data.accY + offset.accY),
                     Low16(data.accZ + offset.accZ),   Low16(data.gyroX + offset.gyroX),
                     Low16(data.gyroY + offset.gyroY), Low16(data.gyroZ + offset.gyroZ)};
}
