// Compression, base64 and escapes for report pages.
#include "html_encode.h"

#include <algorithm>
#include <cstdint>
#include <new>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Bytes of compressed output handed on at a time.
constexpr std::size_t kPackChunk = 1 << 16;

// Appends the base64 text of whole groups of three bytes.
void Base64Groups(const unsigned char* bytes, std::size_t size, std::string* out)
{
    for (std::size_t i = 0; i + 3 <= size; i += 3) {
        const uint32_t v =
            static_cast<uint32_t>(bytes[i]) << 16 | static_cast<uint32_t>(bytes[i + 1]) << 8 | bytes[i + 2];
        *out += kAlphabet[v >> 18];
        *out += kAlphabet[(v >> 12) & 63];
        *out += kAlphabet[(v >> 6) & 63];
        *out += kAlphabet[v & 63];
    }
}

// Appends the padded base64 text of the last one or two bytes.
void Base64Rest(const unsigned char* bytes, std::size_t rest, std::string* out)
{
    if (rest == 0) {
        return;
    }
    uint32_t v = static_cast<uint32_t>(bytes[0]) << 16;
    if (rest == 2) {
        v |= static_cast<uint32_t>(bytes[1]) << 8;
    }
    *out += kAlphabet[v >> 18];
    *out += kAlphabet[(v >> 12) & 63];
    *out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    *out += '=';
}

// Writes compressed bytes as base64, keeping an incomplete group for later.
void PackOut(HtmlPackStream* stream, const unsigned char* bytes, std::size_t size)
{
    std::string text;
    std::size_t at = 0;
    while (stream->carried > 0 && stream->carried < 3 && at < size) {
        stream->carry[stream->carried++] = bytes[at++];
    }
    if (stream->carried == 3) {
        Base64Groups(stream->carry, 3, &text);
        stream->carried = 0;
    }
    const std::size_t whole = (size - at) / 3 * 3;
    Base64Groups(bytes + at, whole, &text);
    at += whole;
    while (at < size) {
        stream->carry[stream->carried++] = bytes[at++];
    }
    (*stream->sink)(text);
}

// Runs deflate with flush until it wants more input (or, finishing, ends).
void Deflate(HtmlPackStream* stream, int flush)
{
    unsigned char out[kPackChunk];
    int status = Z_OK;
    do {
        stream->zlib.next_out = out;
        stream->zlib.avail_out = sizeof out;
        status = deflate(&stream->zlib, flush);
        if (status == Z_STREAM_ERROR) {
            throw std::bad_alloc();
        }
        PackOut(stream, out, sizeof out - stream->zlib.avail_out);
    } while (stream->zlib.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
}

}  // namespace

void HtmlPackBegin(HtmlPackStream* stream, const TextSink& sink)
{
    stream->zlib = z_stream{};
    stream->sink = &sink;
    stream->carried = 0;
    if (deflateInit(&stream->zlib, 3) != Z_OK) {
        throw std::bad_alloc();
    }
}

void HtmlPackWrite(HtmlPackStream* stream, const char* data, std::size_t size)
{
    while (size > 0) {
        const auto piece = static_cast<uInt>(std::min<std::size_t>(size, kPackChunk));
        stream->zlib.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
        stream->zlib.avail_in = piece;
        Deflate(stream, Z_NO_FLUSH);
        data += piece;
        size -= piece;
    }
}

void HtmlPackEnd(HtmlPackStream* stream)
{
    stream->zlib.next_in = nullptr;
    stream->zlib.avail_in = 0;
    Deflate(stream, Z_FINISH);
    deflateEnd(&stream->zlib);
    std::string text;
    Base64Rest(stream->carry, static_cast<std::size_t>(stream->carried), &text);
    stream->carried = 0;
    (*stream->sink)(text);
}

std::string HtmlBase64(const std::string& bytes)
{
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t whole = bytes.size() / 3 * 3;
    Base64Groups(data, whole, &out);
    Base64Rest(data + whole, bytes.size() - whole, &out);
    return out;
}

std::string HtmlEscape(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string HtmlScriptSafe(std::string_view json)
{
    std::string out;
    out.reserve(json.size());
    for (const char c : json) {
        if (c == '<') {
            out += "\\u003c";
        } else {
            out += c;
        }
    }
    return out;
}

TextSink HtmlScriptSafeSink(const TextSink& sink)
{
    return [&sink](std::string_view text) {
        std::size_t at = 0;
        for (std::size_t lt = text.find('<'); lt != std::string_view::npos; lt = text.find('<', at)) {
            sink(text.substr(at, lt - at));
            sink("\\u003c");
            at = lt + 1;
        }
        sink(text.substr(at));
    };
}
