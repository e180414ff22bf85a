// The reader of recordings in both formats; see recording_reader.h.
#include "recording_reader.h"

#include <cerrno>
#include <cstring>

#include "csv_line.h"
#include "safe_files.h"

namespace {

bool EndsWith(const std::string& s, const char* suffix)
{
    const size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// Samples taken from the file per read while a whole recording is loaded.
constexpr int kLoadBlock = 4096;

}  // namespace

bool RecordingFormatOf(const std::string& path, RecordingFormat* format)
{
    if (EndsWith(path, ".csv")) {
        if (EndsWith(path, "_DSV.csv")) {
            return false;
        }
        *format = RecordingFormat::Csv;
        return true;
    }
    if (EndsWith(path, ".bin")) {
        *format = RecordingFormat::DataSet;
        return true;
    }
    return false;
}

namespace {

void ResetReader(RecordingReader* reader, RecordingFormat format, bool micom)
{
    reader->format = format;
    reader->micom = micom;
    reader->dataSet = nullptr;
    reader->csv = nullptr;
    reader->offset = ImuSample{};
    reader->line[0] = '\0';
    reader->samples = 0;
}

// Takes the open CSV stream and skips the header lines of its layout.
void StartCsv(RecordingReader* reader, FILE* csv)
{
    reader->csv = csv;
    // Every read takes at most 1023 characters: a longer line is read in
    // pieces, each counted as a header read or parsed as a line of its own.
    const int headerReads = reader->micom ? kCsvMicomHeaderReads : kCsvDefaultHeaderReads;
    for (int i = 0; i < headerReads; ++i) {
        if (std::fgets(reader->line, sizeof reader->line, reader->csv) == nullptr) {
            break;
        }
    }
}

}  // namespace

int RecordingOpen(RecordingReader* reader, const std::string& path, RecordingFormat format, bool micom,
                  std::string* reason)
{
    ResetReader(reader, format, micom);
    if (format == RecordingFormat::DataSet) {
        reader->dataSet = DataSetOpenChecked(path.c_str(), reason);
        return reader->dataSet != nullptr ? 0 : -1;
    }
    FILE* csv = SafeOpenInput(path, reason);
    if (csv == nullptr) {
        return -1;
    }
    StartCsv(reader, csv);
    return 0;
}

int RecordingOpenMemory(RecordingReader* reader, const unsigned char* bytes, size_t size, RecordingFormat format,
                        bool micom, std::string* reason)
{
    ResetReader(reader, format, micom);
    if (format == RecordingFormat::DataSet) {
        reader->dataSet = DataSetOpenMemory(bytes, size, reason);
        return reader->dataSet != nullptr ? 0 : -1;
    }
    // A stream over the bytes (read only: fmemopen's pointer is not const).
    static char noBytes[1] = {0};
    FILE* csv = size > 0 ? fmemopen(const_cast<unsigned char*>(bytes), size, "r") : fmemopen(noBytes, 0, "r");
    if (csv == nullptr) {
        *reason = "cannot be read: " + SafeErrorText(errno);
        return -1;
    }
    StartCsv(reader, csv);
    return 0;
}

int RecordingNext(RecordingReader* reader, ImuSample* sample)
{
    if (reader->format == RecordingFormat::DataSet) {
        if (DataSetRead(reader->dataSet, sample, 1) == 1) {
            ++reader->samples;
            return 1;
        }
        return DataSetFailed(reader->dataSet) ? -1 : 0;
    }
    while (std::fgets(reader->line, sizeof reader->line, reader->csv) != nullptr) {
        CsvRow row;
        if (!ParseCsvLine(reader->line, std::strlen(reader->line), reader->micom, &row)) {
            continue;
        }
        if (row.rowNumber == kOffsetRowNumber) {
            reader->offset = row.data;  // replaces the previous offset
            continue;
        }
        *sample = AddOffset(row.data, reader->offset);
        ++reader->samples;
        return 1;
    }
    return std::ferror(reader->csv) != 0 ? -1 : 0;
}

int RecordingRead(RecordingReader* reader, ImuSample* samples, int count)
{
    if (reader->format == RecordingFormat::DataSet) {
        const int n = DataSetRead(reader->dataSet, samples, count);
        reader->samples += n;
        return n == 0 && DataSetFailed(reader->dataSet) ? -1 : n;
    }
    int n = 0;
    while (n < count) {
        const int got = RecordingNext(reader, &samples[n]);
        if (got < 0) {
            return n > 0 ? n : -1;
        }
        if (got == 0) {
            break;
        }
        ++n;
    }
    return n;
}

FILE* RecordingStream(const RecordingReader* reader)
{
    return reader->format == RecordingFormat::DataSet ? (reader->dataSet != nullptr ? reader->dataSet->file : nullptr)
                                                      : reader->csv;
}

int64_t RecordingBytesRead(const RecordingReader* reader)
{
    FILE* stream = RecordingStream(reader);
    const long at = stream != nullptr ? std::ftell(stream) : -1;
    return at > 0 ? static_cast<int64_t>(at) : 0;
}

void RecordingClose(RecordingReader* reader)
{
    DataSetClose(reader->dataSet);
    reader->dataSet = nullptr;
    if (reader->csv != nullptr) {
        std::fclose(reader->csv);
        reader->csv = nullptr;
    }
}

int RecordingReadAll(RecordingReader* reader, std::vector<ImuSample>* samples, std::string* reason)
{
    samples->clear();
    for (;;) {
        const size_t at = samples->size();
        samples->resize(at + kLoadBlock);
        const int n = RecordingRead(reader, samples->data() + at, kLoadBlock);
        samples->resize(at + static_cast<size_t>(n > 0 ? n : 0));
        if (n < 0) {
            *reason = "reading stopped early: a read error";
            return -1;
        }
        if (n == 0) {
            return 0;
        }
    }
}

int RecordingLoad(const std::string& path, RecordingFormat format, bool micom, std::vector<ImuSample>* samples,
                  std::string* reason)
{
    samples->clear();
    RecordingReader reader{};
    if (RecordingOpen(&reader, path, format, micom, reason) != 0) {
        return -1;
    }
    const int result = RecordingReadAll(&reader, samples, reason);
    RecordingClose(&reader);
    return result;
}
