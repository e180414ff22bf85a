// The report of an evaluation on the terminal.
#ifndef CLI_REPORT_TEXT_H
#define CLI_REPORT_TEXT_H

#include <cstdio>

#include "report.h"

// Writes the terminal report, at most 100 columns wide, to out: summary,
// confusion matrix, breakdowns, missed falls, false alarms and unreadable
// recordings.
void ReportText(FILE* out, const EvalReport& report);

#endif
