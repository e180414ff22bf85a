// The previous implementation, kept for comparison (see previous.h): a
// copy of the unit as it was before the speed-up.
// Binary dataset reader. All integers on disk are little-endian and are
// decoded byte by byte, so the reader is right on any host.
#include "dataset.h"

#include <cstdint>
#include <cstring>
#include <new>

namespace {

constexpr char kMagic[] = "QX DataSet V1.0.0";  // compared with its zero byte
constexpr size_t kHeaderSize = 24;
constexpr size_t kRecordSize = 12;

int16_t Int16At(const unsigned char* p)
{
    return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}

int32_t Int32At(const unsigned char* p)
{
    const uint32_t u = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                       (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    return static_cast<int32_t>(u);
}

}  // namespace

DataSet* DataSetOpen(const char* path)
{
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return nullptr;
    }

    unsigned char header[kHeaderSize];
    const bool whole = std::fread(header, 1, kHeaderSize, file) == kHeaderSize;
    const bool magic = whole && std::memcmp(header, kMagic, sizeof(kMagic)) == 0;
    const int32_t position = whole ? Int32At(header + 20) : -1;
    if (!magic || position < 0 || std::fseek(file, position, SEEK_SET) != 0) {
        std::fclose(file);
        return nullptr;
    }

    // (cppcheck misreads the nothrow new as an unused allocation.)
    // cppcheck-suppress [unreadVariable,unusedAllocatedMemory]
    DataSet* dataSet = new (std::nothrow) DataSet{file};
    if (dataSet == nullptr) {
        std::fclose(file);
    }
    return dataSet;
}

int DataSetRead(DataSet* dataSet, ImuSample* records, int count)
{
    int read = 0;
    unsigned char raw[kRecordSize];
    while (read < count && std::fread(raw, 1, kRecordSize, dataSet->file) == kRecordSize) {
        ImuSample& s = records[read];
        s.accX = Int16At(raw + 0);
        s.accY = Int16At(raw + 2);
        s.accZ = Int16At(raw + 4);
        s.gyroX = Int16At(raw + 6);
        s.gyroY = Int16At(raw + 8);
        s.gyroZ = Int16At(raw + 10);
        ++read;
    }
    return read;
}

void DataSetClose(DataSet* dataSet)
{
    if (dataSet == nullptr) {
        return;
    }
    if (dataSet->file != nullptr) {
        std::fclose(dataSet->file);
    }
    delete dataSet;
}
