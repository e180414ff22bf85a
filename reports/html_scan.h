// The pages of a scan (one chart per parameter) and of an explanation
// (each missed fall and false alarm, its chart with the criteria's closest
// approaches marked). Each is one self-contained page.
#ifndef REPORTS_HTML_SCAN_H
#define REPORTS_HTML_SCAN_H

#include <nlohmann/json.hpp>
#include <string>

#include "explain.h"

// Cases of an explanation charted on its page at most (the others are
// listed with their figures).
constexpr std::size_t kHtmlExplainCharts = 200;

// The page of a scan from its document (ScanJson): per parameter, the
// sensitivity and the false alarms per hour against the value, the base
// value marked, in the order of the ranking.
std::string HtmlScanPage(const nlohmann::ordered_json& scan);

// The page of an explanation from its document (ExplainJson) and what it
// was made of: every case, and the first kHtmlExplainCharts cases' charts
// under the base configuration (each recording run once more through the
// whole pipeline, one at a time) with the closest approaches and the
// alarms marked.
std::string HtmlExplainPage(const nlohmann::ordered_json& document, const SweepData& data,
                            const Explanation& explanation);

#endif
