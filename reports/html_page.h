// A self-contained report page: the embedded template filled with uPlot,
// the page's script and style, the report's data and the recordings'
// packed series. The page loads nothing when it is opened.
#ifndef REPORTS_HTML_PAGE_H
#define REPORTS_HTML_PAGE_H

#include <functional>
#include <string>
#include <vector>

#include "file_rules.h"

// A recording's packed series (ChartEncode), carried in the page under
// the element id "series-" + name.
struct HtmlSeriesBlock {
    std::string name;
    std::string base64;
};

// Writes a part of a page to the sink it is given.
using HtmlPart = std::function<void(const TextSink&)>;

// Writes the whole page to sink, piece by piece. title is plain text
// (escaped here); data writes the report's JSON (made safe here), which
// the page's script renders (its "kind" says which report it is: "eval",
// "plot" or "sweep"); series writes the series blocks (HtmlSeriesBlockWrite).
void HtmlPageWrite(const std::string& title, const HtmlPart& data, const HtmlPart& series, const TextSink& sink);

// Writes one series block: the element of id "series-" + name, holding
// what packed writes (base64 text); with a failure instead (not empty),
// the block is empty and the page shows the failure in place of the chart.
void HtmlSeriesBlockWrite(const std::string& name, const HtmlPart& packed, const std::string& failure,
                          const TextSink& sink);

// The whole page as a string, from the data's JSON text and whole blocks.
std::string HtmlPage(const std::string& title, const std::string& dataJson, const std::vector<HtmlSeriesBlock>& series);

#endif
