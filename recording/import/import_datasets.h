// The datasets an import knows: for each, how its files are found and
// grouped into trials (the plan), how their lines are parsed and how a
// trial's text becomes 50 Hz samples (the conversion). The runner
// (import_run.cpp) opens the files; the fuzz targets feed the same code
// from memory.
#ifndef RECORDING_IMPORT_IMPORT_DATASETS_H
#define RECORDING_IMPORT_IMPORT_DATASETS_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "import.h"
#include "import_convert.h"
#include "import_text.h"

// One trial to import: one recording.
struct ImportTrial {
    std::vector<std::string> sources;  // raw files relative to the raw folder ('/' between folders)
    std::string name;                  // output file name without its suffix
    std::string label;                 // "fall", "adl" or ""
    std::string activity;              // the dataset's code
    std::string subject;               // as in the name
    std::string trial;
    std::string description;  // "" when unknown
    bool referenceAtEnd;      // the axes' reference second is the last one (MobiFall CSO)
    std::string stamp = {};   // orders the takes of one trial (UMAFall: the name's date and time); "" for the path
    int take = 1;             // which file of its trial this is (ImportSortTakes)
};

// A converted trial.
struct ImportConverted {
    std::vector<ImportSample> samples;  // 50 Hz, g and deg/s, axes applied
    ImportAxes axes;
    std::string conversion;   // the resampling in words
    int64_t rawSamples = -1;  // the raw samples read (SisFall), -1 when not counted
};

// Why a trial could not be converted.
struct ImportFault {
    std::size_t source;  // index into the trial's sources
    int64_t line;        // 0 when no line is at fault
    std::string reason;
    bool passOver = false;  // the file is not the dataset's (a SisFall annotation): noted, not skipped
};

// What a dataset says of itself in the report and the CSV headers.
struct ImportDatasetInfo {
    const char* title;      // "SisFall"
    const char* placement;  // where the sensor was worn
    const char* citation;
    const char* licence;
    const char* published;           // where the dataset is published
    std::vector<std::string> rules;  // the conversion, one rule per entry
};

// The description of a dataset (for csv, of the settings' units and rate).
ImportDatasetInfo ImportInfoOf(const ImportSettings& settings);

// Groups the dataset's files among files (relative paths, in byte order)
// into trials; files of the dataset that make no trial (a MobiFall
// accelerometer file without its gyroscope file, ...) go to skipped with
// the reason. Other files are ignored.
void ImportPlan(const ImportSettings& settings, const std::vector<std::string>& files, std::vector<ImportTrial>* trials,
                std::vector<ImportSkip>* skipped);

// The note on a SisFall annotation file met among the raw files.
extern const char* const kImportAnnotationNote;

// Sorts out trials that share a name (ImportPlan's trials, in the order of
// their files, whose sources lie below rawBase). A byte-identical copy of
// an earlier trial's files is a duplicate, and a SisFall file in another
// subject's folder (SA15/D17_SE15_R01.txt) a stray copy: both go to notes
// and are passed over. Distinct files of one trial of a dataset are its
// takes, numbered 1, 2, ... by their stamps (then paths) and named
// NAME (take 1), NAME_t2, NAME_t3, ...; for csv, a later file whose name
// an earlier one has goes to skipped. Reads only files whose names meet.
void ImportSortTakes(const ImportSettings& settings, const std::string& rawBase, std::vector<ImportTrial>* trials,
                     std::vector<ImportSkip>* skipped, std::vector<ImportSkip>* notes);

// Converts one trial from the text of its sources (texts[i] reads
// trial.sources[i]). False with the fault.
bool ImportConvert(const ImportSettings& settings, const ImportTrial& trial, const std::vector<ImportLines*>& texts,
                   ImportConverted* converted, ImportFault* fault);

// --- SisFall: lines of nine comma-separated integers ending in ';'.
struct ImportSisFallRow {
    int32_t counts[9];  // ADXL345 x, y, z, ITG3200 x, y, z, MMA8451Q x, y, z
};
// Blank lines are Other; a data line gives its nine counts, each within
// -32768..32767.
ImportLineKind ImportParseSisFallLine(std::string_view line, ImportSisFallRow* row, std::string* reason);
void ImportPlanSisFall(const std::vector<std::string>& files, std::vector<ImportTrial>* trials);
bool ImportConvertSisFall(const ImportSettings& settings, ImportLines* text, ImportConverted* converted,
                          ImportFault* fault);

// --- MobiFall: "timestamp_ns,x,y,z" lines after "@DATA".
struct ImportTimedRow {
    double time;  // in the file's unit
    ImportVec3 v;
};
// Blank lines are Other; a data line has four numbers, the first (the time)
// not negative. The "@DATA" line and those before it are the reader's
// business.
ImportLineKind ImportParseMobiFallLine(std::string_view line, ImportTimedRow* row, std::string* reason);
void ImportPlanMobiFall(const std::vector<std::string>& files, std::vector<ImportTrial>* trials,
                        std::vector<ImportSkip>* skipped);
bool ImportConvertMobiFall(const ImportSettings& settings, const ImportTrial& trial, ImportLines* acc,
                           ImportLines* gyro, ImportConverted* converted, ImportFault* fault);

// --- UMAFall: "TimeStamp;SampleNo;X;Y;Z;SensorType;SensorID" lines of
// several sensors after '%' header lines.
struct ImportUmaFallRow {
    double time;  // ms
    ImportVec3 v;
    int64_t type;    // 0 accelerometer (g), 1 gyroscope (deg/s), 2 magnetometer
    int64_t sensor;  // the sensor's ID
};
// '%' lines and blank lines are Other; a data line has seven fields.
ImportLineKind ImportParseUmaFallLine(std::string_view line, ImportUmaFallRow* row, std::string* reason);
// True with the ID when line is a '%' header line "MAC; ID; WAIST; model".
bool ImportUmaFallWaist(std::string_view line, int64_t* sensor);
void ImportPlanUmaFall(const std::vector<std::string>& files, std::vector<ImportTrial>* trials);
bool ImportConvertUmaFall(const ImportSettings& settings, ImportLines* text, ImportConverted* converted,
                          ImportFault* fault);

// --- csv: delimited columns as the settings say.
struct ImportCsvRow {
    double values[kImportColumnCount];  // ax, ay, az, gx, gy, gz in the file's units, t (0 without a t column)
};
// Blank lines are Other; a data line must hold every configured column as a
// number.
ImportLineKind ImportParseCsvLine(std::string_view line, const ImportCsvSettings& csv, ImportCsvRow* row,
                                  std::string* reason);
void ImportPlanCsv(const ImportSettings& settings, const std::vector<std::string>& files,
                   std::vector<ImportTrial>* trials, std::vector<ImportSkip>* skipped);
bool ImportConvertCsv(const ImportSettings& settings, ImportLines* text, ImportConverted* converted,
                      ImportFault* fault);

// --- SisFall's per-sample annotation: one label per raw sample, 0
// background, 1 alert, 2 fall.
// A line holding one label (spaces and a carriage return around it
// allowed) is Data; anything else (a blank line included) is Bad, with the
// reason.
ImportLineKind ImportParseAnnotationLine(std::string_view line, int* label, std::string* reason);
// Reads an annotation and sets the phases of the 50 Hz recording made from
// it (output sample i takes the highest label of raw samples 4i..4i+3; a
// trailing part block is dropped, as the conversion drops it). The labels
// must number rawSamples, or when that is -1 (the raw file is not at hand),
// their blocks of four must number outSamples. False with the fault (the
// line, or 0 for the length); *phases is then unchanged.
bool ImportReadAnnotation(ImportLines* text, int64_t rawSamples, int64_t outSamples, ImportPhases* phases,
                          ImportFault* fault);
// The annotation file of a raw SisFall file, relative to the annotation's
// folder: the subject's folder and the raw file's name
// ("SA01/F01_SA01_R01.txt" for ".../SA01/F01_SA01_R01.txt").
std::string ImportAnnotationPath(const ImportTrial& trial);

// --- shared by the datasets.

// An activity of a dataset's documentation.
struct ImportActivity {
    const char* code;         // as the dataset writes it: "F01", "FOL", "Fall_forwardFall"
    const char* label;        // "fall" or "adl", or null when the file name says
    const char* words;        // in the recording's name: "forward_slip"
    const char* description;  // what it is, in the documentation's words
};

// Names a trial whose label, activity, subject and trial are set: the
// table's entry for its activity gives the words of its name, its
// description and (when the entry has one) its label; an activity the
// table lacks is named by fallbackWords. Sets trial->name last.
void ImportNameTrial(const ImportActivity* table, std::size_t count, const std::string& fallbackWords,
                     ImportTrial* trial);

// True, with the fault, when text stopped early (a read error, a line too
// long).
bool ImportTextFailed(const ImportLines& text, ImportFault* fault);

// Reads every line of text with parse, called as parse(line, &row,
// &reason) like the line parsers above, and hands each data row to take.
// False with the fault (the line and the reason) at the first bad line, or
// when the text stops early.
template <typename Row, typename Parse, typename Take>
bool ImportReadRows(ImportLines* text, Parse parse, Take take, ImportFault* fault)
{
    std::string_view line;
    Row row{};
    while (text->Next(&line)) {
        const ImportLineKind kind = parse(line, &row, &fault->reason);
        if (kind == ImportLineKind::Bad) {
            fault->line = text->number();
            return false;
        }
        if (kind == ImportLineKind::Data) {
            take(row);
        }
    }
    return !ImportTextFailed(*text, fault);
}

// Applies the map to every sample's accelerometer and gyroscope alike.
void ImportApplyAxes(const ImportAxes& axes, std::vector<ImportSample>* samples);

// The timed resampling of two streams (seconds; g and deg/s) to 50 Hz:
// repeated time stamps dropped, each stream planned from its median
// interval (always interpolated when interpolate is true), the grid over
// the time both cover. False with the reason.
bool ImportResampleTimed(std::vector<ImportTimed>* acc, std::vector<ImportTimed>* gyro, bool interpolate,
                         std::vector<ImportSample>* samples, std::string* conversion, std::string* reason);

// The name of a trial: "fall_" or "adl_" (or "unlabelled_"), the
// activity's words, the subject and "r" with the trial number, each part
// lower case and joined by '_', e.g. fall_forward_slip_sa01_r1.
std::string ImportTrialName(const std::string& label, const std::string& activityWords, const std::string& subject,
                            const std::string& trial);

// Lower case letters and digits of s, other runs as one '_', none at the
// ends ("Fall_forwardFall" -> "fall_forwardfall").
std::string ImportSlug(const std::string& s);

// Words of a code written in camel case or with '_' ("forwardFall" ->
// "forward fall", "Sitting_GettingUpOnAChair" -> "sitting getting up on a
// chair").
std::string ImportWords(const std::string& code);

// A decimal number without its leading zeros ("01" -> "1"; "0" stays).
std::string ImportNumberText(const std::string& digits);

// The last component of a relative path, and the folder before it ("" at the top).
std::string ImportBaseName(const std::string& path);
std::string ImportFolderOf(const std::string& path);

#endif
