// Fuzz target for the CSV line parser, in both layouts. Besides the
// sanitizers' checks, every answer is compared with a plain reference
// built from the C library: the piece cut at its first zero byte, split
// with strtok, each field read with strtoll and clamped to the int range.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "csv_line.h"

namespace {

constexpr int kFieldCount = 7;

void Check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "csv_line_fuzzer: %s\n", what);
        std::abort();
    }
}

int16_t Low16(long long v)
{
    const long long bits = static_cast<long long>(static_cast<unsigned long long>(v) & 0xffffu);
    return static_cast<int16_t>(bits >= 0x8000 ? bits - 0x10000 : bits);
}

bool ReferenceParse(const char* text, size_t size, bool micom, CsvRow* row)
{
    std::string line(text, size);
    line.resize(std::strlen(line.c_str()));  // up to the first zero byte
    if (line.empty() || !((line[0] >= '0' && line[0] <= '9') || line[0] == '-')) {
        return false;
    }
    long long fields[kFieldCount];
    int count = 0;
    for (char* field = std::strtok(line.data(), ","); field != nullptr && count < kFieldCount;
         field = std::strtok(nullptr, ",")) {
        errno = 0;
        const long long v = std::strtoll(field, nullptr, 10);
        fields[count++] = v < INT_MIN ? INT_MIN : (v > INT_MAX ? INT_MAX : v);
    }
    if (count < kFieldCount) {
        return false;
    }
    int16_t values[kFieldCount - 1];
    for (int i = 0; i < kFieldCount - 1; ++i) {
        values[i] = Low16(micom ? fields[i + 1] * 100 : fields[i + 1]);
    }
    row->rowNumber = static_cast<int>(fields[0]);
    row->data = ImuSample{values[0], values[1], values[2], values[3], values[4], values[5]};
    return true;
}

bool SameRow(const CsvRow& a, const CsvRow& b)
{
    return a.rowNumber == b.rowNumber && a.data.accX == b.data.accX && a.data.accY == b.data.accY &&
           a.data.accZ == b.data.accZ && a.data.gyroX == b.data.gyroX && a.data.gyroY == b.data.gyroY &&
           a.data.gyroZ == b.data.gyroZ;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // An empty piece may come as a null pointer.
    const char* text = size == 0 ? nullptr : reinterpret_cast<const char*>(data);
    for (const bool micom : {false, true}) {
        CsvRow row{};
        CsvRow expected{};
        const bool kept = ParseCsvLine(text, size, micom, &row);
        Check(kept == ReferenceParse(text != nullptr ? text : "", size, micom, &expected),
              "kept or skipped against the reference");
        Check(!kept || SameRow(row, expected), "row differs from the reference");
    }
    return 0;
}
