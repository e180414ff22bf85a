// The two file formats of a generated recording: the binary dataset
// (NAME.bin) and the CSV recording in the default layout (NAME.csv).
#ifndef TOOLS_RECORDING_FILES_H
#define TOOLS_RECORDING_FILES_H

#include <string>
#include <vector>

#include "scenarios.h"
#include "tumblewatch.h"

namespace recgen {

// The CSV text: seven header lines (the last names the columns), then one
// row "row,ax,ay,az,gx,gy,gz" per sample, numbered from 0.
std::string CsvText(const Recording& recording);

// Writes folder/NAME.bin and folder/NAME.csv. Each file is written under
// a temporary name first and then renamed, so that a failed write never
// leaves a partial recording. On failure returns false and says why.
bool WriteRecording(const std::string& folder, const Recording& recording, std::string* error);

}  // namespace recgen

#endif
