// The texts an import writes besides the recordings: each recording's CSV
// header, the manifest (manifest.csv) and the report (import.json); and the
// one place that writes files into the output folder.
#ifndef RECORDING_IMPORT_IMPORT_REPORT_H
#define RECORDING_IMPORT_IMPORT_REPORT_H

#include <string>
#include <vector>

#include "import.h"
#include "import_datasets.h"

// The seven header lines of a recording's CSV file: its name and label,
// sources, activity, conversion, axis map, counts and columns.
std::vector<std::string> ImportCsvHeader(const ImportSettings& settings, const ImportDatasetInfo& info,
                                         const ImportTrial& trial, const ImportRecording& recording);

// manifest.csv, written a row at a time: the header line, then one line
// per recording with the columns path, label, activity, subject, trial,
// dataset, source, samples, description, take, fall_start, fall_end,
// alert_start, alert_end (every field quoted when it holds a comma, a
// quote, a line feed or a carriage return; the phases empty when unknown).
std::string ImportManifestHeader();
std::string ImportManifestRow(const ImportSettings& settings, const ImportRecording& recording);

// import.json, written a piece at a time: the head (the dataset, its
// citation and licence note, the tool's version, the rules, and the opening
// of "recordings"), one piece per recording (first: the first of them),
// then the tail (every skipped and noted file, and the summary).
std::string ImportReportHead(const ImportSettings& settings, const ImportDatasetInfo& info);
std::string ImportReportRecording(const ImportRecording& recording, bool first);
std::string ImportReportTail(const ImportResult& result);

// Writes bytes to path through a temporary file in the same folder and a
// rename: the file is whole or absent. False with a message.
bool ImportWriteFile(const std::string& path, const std::string& bytes, std::string* error);

#endif
