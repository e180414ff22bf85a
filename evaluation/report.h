// The reports of an evaluation as files: JSON and CSV.
#ifndef EVALUATION_REPORT_H
#define EVALUATION_REPORT_H

#include <cstdio>
#include <string>
#include <vector>

#include "breakdown.h"
#include "evaluation.h"
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
};

// The whole evaluation as a JSON document (see the README for its schema).
std::string ReportJson(const EvalReport& report);

// One CSV row per recording, with a header line.
std::string ReportCsv(const EvalReport& report);

// Writes text to path through a temporary file in the same folder and a
// rename, so that a failure leaves no partial file. False with a message.
bool ReportWriteFile(const std::string& path, const std::string& text, std::string* error);

#endif
