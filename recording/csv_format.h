// CSV written in this one place: the CSV recording in the default layout
// (seven header lines, then one row "row,ax,ay,az,gx,gy,gz" of raw counts
// per sample, numbered from 0: the layout the readers take, see
// recording_reader.h), and the fields of CSV tables (manifests, reports).
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

// A field of a CSV table: as it is, or in double quotes (a quote inside
// doubled) when it holds a comma, a quote or a line end, starts or ends
// with a space or a tab, or starts with '#'.
std::string CsvField(const std::string& text);

#endif
