// The reading rules of one line of a CSV recording, free of any file so
// that they can be tested and fuzzed on their own.
#ifndef RECORDING_CSV_LINE_H
#define RECORDING_CSV_LINE_H

#include <cstddef>

#include "tumblewatch.h"

// The row number of a row that sets the offset instead of being a sample.
constexpr int kOffsetRowNumber = -1;

// One data row: its row number and the six values as stored in a sample.
struct CsvRow {
    int rowNumber;
    ImuSample data;
};

// Parses one piece of a CSV recording (one read of at most 1023
// characters): the bytes text[0, size), ending early at a zero byte. Any
// bytes are accepted; text may be null when size is 0.
//
// The piece is skipped (false) unless its first character is a decimal
// digit or '-', and when it has fewer than seven fields. Fields are the
// non-empty runs between commas, so runs of commas are one separator; the
// line end belongs to the last field. Each field reads as atoi would
// (leading white space, optional sign, decimal digits), clamped to the int
// range. The first field is the row number; the next six are accel X, Y, Z
// and gyro X, Y, Z, multiplied by 100 when micom is true and cut to their
// low 16 bits. Further fields are ignored.
bool ParseCsvLine(const char* text, std::size_t size, bool micom, CsvRow* row);

// data plus offset, field by field, wrapping around in 16 bits.
ImuSample AddOffset(const ImuSample& data, const ImuSample& offset);

#endif
