// Fuzz target for the recording reader over whole files, read from memory.
// The first byte chooses the format (a binary dataset, a CSV recording in
// the default or the micom layout) and the read pattern; the rest is the
// file. The samples are compared with a plain reference: for CSV the bytes
// cut into the reader's pieces (a line, or 1023 characters of a longer one,
// each up to its first zero byte), the layout's header pieces skipped, every
// piece parsed by the line parser (which its own target checks), offset
// rows applied to the samples after them; for a dataset the header decoded
// and the whole records after its position. A few inputs (by their hash)
// are also written to a file and loaded from it: the same samples.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "csv_line.h"
#include "dataset_format.h"
#include "fuzz_support.h"
#include "recording_reader.h"

namespace {

constexpr const char* kTarget = "recording_fuzzer";
constexpr size_t kPiece = sizeof(RecordingReader{}.line) - 1;

void Check(bool ok, const char* what)
{
    fuzz::Check(ok, kTarget, what);
}

bool Same(const ImuSample& a, const ImuSample& b)
{
    return a.accX == b.accX && a.accY == b.accY && a.accZ == b.accZ && a.gyroX == b.gyroX && a.gyroY == b.gyroY &&
           a.gyroZ == b.gyroZ;
}

bool SameSamples(const std::vector<ImuSample>& a, const std::vector<ImuSample>& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (!Same(a[i], b[i])) {
            return false;
        }
    }
    return true;
}

std::vector<ImuSample> ReferenceCsv(const uint8_t* data, size_t size, bool micom)
{
    std::vector<ImuSample> samples;
    ImuSample offset{};
    int skip = micom ? kCsvMicomHeaderReads : kCsvDefaultHeaderReads;
    for (size_t at = 0; at < size;) {
        size_t end = at;
        while (end < size && end - at < kPiece && data[end] != '\n') {
            ++end;
        }
        if (end < size && end - at < kPiece) {
            ++end;  // the line end belongs to the piece
        }
        const char* piece = reinterpret_cast<const char*>(data + at);
        const size_t length = strnlen(piece, end - at);
        at = end;
        if (skip > 0) {
            --skip;
            continue;
        }
        CsvRow row{};
        if (!ParseCsvLine(piece, length, micom, &row)) {
            continue;
        }
        if (row.rowNumber == kOffsetRowNumber) {
            offset = row.data;
        } else {
            samples.push_back(AddOffset(row.data, offset));
        }
    }
    return samples;
}

bool ReferenceDataSet(const uint8_t* data, size_t size, std::vector<ImuSample>* samples)
{
    int32_t position = 0;
    std::string reason;
    if (!DataSetDecodeHeader(data, size, &position, &reason)) {
        return false;
    }
    for (size_t at = static_cast<size_t>(position); at < size && size - at >= kDataSetRecordSize;
         at += kDataSetRecordSize) {
        samples->push_back(DataSetDecodeRecord(data + at));
    }
    return true;
}

// Reads an open recording in calls of count samples (0: sample by sample).
int ReadIn(RecordingReader* reader, int count, std::vector<ImuSample>* samples)
{
    ImuSample block[7];
    for (;;) {
        const int n = count == 0 ? RecordingNext(reader, block) : RecordingRead(reader, block, count);
        if (n <= 0) {
            return n;
        }
        samples->insert(samples->end(), block, block + n);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    const uint8_t choice = data[0];
    const RecordingFormat format = (choice & 3) == 0 ? RecordingFormat::DataSet : RecordingFormat::Csv;
    const bool micom = (choice & 3) == 2;
    const int count = (choice >> 2) % 8;  // 0 for RecordingNext, else RecordingRead by count
    const uint8_t* file = data + 1;
    const size_t fileSize = size - 1;

    std::vector<ImuSample> expected;
    const bool valid = format == RecordingFormat::Csv ? (expected = ReferenceCsv(file, fileSize, micom), true)
                                                      : ReferenceDataSet(file, fileSize, &expected);

    // A copy of exactly the file's bytes, so that a read past them is caught.
    const std::vector<uint8_t> bytes(file, file + fileSize);
    RecordingReader reader{};
    std::string reason;
    const bool opened = RecordingOpenMemory(&reader, bytes.data(), bytes.size(), format, micom, &reason) == 0;
    Check(opened == valid, "opened or refused against the reference");
    Check(opened || !reason.empty(), "refused without a reason");
    std::vector<ImuSample> samples;
    if (opened) {
        Check(ReadIn(&reader, count, &samples) == 0, "a read from memory failed");
        Check(reader.samples == static_cast<long>(samples.size()), "miscounted its samples");
        RecordingClose(&reader);
        Check(SameSamples(samples, expected), "samples differ from the reference");
    }

    if (fuzz::AlsoFromFile(data, size)) {
        static fuzz::Scratch scratch(kTarget);
        const std::string path =
            scratch.Write(format == RecordingFormat::Csv ? "input.csv" : "input.bin", file, fileSize);
        std::vector<ImuSample> loaded;
        std::string fileReason;
        const bool read = RecordingLoad(path, format, micom, &loaded, &fileReason) == 0;
        Check(read == opened, "the file reader accepts or refuses otherwise");
        Check(read || fileReason == reason, "the file reader refuses with another reason");
        Check(SameSamples(loaded, samples), "the file reader gives other samples");
    }
    return 0;
}
