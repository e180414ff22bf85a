// One reader for recordings in both formats: binary datasets (".bin") and
// CSV recordings (".csv", default or micom layout). It delivers exactly the
// samples a device would have fed the detector: a CSV file's header lines
// skipped, lines that are no data rows passed over, offset rows applied to
// the samples after them.
#ifndef RECORDING_RECORDING_READER_H
#define RECORDING_RECORDING_READER_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "dataset.h"
#include "tumblewatch.h"

enum class RecordingFormat {
    DataSet,  // ".bin"
    Csv,      // ".csv"
};

// The layout marker: a file of this name selects the micom layout for CSV
// recordings (the bench looks in the current folder, the workbench in the
// recording's own folder).
constexpr const char* kMicomMarker = "micom.txt";

// Header lines (pieces of at most 1023 characters) that a CSV reader skips.
constexpr int kCsvDefaultHeaderReads = 7;
constexpr int kCsvMicomHeaderReads = 1;

// The state of one open recording. Plain storage owned by the caller; it
// must stay at one address between RecordingOpen and RecordingClose.
struct RecordingReader {
    RecordingFormat format;
    bool micom;        // CSV only: the micom layout (one header line, values times 100)
    DataSet* dataSet;  // binary: the dataset reader, else null
    FILE* csv;         // CSV: the open file, else null
    ImuSample offset;  // CSV: the offset added to every sample (raw counts)
    char line[1024];   // CSV: the current piece of a line
    long samples;      // samples delivered so far
};

// The format that path's suffix names: ".bin" or ".csv" (a "_DSV.csv" file
// is no recording). False for any other path.
bool RecordingFormatOf(const std::string& path, RecordingFormat* format);

// Opens path (which must be a regular file: nothing blocks) in the given
// format; for CSV, micom selects the layout and the header lines are
// skipped here. Returns 0, or -1 with the reason in plain words in *reason
// (for a dataset, which header check failed). Allocates the stream and, for
// a dataset, the reader's handle; RecordingClose frees them.
int RecordingOpen(RecordingReader* reader, const std::string& path, RecordingFormat format, bool micom,
                  std::string* reason);

// RecordingOpen over size bytes in memory instead of a file: the same
// header handling and the same samples. The bytes are not copied and must
// stay alive and unchanged until RecordingClose. Returns 0, or -1 with the
// reason in *reason. Allocates as RecordingOpen does.
int RecordingOpenMemory(RecordingReader* reader, const unsigned char* bytes, size_t size, RecordingFormat format,
                        bool micom, std::string* reason);

// Reads the next sample into *sample. Returns 1 for a sample, 0 at the end
// of the recording, -1 when a read failed (the recording is cut short).
int RecordingNext(RecordingReader* reader, ImuSample* sample);

// Reads up to count samples; returns how many (0 at the end), or -1 when a
// read failed before any sample of this call was read.
int RecordingRead(RecordingReader* reader, ImuSample* samples, int count);

// The open stream of the recording, for comparing its identity with an
// output's. Owned by the reader.
FILE* RecordingStream(const RecordingReader* reader);

// Bytes of the file consumed so far (read ahead included), for progress.
int64_t RecordingBytesRead(const RecordingReader* reader);

// Closes the file and frees what RecordingOpen allocated; a reader that was
// never opened successfully is accepted after zero-initialisation.
void RecordingClose(RecordingReader* reader);

// Reads the rest of an open recording into *samples (replacing its
// content). Returns 0 at the end of the recording, or -1 with the reason in
// *reason when a read failed; the samples read so far are kept.
int RecordingReadAll(RecordingReader* reader, std::vector<ImuSample>* samples, std::string* reason);

// Reads a whole recording into *samples (replacing its content). Returns 0,
// or -1 with the reason in *reason; on a read error the samples read so far
// are kept.
int RecordingLoad(const std::string& path, RecordingFormat format, bool micom, std::vector<ImuSample>* samples,
                  std::string* reason);

#endif
