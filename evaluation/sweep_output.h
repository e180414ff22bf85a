// The output file of a sweep: a header that identifies the sweep, then one
// row per configuration, as CSV or as JSON lines. The same module reads
// such a file back, to resume a sweep or to report on a finished one.
#ifndef EVALUATION_SWEEP_OUTPUT_H
#define EVALUATION_SWEEP_OUTPUT_H

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sweep.h"

enum class SweepFormat {
    Csv,    // a "# tumblewatch sweep ..." line, a header line, then rows
    Jsonl,  // a {"tumblewatch_sweep": {...}} line, then one object per row
};

// What identifies a sweep's output and how its rows are laid out.
struct SweepLayout {
    SweepFormat format;
    std::string id;                    // 16 hex digits over inputs, base configuration, grids, ranges, seed, folds
    std::string description;           // for people: the inputs and the varied parameters in words
    std::vector<std::string> varied;   // the varied parameters' names, in row order
    int folds;                         // held-out groups whose figures the rows carry; 0 for none
    std::vector<std::string> columns;  // the metric columns, after "config" and the varied values
};

// The metric columns of a row, after "config" and the varied values:
//   tp, fn, fp, tn, sensitivity, specificity, f1, false_alarms_per_hour,
//   latency_median, false_alarm_events    over every labelled recording;
// with folds > 0 also
//   tune_sensitivity, tune_specificity, tune_f1, tune_false_alarms_per_hour,
//   held_sensitivity, held_specificity, held_f1, held_false_alarms_per_hour:
//     each the mean over the folds of that figure on the fold's tuning part
//     (the other groups) or on its held-out group (the same configuration
//     on both: no selection happens per fold);
//   foldK_tp, foldK_fn, foldK_fp, foldK_tn, foldK_false_alarm_events for
//     K = 1..folds: the counts on held-out group K, from which, with the
//     counts over every recording, every per-fold figure follows exactly.
std::vector<std::string> SweepMetricColumns(int folds);

// The metric columns that the previous versions wrote (without the false
// alarm events and the per-fold counts): such files can be read and
// reported on, not resumed.
std::vector<std::string> SweepLegacyMetricColumns(bool folds);

// True for the columns that hold counts (written as whole numbers).
bool SweepColumnIsCount(const std::string& column);

// A rate as the rows write it in JSON: rounded to six decimals, null when
// undefined.
nlohmann::ordered_json SweepJsonRate(double v);

// The header text (ends in a newline); layout.columns must be
// SweepMetricColumns(layout.folds).
std::string SweepHeaderText(const SweepLayout& layout);

// A row (ends in a newline); refused configurations have no row.
std::string SweepRowText(const SweepLayout& layout, const std::vector<int>& variedParams, const SweepRow& row);

// A row read back.
struct SweepRecord {
    int64_t index;
    std::vector<int32_t> values;                          // of layout.varied
    std::vector<std::pair<std::string, double>> metrics;  // by column, NaN when empty or null
    double Metric(const std::string& name) const;         // NaN when absent
};

// Reads a sweep output: its layout (the columns as the file has them, this
// version's or a previous one's), then each complete row in turn (a last
// line without its newline, left by a stopped sweep, is not a row). onRow
// may refuse a row with a message. *completeBytes receives the length of
// the file up to the end of its last complete line. False with a message
// when the file cannot be read, is not a sweep output, or a row is
// malformed or refused.
bool SweepReadFile(const std::string& path, SweepLayout* layout,
                   const std::function<bool(const SweepRecord&, std::string*)>& onRow, uint64_t* completeBytes,
                   std::string* error);

// SweepReadFile over the bytes of a sweep output in memory, read line by
// line as the file would be; name stands for the file in messages.
bool SweepReadText(const std::string& name, std::string_view bytes, SweepLayout* layout,
                   const std::function<bool(const SweepRecord&, std::string*)>& onRow, uint64_t* completeBytes,
                   std::string* error);

// The identifier of a sweep: a 64-bit FNV-1a hash of text, in hex.
std::string SweepId(const std::string& text);

#endif
