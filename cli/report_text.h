// The report of an evaluation on the terminal.
#ifndef CLI_REPORT_TEXT_H
#define CLI_REPORT_TEXT_H

#include <string>

#include "report.h"

// The terminal report, at most 100 columns wide: summary, confusion
// matrix, breakdowns, missed falls, false alarms, the recordings not read
// or not counted and what the search skipped. Names are made fit for a
// terminal.
std::string ReportText(const EvalReport& report);

#endif
