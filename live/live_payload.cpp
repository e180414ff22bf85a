// Decoding of live payloads: CSV lines and binary sample records.
#include "live_payload.h"

#include <algorithm>
#include <cstring>

#include "csv_line.h"

namespace {

// A byte that has no place in a text line: the C0 controls but tab and
// carriage return, and DEL.
bool IsControl(unsigned char c)
{
    return (c < 0x20 && c != '\t' && c != '\r') || c == 0x7f;
}

// One whole line of the current line buffer.
void EndLine(LivePayload* payload, std::vector<ImuSample>* samples)
{
    LiveCounts& counts = payload->counts;
    const std::size_t size = payload->lineSize;
    const bool tooLong = payload->lineTooLong;
    const bool binary = payload->lineBinary;
    payload->lineSize = 0;
    payload->lineTooLong = false;
    payload->lineBinary = false;
    if (tooLong) {
        ++counts.longLines;
        return;
    }
    if (binary) {
        ++counts.binaryLines;
        return;
    }
    if (size == 0 || (size == 1 && payload->line[0] == '\r')) {
        return;  // an empty line
    }
    CsvRow row{};
    if (!ParseCsvLine(payload->line, size, payload->format == LiveFormat::Micom, &row)) {
        ++counts.skippedLines;
        return;
    }
    if (row.rowNumber == kOffsetRowNumber) {
        payload->offset = row.data;  // replaces the previous offset
        return;
    }
    // Row numbers: 0 starts the numbering again (a device that restarted);
    // a row at or below the previous one is a repeat and dropped; a row past
    // the next one leaves samples out.
    const int64_t number = row.rowNumber;
    if (payload->lastRow >= 0 && number != 0) {
        if (number <= payload->lastRow) {
            ++counts.repeatedRows;
            return;
        }
        if (number > payload->lastRow + 1) {
            ++counts.rowGaps;
        }
    } else if (payload->lastRow > 0 && number == 0) {
        ++counts.rowGaps;
    }
    payload->lastRow = number;
    samples->push_back(AddOffset(row.data, payload->offset));
}

void FeedText(LivePayload* payload, const unsigned char* bytes, std::size_t size, std::vector<ImuSample>* samples)
{
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char c = bytes[i];
        if (c == '\n') {
            EndLine(payload, samples);
            continue;
        }
        if (payload->lineTooLong) {
            continue;
        }
        if (IsControl(c)) {
            payload->lineBinary = true;
        }
        if (payload->lineSize == kLiveLineMax) {
            payload->lineTooLong = true;
            continue;
        }
        payload->line[payload->lineSize++] = static_cast<char>(c);
    }
}

void FeedRecords(LivePayload* payload, const unsigned char* bytes, std::size_t size, std::vector<ImuSample>* samples)
{
    std::size_t i = 0;
    // A dataset header at the start of the stream: its first bytes are held
    // until they match the magic field or not.
    while (i < size && payload->headerSize < kDataSetHeaderSize && payload->streamBytes == payload->headerSize) {
        payload->header[payload->headerSize++] = bytes[i++];
        ++payload->streamBytes;
        const std::size_t compared = std::min(payload->headerSize, std::size_t{18});
        if (std::memcmp(payload->header, kDataSetMagic, compared) != 0) {
            // No header: the held bytes are records.
            const std::size_t held = payload->headerSize;
            payload->headerSize = kDataSetHeaderSize;  // never again in this stream
            for (std::size_t k = 0; k < held; ++k) {
                payload->record[payload->recordSize++] = payload->header[k];
                if (payload->recordSize == kDataSetRecordSize) {
                    samples->push_back(DataSetDecodeRecord(payload->record));
                    payload->recordSize = 0;
                }
            }
            break;
        }
        if (payload->headerSize == kDataSetHeaderSize) {
            int32_t position = 0;
            std::string reason;
            if (DataSetDecodeHeader(payload->header, kDataSetHeaderSize, &position, &reason)) {
                payload->headerSkip =
                    position > static_cast<int32_t>(kDataSetHeaderSize) ? position - kDataSetHeaderSize : 0;
            }
        }
    }
    for (; i < size; ++i) {
        ++payload->streamBytes;
        if (payload->headerSkip > 0) {
            --payload->headerSkip;
            continue;
        }
        payload->record[payload->recordSize++] = bytes[i];
        if (payload->recordSize == kDataSetRecordSize) {
            samples->push_back(DataSetDecodeRecord(payload->record));
            payload->recordSize = 0;
        }
    }
}

}  // namespace

bool LiveFormatFromName(const std::string& name, LiveFormat* format)
{
    if (name == "csv") {
        *format = LiveFormat::Csv;
    } else if (name == "micom") {
        *format = LiveFormat::Micom;
    } else if (name == "bin") {
        *format = LiveFormat::Bin;
    } else {
        return false;
    }
    return true;
}

void LiveCountsAdd(LiveCounts* a, const LiveCounts& b)
{
    a->skippedLines += b.skippedLines;
    a->tornLines += b.tornLines;
    a->longLines += b.longLines;
    a->binaryLines += b.binaryLines;
    a->tornRecords += b.tornRecords;
    a->repeatedRows += b.repeatedRows;
    a->rowGaps += b.rowGaps;
    a->dropped += b.dropped;
    a->gaps += b.gaps;
}

uint64_t LiveCountsBadInput(const LiveCounts& counts)
{
    return counts.tornLines + counts.longLines + counts.binaryLines + counts.tornRecords;
}

void LivePayloadInit(LivePayload* payload, LiveFormat format)
{
    *payload = LivePayload{};
    payload->format = format;
    payload->lastRow = -1;
}

void LivePayloadFeed(LivePayload* payload, const unsigned char* bytes, std::size_t size,
                     std::vector<ImuSample>* samples)
{
    if (payload->format == LiveFormat::Bin) {
        FeedRecords(payload, bytes, size, samples);
    } else {
        FeedText(payload, bytes, size, samples);
    }
}

void LivePayloadMessage(LivePayload* payload, const unsigned char* bytes, std::size_t size,
                        std::vector<ImuSample>* samples)
{
    if (payload->format == LiveFormat::Bin) {
        // Each message is records only: no header, no piece carried over.
        payload->headerSize = kDataSetHeaderSize;
        payload->recordSize = 0;
        payload->headerSkip = 0;
        FeedRecords(payload, bytes, size, samples);
        if (payload->recordSize != 0) {
            ++payload->counts.tornRecords;
            payload->recordSize = 0;
        }
        return;
    }
    payload->lineSize = 0;
    payload->lineTooLong = false;
    payload->lineBinary = false;
    FeedText(payload, bytes, size, samples);
    if (payload->lineSize != 0 || payload->lineTooLong || payload->lineBinary) {
        EndLine(payload, samples);
    }
}

void LivePayloadBreak(LivePayload* payload)
{
    if (payload->format == LiveFormat::Bin) {
        if (payload->recordSize != 0 || (payload->headerSize > 0 && payload->headerSize < kDataSetHeaderSize)) {
            ++payload->counts.tornRecords;
        }
        payload->recordSize = 0;
        payload->headerSize = 0;
        payload->headerSkip = 0;
        payload->streamBytes = 0;
        return;
    }
    if (payload->lineSize != 0 || payload->lineTooLong || payload->lineBinary) {
        ++payload->counts.tornLines;
    }
    payload->lineSize = 0;
    payload->lineTooLong = false;
    payload->lineBinary = false;
}

LiveCounts LivePayloadTakeCounts(LivePayload* payload)
{
    const LiveCounts counts = payload->counts;
    payload->counts = LiveCounts{};
    return counts;
}
