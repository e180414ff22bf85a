// Fuzz target for the binary dataset reader, reading the input from
// memory. Besides the sanitizers' checks, the reader's answers are compared
// with what the bytes say: accepted exactly when the header decodes (the
// magic and a non-negative record position), the reason given when not,
// and every whole record after that position delivered once, as the format
// decodes it, in batches of every size. A few inputs (by their hash) are
// also written to a file and read by the file reader, which must give the
// same answer and the same records.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "dataset.h"
#include "dataset_format.h"
#include "fuzz_support.h"

namespace {

constexpr const char* kTarget = "dataset_fuzzer";
constexpr size_t kRecordSize = kDataSetRecordSize;
constexpr int kMaxBatch = 5;

void Check(bool ok, const char* what)
{
    fuzz::Check(ok, kTarget, what);
}

bool SameRecord(const ImuSample& a, const ImuSample& b)
{
    return a.accX == b.accX && a.accY == b.accY && a.accZ == b.accZ && a.gyroX == b.gyroX && a.gyroY == b.gyroY &&
           a.gyroZ == b.gyroZ;
}

// Every record of an open dataset, in batches of 1 to kMaxBatch.
std::vector<ImuSample> ReadAll(DataSet* dataSet)
{
    std::vector<ImuSample> all;
    ImuSample records[kMaxBatch];
    int count = 1;
    for (;;) {
        const int n = DataSetRead(dataSet, records, count);
        Check(n >= 0 && n <= count, "read more records than asked for");
        all.insert(all.end(), records, records + n);
        if (n < count) {
            break;
        }
        count = count % kMaxBatch + 1;
    }
    Check(DataSetRead(dataSet, records, kMaxBatch) == 0, "delivered records after the end");
    Check(!DataSetFailed(dataSet), "a read from memory failed");
    return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    int32_t position = -1;
    std::string expectedReason;
    const bool header = DataSetDecodeHeader(data, size, &position, &expectedReason);

    std::string reason;
    DataSet* dataSet = DataSetOpenMemory(data, size, &reason);
    Check((dataSet != nullptr) == header, "accepted or refused against its header");
    Check(dataSet != nullptr || reason == expectedReason, "refused with another reason than the header's");
    std::vector<ImuSample> records;
    if (dataSet != nullptr) {
        records = ReadAll(dataSet);
        DataSetClose(dataSet);
        size_t at = static_cast<size_t>(position);
        for (const ImuSample& r : records) {
            Check(at <= size && size - at >= kRecordSize, "delivered a record past the end");
            Check(SameRecord(r, DataSetDecodeRecord(data + at)), "record differs from its bytes");
            at += kRecordSize;
        }
        Check(at >= size || size - at < kRecordSize, "left a whole record unread");
    }

    if (fuzz::AlsoFromFile(data, size)) {
        static fuzz::Scratch scratch(kTarget);
        const std::string path = scratch.Write("input.bin", data, size);
        std::string fileReason;
        DataSet* fromFile = DataSetOpenChecked(path.c_str(), &fileReason);
        Check((fromFile != nullptr) == header, "the file reader accepts or refuses otherwise");
        Check(fromFile != nullptr || fileReason == reason, "the file reader refuses with another reason");
        if (fromFile != nullptr) {
            const std::vector<ImuSample> fileRecords = ReadAll(fromFile);
            DataSetClose(fromFile);
            Check(fileRecords.size() == records.size(), "the file reader gives another number of records");
            for (size_t i = 0; i < records.size(); ++i) {
                Check(SameRecord(fileRecords[i], records[i]), "the file reader gives another record");
            }
        }
    }
    return 0;
}
