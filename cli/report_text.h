// The report of an evaluation on the terminal.
#ifndef CLI_REPORT_TEXT_H
#define CLI_REPORT_TEXT_H

#include <cstddef>
#include <string>

#include "report.h"

// The terminal report, at most 100 columns wide: summary, confusion
// matrix, breakdowns, missed falls, false alarms, the recordings not read
// or not counted and what the search skipped. Names are made fit for a
// terminal.
std::string ReportText(const EvalReport& report);

// Which recordings the lists of missed falls and false alarms show.
enum class ReportListMode {
    First,   // the first count of each list
    All,     // every one
    Missed,  // every missed fall, no false alarm
    Alarms,  // every false alarm, no missed fall
    None,    // none: the counts alone
};

struct ReportListing {
    ReportListMode mode;
    std::size_t count;  // for First
};

// Recordings of each list shown by default.
constexpr std::size_t kReportListDefault = 10;

// Reads --list: N (0 to 1,000,000,000), all, missed, alarms or none. False
// with a message otherwise.
bool ReportParseListing(const std::string& text, ReportListing* listing, std::string* error);

// The terminal report with the lists as listing says; the recordings a list
// leaves out are counted in a line below it. ReportText(report) lists the
// first kReportListDefault of each.
std::string ReportText(const EvalReport& report, const ReportListing& listing);

#endif
