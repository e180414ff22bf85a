// Filling the report page's template.
#include "html_page.h"

#include <utility>

#include "html_assets.h"
#include "html_encode.h"

std::string HtmlPage(const std::string& title, const std::string& dataJson, const std::vector<HtmlSeriesBlock>& series)
{
    std::string blocks;
    for (const HtmlSeriesBlock& b : series) {
        blocks += "<script type=\"text/plain\" id=\"series-" + HtmlEscape(b.name) + "\">" + b.base64 + "</script>\n";
    }
    const std::pair<const char*, std::string> fields[] = {
        {"TITLE", HtmlEscape(title)},
        {"UPLOT_VERSION", HtmlUplotVersion()},
        {"UPLOT_LICENSE", HtmlEscape(std::string(HtmlAsset(HtmlAssetId::UplotLicense)))},
        {"UPLOT_CSS", std::string(HtmlAsset(HtmlAssetId::UplotCss))},
        {"REPORT_CSS", std::string(HtmlAsset(HtmlAssetId::ReportCss))},
        {"DATA", HtmlScriptSafe(dataJson)},
        {"SERIES", blocks},
        {"UPLOT_JS", std::string(HtmlAsset(HtmlAssetId::UplotJs))},
        {"REPORT_JS", std::string(HtmlAsset(HtmlAssetId::ReportJs))},
    };
    // Each @NAME@ of the template is replaced once; what is put in is never
    // searched again.
    const std::string_view page = HtmlAsset(HtmlAssetId::PageTemplate);
    std::string out;
    std::size_t reserve = page.size();
    for (const auto& [name, text] : fields) {
        reserve += text.size();
    }
    out.reserve(reserve);
    std::size_t at = 0;
    while (at < page.size()) {
        const std::size_t mark = page.find('@', at);
        if (mark == std::string_view::npos) {
            out.append(page.substr(at));
            break;
        }
        out.append(page.substr(at, mark - at));
        bool replaced = false;
        for (const auto& [name, text] : fields) {
            const std::string key = std::string("@") + name + "@";
            if (page.compare(mark, key.size(), key) == 0) {
                out += text;
                at = mark + key.size();
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            out += '@';
            at = mark + 1;
        }
    }
    return out;
}
