// An example program built against the installed detector. It reads a
// binary dataset, runs every sample through one detector and prints each
// fall as "NNNN : Fall (code)", NNNN being the sample's 1-based position.
//
// A dataset is a 24-byte header (the magic text "QX DataSet V1.0.0" and a
// zero byte in a 20-byte field, then the little-endian signed 32-bit byte
// position of the first record), followed by 12-byte records of six
// little-endian signed 16-bit counts: accelerometer X, Y, Z (8192 per g),
// gyroscope X, Y, Z (65.536 per deg/s), 50 records per second. Bytes after
// the last whole record are ignored.
//
//   consumer RECORDING.bin
//
// Exit status: 0 after the whole file, 1 when it cannot be read or is not
// a dataset, 2 on a usage error.
#include <tumblewatch/tumblewatch.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr char kMagic[] = "QX DataSet V1.0.0";  // with its zero byte: 18 bytes
constexpr int kHeaderSize = 24;                 // bytes
constexpr int kPositionAt = 20;                 // byte offset of the record position
constexpr int kRecordSize = 12;                 // bytes

int16_t Int16At(const unsigned char* p)
{
    return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}

int32_t Int32At(const unsigned char* p)
{
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                                (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24));
}

// Reads the header and leaves the file at the first record; false with a
// message on standard error when the file is not a dataset.
bool SkipHeader(FILE* in, const char* path)
{
    unsigned char header[kHeaderSize];
    if (std::fread(header, 1, sizeof header, in) != sizeof header || std::memcmp(header, kMagic, sizeof kMagic) != 0) {
        std::fprintf(stderr, "consumer: %s: not a dataset\n", path);
        return false;
    }
    const int32_t position = Int32At(header + kPositionAt);
    if (position < 0 || std::fseek(in, position, SEEK_SET) != 0) {
        std::fprintf(stderr, "consumer: %s: not a dataset (record position %ld)\n", path, static_cast<long>(position));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: consumer RECORDING.bin\n");
        return 2;
    }
    FILE* in = std::fopen(argv[1], "rb");
    if (in == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    if (!SkipHeader(in, argv[1])) {
        std::fclose(in);
        return 1;
    }

    TumblewatchConfig cfg;  // must outlive the detector's use of ctx
    TumblewatchContext ctx;
    TumblewatchDefault(&cfg);
    if (TumblewatchSet(&ctx, &cfg) < 0) {
        std::fprintf(stderr, "consumer: the detector refused its configuration\n");
        std::fclose(in);
        return 1;
    }

    unsigned char r[kRecordSize];
    while (std::fread(r, 1, sizeof r, in) == sizeof r) {
        const ImuSample sample{Int16At(r + 0), Int16At(r + 2), Int16At(r + 4),
                               Int16At(r + 6), Int16At(r + 8), Int16At(r + 10)};
        const int code = TumblewatchProcess(&ctx, &sample);
        if (code > 0) {
            std::printf("%04u : Fall (%d)\n", static_cast<unsigned>(TumblewatchSampleCount(&ctx)), code);
        }
    }
    const bool failed = std::ferror(in) != 0;
    TumblewatchClose(&ctx);  // frees what TumblewatchSet allocated
    std::fclose(in);
    if (failed) {
        std::fprintf(stderr, "consumer: %s: read error\n", argv[1]);
    }
    return failed ? 1 : 0;
}
