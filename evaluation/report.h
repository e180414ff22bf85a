// The reports of an evaluation as text: JSON and CSV, written to any sink
// (a file being written, a string).
#ifndef EVALUATION_REPORT_H
#define EVALUATION_REPORT_H

#include <cstdio>
#include <string>
#include <vector>

#include "breakdown.h"
#include "eval_intervals.h"
#include "evaluation.h"
#include "file_rules.h"
#include "require.h"

// A requirement and how the evaluation did against it.
struct RequirementResult {
    Requirement requirement;
    double value;  // NaN when undefined
    bool met;
};

// Everything a report shows; the referenced objects outlive it.
struct EvalReport {
    const Evaluation* evaluation;
    const Metrics* metrics;
    const Breakdowns* breakdowns;
    const TumblewatchConfig* config;
    std::vector<std::string> arguments;  // the paths given
    std::string manifest;                // the manifest's path, empty for none
    double mergeSeconds;
    int threads;
    std::vector<RequirementResult> requirements;
    // The intervals to show (EvalIntervalsOf); null for the default ones
    // (IntervalDefaultSettings), which the reports then compute.
    const EvalIntervals* intervals = nullptr;
    std::vector<std::string> moreManifests{};  // the further manifests given, in order
    FallWindowSettings window{};               // the margins of a timed fall's window
};

// The intervals a report shows: *report.intervals, or the default ones.
EvalIntervals ReportIntervals(const EvalReport& report);

// Writes the whole evaluation as a JSON document (see the README for its
// schema) to sink, piece by piece: one recording at a time, never the
// whole document in memory. The text is what nlohmann::json's dump with an
// indent of 2 makes of the document, with a final newline.
void ReportJsonWrite(const EvalReport& report, const TextSink& sink);

// The same document as a string.
std::string ReportJson(const EvalReport& report);

// Writes one CSV row per recording, with a header line, to sink.
void ReportCsvWrite(const EvalReport& report, const TextSink& sink);

// The same rows as a string.
std::string ReportCsv(const EvalReport& report);

// The figures of the summary that are not metrics.
struct ReportCounts {
    int unreadable;  // not read completely
    int empty;       // read, without samples
    int unlabelled;  // counted, without a label
};

ReportCounts ReportCountsOf(const Evaluation& evaluation);

#endif
