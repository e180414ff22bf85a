// Scans and explanations as JSON documents (the command line's --json,
// the Python module's results, the HTML pages' data).
#ifndef EVALUATION_SCAN_JSON_H
#define EVALUATION_SCAN_JSON_H

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "explain.h"
#include "scan.h"

// What a scan or an explanation ran on: its PATHs, manifest (empty for
// none) and event gap, and what loading left out.
struct ScanSource {
    std::vector<std::string> inputs;
    std::string manifest;
    double mergeSeconds;
};

// The document of a scan: "tool" "tumblewatch scan", the detector's
// version, the source, the base configuration and its figures, the
// labelled recordings ("recordings", which the change lists index), and
// per parameter its range, step, values' rows and reach; "ranking" names
// the parameters from the one that moves the front most.
nlohmann::ordered_json ScanJson(const ScanSource& source, const SweepData& data, const ScanPlan& plan,
                                const std::vector<ScanParamResult>& results);

// The document of an explanation: "tool" "tumblewatch explain", the
// version, source, configuration and figures, the scanned parameters, the
// recordings, and "cases": every missed fall and false alarm with its
// criteria's closest approaches or alarms and its changes.
nlohmann::ordered_json ExplainJson(const ScanSource& source, const SweepData& data, const Explanation& explanation);

// The parameter names of a scan document in rank order, with each one's
// rank; false with a message when text is not a document ScanJson wrote.
bool ScanJsonRanking(const std::string& text, std::vector<std::pair<std::string, int>>* ranking, std::string* error);

#endif
