// Filling the report page's template.
#include "html_page.h"

#include <utility>

#include "html_assets.h"
#include "html_encode.h"

void HtmlSeriesBlockWrite(const std::string& name, const HtmlPart& packed, const std::string& failure,
                          const TextSink& sink)
{
    sink("<script type=\"text/plain\" id=\"series-" + HtmlEscape(name) + "\"");
    if (!failure.empty()) {
        sink(" data-failure=\"" + HtmlEscape(failure) + "\"></script>\n");
        return;
    }
    sink(">");
    packed(sink);
    sink("</script>\n");
}

void HtmlPageWrite(const std::string& title, const HtmlPart& data, const HtmlPart& series, const TextSink& sink)
{
    const TextSink safe = HtmlScriptSafeSink(sink);
    const std::pair<const char*, HtmlPart> fields[] = {
        {"TITLE", [&title](const TextSink& out) { out(HtmlEscape(title)); }},
        {"UPLOT_VERSION", [](const TextSink& out) { out(HtmlUplotVersion()); }},
        {"UPLOT_LICENSE",
         [](const TextSink& out) { out(HtmlEscape(std::string(HtmlAsset(HtmlAssetId::UplotLicense)))); }},
        {"UPLOT_CSS", [](const TextSink& out) { out(HtmlAsset(HtmlAssetId::UplotCss)); }},
        {"REPORT_CSS", [](const TextSink& out) { out(HtmlAsset(HtmlAssetId::ReportCss)); }},
        {"DATA", [&data, &safe](const TextSink&) { data(safe); }},
        {"SERIES", series},
        {"UPLOT_JS", [](const TextSink& out) { out(HtmlAsset(HtmlAssetId::UplotJs)); }},
        {"REPORT_JS", [](const TextSink& out) { out(HtmlAsset(HtmlAssetId::ReportJs)); }},
    };
    // Each @NAME@ of the template is replaced once; what is put in is never
    // searched again.
    const std::string_view page = HtmlAsset(HtmlAssetId::PageTemplate);
    std::size_t at = 0;
    while (at < page.size()) {
        const std::size_t mark = page.find('@', at);
        if (mark == std::string_view::npos) {
            sink(page.substr(at));
            break;
        }
        sink(page.substr(at, mark - at));
        bool replaced = false;
        for (const auto& [name, part] : fields) {
            const std::string key = std::string("@") + name + "@";
            if (page.compare(mark, key.size(), key) == 0) {
                part(sink);
                at = mark + key.size();
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            sink("@");
            at = mark + 1;
        }
    }
}

std::string HtmlPage(const std::string& title, const std::string& dataJson, const std::vector<HtmlSeriesBlock>& series)
{
    std::string out;
    const TextSink sink = [&out](std::string_view piece) { out += piece; };
    HtmlPageWrite(
        title, [&dataJson](const TextSink& data) { data(dataJson); },
        [&series](const TextSink& blocks) {
            for (const HtmlSeriesBlock& b : series) {
                HtmlSeriesBlockWrite(
                    b.name, [&b](const TextSink& packed) { packed(b.base64); }, std::string(), blocks);
            }
        },
        sink);
    return out;
}
