// Fuzz target for the binary dataset reader. The input bytes become a file
// in a scratch folder, which is opened, read to its end and closed. Besides
// the sanitizers' checks, the reader's answers are compared with what the
// file's bytes say: accepted exactly with the magic and a non-negative
// record position, and every whole record after that position delivered
// once, decoded as little-endian 16-bit values.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dataset.h"

namespace {

constexpr size_t kHeaderSize = 24;
constexpr size_t kRecordSize = 12;
constexpr int kMaxBatch = 5;

// The one scratch file of this process, in a folder made under $TMPDIR on
// first use and removed at exit.
class ScratchFile {
public:
    ScratchFile()
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string templ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tumblewatch-fuzz-XXXXXX";
        if (mkdtemp(templ.data()) == nullptr) {
            std::perror("dataset_fuzzer: mkdtemp");
            std::abort();
        }
        dir_ = templ;
        path_ = dir_ + "/input.bin";
    }
    ~ScratchFile()
    {
        std::remove(path_.c_str());
        rmdir(dir_.c_str());
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const char* Write(const uint8_t* data, size_t size)
    {
        FILE* f = std::fopen(path_.c_str(), "wb");
        if (f == nullptr || (size > 0 && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0) {
            std::perror("dataset_fuzzer: cannot write the scratch file");
            std::abort();
        }
        return path_.c_str();
    }

private:
    std::string dir_;
    std::string path_;
};

void Check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "dataset_fuzzer: %s\n", what);
        std::abort();
    }
}

int16_t Int16At(const uint8_t* p)
{
    return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}

int32_t Int32At(const uint8_t* p)
{
    const uint32_t u = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                       (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    return static_cast<int32_t>(u);
}

bool SameRecord(const ImuSample& s, const uint8_t* p)
{
    return s.accX == Int16At(p) && s.accY == Int16At(p + 2) && s.accZ == Int16At(p + 4) && s.gyroX == Int16At(p + 6) &&
           s.gyroY == Int16At(p + 8) && s.gyroZ == Int16At(p + 10);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static ScratchFile scratch;
    const char* path = scratch.Write(data, size);

    const bool whole = size >= kHeaderSize;
    const bool magic = whole && std::memcmp(data, "QX DataSet V1.0.0", 18) == 0;
    const int32_t position = whole ? Int32At(data + 20) : -1;

    DataSet* dataSet = DataSetOpen(path);
    Check((dataSet != nullptr) == (magic && position >= 0), "accepted or refused against its header");
    if (dataSet == nullptr) {
        return 0;
    }

    // Batches of 1 to kMaxBatch records; the bench itself always asks for one.
    ImuSample records[kMaxBatch];
    size_t at = static_cast<size_t>(position);
    int count = 1;
    for (;;) {
        const int n = DataSetRead(dataSet, records, count);
        Check(n >= 0 && n <= count, "read more records than asked for");
        for (int i = 0; i < n; ++i) {
            Check(at <= size && size - at >= kRecordSize, "delivered a record past the end of the file");
            Check(SameRecord(records[i], data + at), "record differs from its bytes");
            at += kRecordSize;
        }
        if (n < count) {
            break;
        }
        count = count % kMaxBatch + 1;
    }
    Check(DataSetRead(dataSet, records, kMaxBatch) == 0, "delivered records after the end");
    Check(at >= size || size - at < kRecordSize, "left a whole record unread");
    DataSetClose(dataSet);
    return 0;
}
