// Fuzz target for the binary dataset reader. The input bytes become a file
// in a scratch folder, which is opened, read to its end and closed. Besides
// the sanitizers' checks, the reader's answers are compared with what the
// file's bytes say: accepted exactly when the header decodes (the magic and
// a non-negative record position), and every whole record after that
// position delivered once, as the format decodes it.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dataset.h"
#include "dataset_format.h"

namespace {

constexpr size_t kRecordSize = kDataSetRecordSize;
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

bool SameRecord(const ImuSample& s, const uint8_t* p)
{
    const ImuSample d = DataSetDecodeRecord(p);
    return s.accX == d.accX && s.accY == d.accY && s.accZ == d.accZ && s.gyroX == d.gyroX && s.gyroY == d.gyroY &&
           s.gyroZ == d.gyroZ;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static ScratchFile scratch;
    const char* path = scratch.Write(data, size);

    int32_t position = -1;
    std::string reason;
    const bool header = DataSetDecodeHeader(data, size, &position, &reason);

    DataSet* dataSet = DataSetOpen(path);
    Check((dataSet != nullptr) == header, "accepted or refused against its header");
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
