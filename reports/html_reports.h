// The HTML reports: an evaluation with the chart of each recording, the
// chart of a single recording, and the scatter of a sweep's
// configurations. Each is one self-contained page.
#ifndef REPORTS_HTML_REPORTS_H
#define REPORTS_HTML_REPORTS_H

#include <nlohmann/json.hpp>
#include <string>

#include "chart.h"
#include "progress.h"
#include "report.h"
#include "sweep.h"

// Writes the evaluation's page to sink, piece by piece: the summary,
// confusion matrix and breakdowns, the recordings (missed falls and false
// alarms first) and the chart of every recording that was read, which is
// read again and run through the detector with the report's configuration,
// one at a time (memory holds one chart, within kChartMaxValues values per
// series). A recording that cannot be charted now (it went or changed since
// it was evaluated) carries the reason instead of a chart. progress (may
// be null) counts the recordings charted and the samples and bytes read,
// and is shown (ProgressShow) as they are read.
void HtmlEvalPageWrite(const EvalReport& report, const TextSink& sink, Progress* progress = nullptr);

// The same page as a string.
std::string HtmlEvalPage(const EvalReport& report);

// Writes the page of one recording to sink: report holds the evaluation of
// that recording alone, chart its series (captured with the same
// configuration).
void HtmlPlotPageWrite(const EvalReport& report, const RecordingChart& chart, const TextSink& sink);

// The same page as a string.
std::string HtmlPlotPage(const EvalReport& report, const RecordingChart& chart);

// The page of a sweep from its output file at path: sensitivity against
// false alarms per hour for every configuration, the Pareto front, the
// base configuration and, with folds, the tuning and held-out figures.
// base is the base configuration's row when the sweep has just evaluated
// it, else null (its configuration is then found among the rows from the
// file's description). summary, when not null, is the sweep's summary
// (SweepSummaryJson) and adds the nested selection: per fold the chosen
// configuration, its held-out figures and how far they lie from the fold's
// tuning front. False with a message when the file cannot be read, is not
// a sweep's output or the summary is of another sweep.
bool HtmlSweepPage(const std::string& path, const SweepRow* base, const nlohmann::ordered_json* summary,
                   std::string* page, std::string* error);

#endif
