// The output file of a sweep: a header that identifies the sweep, then one
// row per configuration, as CSV or as JSON lines. The same module reads
// such a file back, to resume a sweep or to report on a finished one.
#ifndef EVALUATION_SWEEP_OUTPUT_H
#define EVALUATION_SWEEP_OUTPUT_H

#include <cstdint>
#include <functional>
#include <string>
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
    std::string id;                   // 16 hex digits over inputs, base configuration, grids, ranges, seed, folds
    std::string description;          // for people: the inputs and the varied parameters in words
    std::vector<std::string> varied;  // the varied parameters' names, in row order
    bool folds;                       // rows carry tuning and held-out metrics
};

// The metric columns of a row, after "config" and the varied values.
std::vector<std::string> SweepMetricColumns(bool folds);

// The header text (ends in a newline).
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

// Reads a sweep output: its layout, then each complete row in turn (a last
// line without its newline, left by a stopped sweep, is not a row). onRow
// may refuse a row with a message. *completeBytes receives the length of
// the file up to the end of its last complete line. False with a message
// when the file cannot be read, is not a sweep output, or a row is
// malformed or refused.
bool SweepReadFile(const std::string& path, SweepLayout* layout,
                   const std::function<bool(const SweepRecord&, std::string*)>& onRow, uint64_t* completeBytes,
                   std::string* error);

// The identifier of a sweep: a 64-bit FNV-1a hash of text, in hex.
std::string SweepId(const std::string& text);

#endif
