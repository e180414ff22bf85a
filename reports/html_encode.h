// Turning data into text that a self-contained page can carry: zlib
// compression and base64 (in one go or piece by piece), and text made safe
// inside HTML.
#ifndef REPORTS_HTML_ENCODE_H
#define REPORTS_HTML_ENCODE_H

#include <zlib.h>

#include <string>
#include <string_view>

#include "file_rules.h"

// bytes as base64 text (standard alphabet, padded, no line breaks).
std::string HtmlBase64(const std::string& bytes);

// Bytes compressed in the zlib format (what a browser's
// DecompressionStream("deflate") reads), at a level that favours speed,
// and written to a sink as base64 text as they come: memory stays bounded
// however many bytes pass. Plain storage owned by the caller, at one
// address from HtmlPackBegin to HtmlPackEnd.
struct HtmlPackStream {
    z_stream zlib;
    const TextSink* sink;  // outlives the stream
    unsigned char carry[3];
    int carried;  // bytes of carry not yet written as base64
};

// Starts a stream into sink. Throws std::bad_alloc when zlib has no memory.
void HtmlPackBegin(HtmlPackStream* stream, const TextSink& sink);

// Compresses and writes size more bytes.
void HtmlPackWrite(HtmlPackStream* stream, const char* data, std::size_t size);

// Ends the compressed data and the base64 text, and frees zlib's state.
void HtmlPackEnd(HtmlPackStream* stream);

// text with &, <, >, " and ' written as character references, for HTML
// text and attribute values.
std::string HtmlEscape(const std::string& text);

// JSON text made safe inside a script element: every '<' (which JSON holds
// only inside strings) written as the escape \u003c, so that nothing in it
// can end or change the element; the JSON's meaning is unchanged.
std::string HtmlScriptSafe(std::string_view json);

// A sink that writes what it is given to sink made safe as HtmlScriptSafe
// does; sink must outlive it.
TextSink HtmlScriptSafeSink(const TextSink& sink);

#endif
