// Replay of a CSV recording through a fresh detector. The layout is chosen
// per file by the marker "micom.txt" in the current directory: the micom
// layout skips one header line and scales the values by 100, the default
// layout skips seven lines and takes the values as written. A row numbered
// -1 sets the offset that is added to every sample after it.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "bench.h"
#include "csv_line.h"
#include "replay_common.h"
#include "safe_files.h"

namespace {

constexpr int kMicomHeaderReads = 1;
constexpr int kDefaultHeaderReads = 7;

}  // namespace

bool FileExists(const char* path)
{
    // Asked without opening it, so that a FIFO of that name cannot block.
    return access(path, R_OK) == 0;
}

int ReplayCsvFile(const char* path)
{
    ImuSample data{};
    ImuSample offset{};

    std::string reason;
    FILE* csvFile = SafeOpenInput(path, &reason);
    if (csvFile == nullptr) {
        ReportFailure(path, reason);
        return -1;
    }
    BenchTrace trace;
    if (!OpenTraceBeside(path, csvFile, &trace)) {
        std::fclose(csvFile);
        return -1;
    }

    TumblewatchConfig cfg;
    TumblewatchContext detector;
    if (!StartDetector(&detector, &cfg)) {
        CloseTrace(path, &trace);
        std::fclose(csvFile);
        return -1;
    }

    const bool micom = FileExists(kMicomMarker);

    // Every read takes at most 1023 characters: a longer line is read in
    // pieces, each counted as a header read or parsed as a line of its own.
    char szTemp1[1024];
    const int headerReads = micom ? kMicomHeaderReads : kDefaultHeaderReads;
    for (int i = 0; i < headerReads; ++i) {
        if (std::fgets(szTemp1, sizeof szTemp1, csvFile) == nullptr) {
            break;
        }
    }

    // A read error ends the loop like the end of the file, and is reported.
    while (std::fgets(szTemp1, sizeof szTemp1, csvFile) != nullptr) {
        CsvRow row;
        if (!ParseCsvLine(szTemp1, std::strlen(szTemp1), micom, &row)) {
            continue;
        }
        if (row.rowNumber == kOffsetRowNumber) {
            offset = row.data;  // replaces the previous offset
            continue;
        }
        data = AddOffset(row.data, offset);
        const int code = TumblewatchProcess(&detector, &data);
        if (code > 0) {
            // The count after the call: the sample's 1-based position.
            std::printf("%04d : Fall (%d)\n", static_cast<int>(detector.sampleCount), code);
        }
        NoteTraceErrors(&trace);
    }
    const bool readFailed = std::ferror(csvFile) != 0;

    TumblewatchClose(&detector);
    const bool traced = CloseTrace(path, &trace);
    std::fclose(csvFile);
    if (readFailed) {
        ReportFailure(path, "reading stopped early: a read error");
    }
    return traced && !readFailed ? 0 : -1;
}
