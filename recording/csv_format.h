// The CSV recording in the default layout, written in this one place:
// seven header lines, then one row "row,ax,ay,az,gx,gy,gz" of raw counts per
// sample, numbered from 0 (the layout the readers take, see
// recording_reader.h).
#ifndef RECORDING_CSV_FORMAT_H
#define RECORDING_CSV_FORMAT_H

#include <string>
#include <vector>

#include "tumblewatch.h"

// The whole text of a CSV recording. header holds the header lines without
// their line ends; exactly seven are written: missing ones are written as
// "#", further ones are dropped. Each line is kept to one line (a line end
// inside it becomes a space) and cut, at a character boundary, to fit one
// read of the reader (1022 characters and the line end), so that a reader
// always skips exactly these seven lines.
std::string CsvRecordingText(const std::vector<std::string>& header, const std::vector<ImuSample>& samples);

#endif
