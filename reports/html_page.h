// A self-contained report page: the embedded template filled with uPlot,
// the page's script and style, the report's data and the recordings'
// packed series. The page loads nothing when it is opened.
#ifndef REPORTS_HTML_PAGE_H
#define REPORTS_HTML_PAGE_H

#include <string>
#include <vector>

// A recording's packed series (ChartEncode), carried in the page under
// the element id "series-" + name.
struct HtmlSeriesBlock {
    std::string name;
    std::string base64;
};

// The whole page. title is plain text (escaped here); dataJson is the
// report's JSON (made safe here) that the page's script renders; its "kind"
// says which report it is ("eval", "plot" or "sweep").
std::string HtmlPage(const std::string& title, const std::string& dataJson, const std::vector<HtmlSeriesBlock>& series);

#endif
