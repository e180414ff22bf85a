// The payloads of a live stream: CSV recording lines (default or micom
// layout) or the 12-byte sample records of the binary dataset, chosen by
// the user, never guessed. One LivePayload decodes one device's stream,
// byte by byte as it arrives or message by message, and counts what it
// could not use.
#ifndef LIVE_LIVE_PAYLOAD_H
#define LIVE_LIVE_PAYLOAD_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dataset_format.h"
#include "tumblewatch.h"

enum class LiveFormat {
    Csv,    // "row,ax,ay,az,gx,gy,gz" lines in raw counts
    Micom,  // the same lines, values in hundredths (multiplied by 100)
    Bin,    // 12-byte records; a dataset header at the start of a stream is skipped
};

// The format a --format value names ("csv", "micom", "bin"); false for
// any other text.
bool LiveFormatFromName(const std::string& name, LiveFormat* format);

// What a stream carried that was not a sample, and how its sample numbers
// ran (CSV only: the rows carry them). All counts since the last
// LivePayloadTakeCounts.
struct LiveCounts {
    uint64_t skippedLines;  // lines that are no data row (headers, comments, too few fields)
    uint64_t tornLines;     // a line cut off by the end of the stream or a reconnect
    uint64_t longLines;     // lines longer than kLiveLineMax, dropped whole
    uint64_t binaryLines;   // lines holding zero or other control bytes, dropped whole
    uint64_t tornRecords;   // binary: a piece shorter than 12 bytes at a message's or stream's end
    uint64_t repeatedRows;  // CSV rows numbered at or below the previous row: dropped
    uint64_t rowGaps;       // CSV rows numbered past the next expected one (samples missing)
    uint64_t dropped;       // samples dropped because the device's queue was full
    uint64_t gaps;          // breaks of the stream: reconnects, a port that came back, a truncated file
};

// Adds b into a, count by count.
void LiveCountsAdd(LiveCounts* a, const LiveCounts& b);

// The bad input of counts: torn, long and binary lines and torn records.
uint64_t LiveCountsBadInput(const LiveCounts& counts);

// The longest line used, without its line end: the CSV reader's piece.
constexpr std::size_t kLiveLineMax = 1023;

// The decoding state of one stream. Plain storage; LivePayloadInit sets it.
struct LivePayload {
    LiveFormat format;
    ImuSample offset;  // CSV: added to every sample (a row numbered -1 sets it)
    int64_t lastRow;   // CSV: the previous data row's number, -1 before the first
    char line[kLiveLineMax + 1];
    std::size_t lineSize;  // bytes of the current line in line
    bool lineTooLong;      // the current line passed kLiveLineMax: dropped when it ends
    bool lineBinary;       // the current line holds a control byte: dropped when it ends
    unsigned char record[kDataSetRecordSize];
    std::size_t recordSize;                    // binary: bytes of the current record
    uint64_t streamBytes;                      // binary: bytes of the stream so far (to spot a header at its start)
    unsigned char header[kDataSetHeaderSize];  // binary: the first bytes while they may be a dataset header
    std::size_t headerSize;
    std::size_t headerSkip;  // binary: bytes still to skip up to the header's record position
    LiveCounts counts;
};

// Sets up payload for a new stream of the given format.
void LivePayloadInit(LivePayload* payload, LiveFormat format);

// Decodes size bytes of a stream, which may end anywhere (inside a line or
// a record: the rest waits for the next call). Appends each sample to
// *samples (which is not cleared; its storage is reused, so a caller that
// keeps the vector allocates nothing once it has grown).
void LivePayloadFeed(LivePayload* payload, const unsigned char* bytes, std::size_t size,
                     std::vector<ImuSample>* samples);

// Decodes one whole message (MQTT): a line that the message ends inside
// ends with it; binary, a piece of less than 12 bytes at its end is counted
// torn and dropped. Nothing is carried to the next message except the CSV
// offset and row number.
void LivePayloadMessage(LivePayload* payload, const unsigned char* bytes, std::size_t size,
                        std::vector<ImuSample>* samples);

// The stream broke (its end, a reconnect): a line or record it ended
// inside is counted torn and dropped; a binary stream may begin again with
// a header. The CSV offset and row number are kept.
void LivePayloadBreak(LivePayload* payload);

// Returns the counts since the last call and clears them.
LiveCounts LivePayloadTakeCounts(LivePayload* payload);

#endif
