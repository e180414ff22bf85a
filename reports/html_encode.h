// Turning data into text that a self-contained page can carry: zlib
// compression, base64, and text made safe inside HTML.
#ifndef REPORTS_HTML_ENCODE_H
#define REPORTS_HTML_ENCODE_H

#include <string>

// bytes compressed in the zlib format (what a browser's
// DecompressionStream("deflate") reads), at a level that favours speed.
std::string HtmlDeflate(const std::string& bytes);

// bytes as base64 text (standard alphabet, padded, no line breaks).
std::string HtmlBase64(const std::string& bytes);

// text with &, <, >, " and ' written as character references, for HTML
// text and attribute values.
std::string HtmlEscape(const std::string& text);

// JSON text made safe inside a script element: every '<' (which JSON holds
// only inside strings) written as the escape \u003c, so that nothing in it
// can end or change the element; the JSON's meaning is unchanged.
std::string HtmlScriptSafe(const std::string& json);

#endif
