// The files a report page is made of, embedded in the program at build
// time: uPlot (the npm package uplot, pinned in web/package.json) with its
// licence, and the page's own template, script and style from
// workbench/html/.
#ifndef REPORTS_HTML_ASSETS_H
#define REPORTS_HTML_ASSETS_H

#include <cstddef>
#include <string_view>

enum class HtmlAssetId {
    UplotJs,       // uPlot.iife.min.js
    UplotCss,      // uPlot.min.css
    UplotLicense,  // uPlot's LICENSE
    PageTemplate,  // workbench/html/page.html
    ReportJs,      // workbench/html/report.js
    ReportCss,     // workbench/html/report.css
};

// The text of a file; static storage, valid for the whole process.
std::string_view HtmlAsset(HtmlAssetId id);

// The version of the embedded uPlot, e.g. "1.6.32"; static storage.
const char* HtmlUplotVersion();

#endif
