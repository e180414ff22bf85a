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

// manifest.csv: a header line, then one line per recording with the
// columns path, label, activity, subject, trial, dataset, source, samples,
// description (fields quoted when they hold a comma, a quote or a line end).
std::string ImportManifestText(const ImportSettings& settings, const ImportResult& result);

// import.json: the dataset, its citation and licence note, the tool's
// version, the rules applied, every recording and every skipped file.
std::string ImportReportJson(const ImportSettings& settings, const ImportDatasetInfo& info, const ImportResult& result);

// Writes bytes to path through a temporary file in the same folder and a
// rename: the file is whole or absent. False with a message.
bool ImportWriteFile(const std::string& path, const std::string& bytes, std::string* error);

#endif
