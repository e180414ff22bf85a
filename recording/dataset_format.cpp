// Encoding and decoding of the binary dataset format.
#include "dataset_format.h"

#include <cstring>

namespace {

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

void PutInt16(int16_t value, unsigned char* p)
{
    const auto u = static_cast<uint16_t>(value);
    p[0] = static_cast<unsigned char>(u & 0xffu);
    p[1] = static_cast<unsigned char>(u >> 8);
}

}  // namespace

ImuSample DataSetDecodeRecord(const unsigned char* in)
{
    return ImuSample{Int16At(in + 0), Int16At(in + 2), Int16At(in + 4),
                     Int16At(in + 6), Int16At(in + 8), Int16At(in + 10)};
}

void DataSetEncodeRecord(const ImuSample& sample, unsigned char* out)
{
    PutInt16(sample.accX, out + 0);
    PutInt16(sample.accY, out + 2);
    PutInt16(sample.accZ, out + 4);
    PutInt16(sample.gyroX, out + 6);
    PutInt16(sample.gyroY, out + 8);
    PutInt16(sample.gyroZ, out + 10);
}

bool DataSetDecodeHeader(const unsigned char* header, std::size_t size, int32_t* position, std::string* reason)
{
    if (size < kDataSetHeaderSize) {
        *reason = "not a dataset: the file ends inside its 24-byte header (" + std::to_string(size) + " bytes)";
        return false;
    }
    if (std::memcmp(header, kDataSetMagic, sizeof(kDataSetMagic)) != 0) {
        *reason = "not a dataset: it does not begin with the magic text \"" + std::string(kDataSetMagic) + "\"";
        return false;
    }
    *position = Int32At(header + kDataSetMagicField);
    if (*position < 0) {
        *reason = "not a dataset: negative record position " + std::to_string(*position);
        return false;
    }
    return true;
}

std::string DataSetImage(const std::vector<ImuSample>& samples, int32_t position)
{
    unsigned char header[kDataSetHeaderSize] = {};
    std::memcpy(header, kDataSetMagic, sizeof(kDataSetMagic));
    const auto pos = static_cast<uint32_t>(position);
    for (int i = 0; i < 4; ++i) {
        header[kDataSetMagicField + i] = static_cast<unsigned char>((pos >> (8 * i)) & 0xffu);
    }
    std::string bytes(reinterpret_cast<const char*>(header), kDataSetHeaderSize);
    if (position > kDataSetFirstRecord) {
        bytes.append(static_cast<std::size_t>(position) - kDataSetHeaderSize, '\0');
    }
    bytes.reserve(bytes.size() + kDataSetRecordSize * samples.size());
    unsigned char record[kDataSetRecordSize];
    for (const ImuSample& s : samples) {
        DataSetEncodeRecord(s, record);
        bytes.append(reinterpret_cast<const char*>(record), kDataSetRecordSize);
    }
    return bytes;
}
