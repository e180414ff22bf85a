// Lines, fields and numbers of raw text; see import_text.h.
#include "import_text.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "safe_files.h"

namespace {

constexpr std::size_t kBlockBytes = 256 * 1024;

// A field shown in a message: cut, so that a long one stays readable.
std::string Shown(std::string_view field)
{
    constexpr std::size_t kShown = 40;
    std::string s(field.substr(0, kShown));
    for (char& c : s) {
        if (static_cast<unsigned char>(c) < 0x20) {
            c = '?';
        }
    }
    return "'" + s + (field.size() > kShown ? "...'" : "'");
}

}  // namespace

ImportLines::ImportLines(FILE* file)
    : file_(file),
      block_(kBlockBytes),
      data_(nullptr),
      size_(0),
      at_(0),
      end_(false),
      number_(0),
      bytes_(0),
      failureLine_(0)
{
    data_ = block_.data();
}

ImportLines::ImportLines(const char* text, std::size_t size)
    : file_(nullptr), data_(text), size_(size), at_(0), end_(true), number_(0), bytes_(0), failureLine_(0)
{
}

void ImportLines::Refill()
{
    // Keep the unfinished line, read after it.
    const std::size_t kept = size_ - at_;
    if (kept + kBlockBytes > block_.size()) {
        block_.resize(kept + kBlockBytes);
    }
    std::memmove(block_.data(), block_.data() + at_, kept);
    const std::size_t got = std::fread(block_.data() + kept, 1, kBlockBytes, file_);
    if (got < kBlockBytes) {
        end_ = true;
        if (std::ferror(file_) != 0) {
            failure_ = "cannot be read: " + SafeErrorText(errno != 0 ? errno : EIO);
        }
    }
    data_ = block_.data();
    size_ = kept + got;
    at_ = 0;
}

bool ImportLines::Next(std::string_view* line)
{
    const bool first = number_ == 0;
    if (!Take(line)) {
        return false;
    }
    // A byte-order mark (editors on some systems write one) is no part of
    // the first line.
    if (first && line->substr(0, 3) == "\xEF\xBB\xBF") {
        line->remove_prefix(3);
    }
    return true;
}

bool ImportLines::Take(std::string_view* line)
{
    if (!failure_.empty()) {
        return false;
    }
    for (;;) {
        const char* start = data_ + at_;
        const std::size_t left = size_ - at_;
        const void* newline = std::memchr(start, '\n', std::min(left, kImportMaxLineBytes + 1));
        if (newline != nullptr) {
            const std::size_t length = static_cast<std::size_t>(static_cast<const char*>(newline) - start);
            *line = std::string_view(start, length);
            at_ += length + 1;
            bytes_ += length + 1;
            ++number_;
            return true;
        }
        if (left > kImportMaxLineBytes) {
            failure_ = "the line is longer than " + std::to_string(kImportMaxLineBytes) + " bytes";
            failureLine_ = number_ + 1;
            return false;
        }
        if (end_) {
            if (left == 0) {
                return false;
            }
            *line = std::string_view(start, left);  // the last line, without a line end
            at_ = size_;
            bytes_ += left;
            ++number_;
            return true;
        }
        Refill();
        if (!failure_.empty()) {
            return false;
        }
    }
}

std::string_view ImportTrim(std::string_view s)
{
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) {
        ++b;
    }
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) {
        --e;
    }
    return s.substr(b, e - b);
}

int ImportSplit(std::string_view line, char delimiter, std::string_view* fields, int max)
{
    int count = 0;
    std::size_t at = 0;
    for (;;) {
        const std::size_t end = line.find(delimiter, at);
        if (count < max) {
            fields[count] = line.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        }
        ++count;
        if (end == std::string_view::npos) {
            return count;
        }
        at = end + 1;
    }
}

bool ImportParseInt(std::string_view field, int64_t lo, int64_t hi, int64_t* value, std::string* reason)
{
    const std::string_view f = ImportTrim(field);
    std::size_t i = 0;
    bool negative = false;
    if (i < f.size() && (f[i] == '+' || f[i] == '-')) {
        negative = f[i] == '-';
        ++i;
    }
    if (i == f.size()) {
        *reason = "not an integer: " + Shown(field);
        return false;
    }
    // Accumulated as a negative number, which holds the whole int64 range;
    // past 19 digits it is out of range whatever follows.
    int64_t v = 0;
    bool overflow = false;
    for (; i < f.size(); ++i) {
        const char c = f[i];
        if (c < '0' || c > '9') {
            *reason = "not an integer: " + Shown(field);
            return false;
        }
        const int digit = c - '0';
        if (v < (INT64_MIN + digit) / 10) {
            overflow = true;
        } else {
            v = v * 10 - digit;
        }
    }
    if (!negative && !overflow && v == INT64_MIN) {
        overflow = true;
    }
    if (overflow) {
        *reason = "out of range: " + Shown(field);
        return false;
    }
    const int64_t result = negative ? v : -v;  // -v holds: v > INT64_MIN here
    if (result < lo || result > hi) {
        *reason = "out of range: " + Shown(field);
        return false;
    }
    *value = result;
    return true;
}

bool ImportParseNumber(std::string_view field, double* value, std::string* reason)
{
    std::string_view f = ImportTrim(field);
    if (f.size() >= 2 && f[0] == '+' && f[1] != '-' && f[1] != '+') {
        f.remove_prefix(1);  // from_chars takes no plus sign
    }
    // Only decimal notation: no "inf", "nan" or hexadecimal digits.
    for (const char c : f) {
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E')) {
            *reason = "not a number: " + Shown(field);
            return false;
        }
    }
    double v = 0.0;
    const std::from_chars_result r = std::from_chars(f.data(), f.data() + f.size(), v, std::chars_format::general);
    if (f.empty() || r.ptr != f.data() + f.size() || (r.ec != std::errc() && r.ec != std::errc::result_out_of_range)) {
        *reason = "not a number: " + Shown(field);
        return false;
    }
    if (r.ec == std::errc::result_out_of_range) {
        // Beyond the double range: strtod tells a tiny number (which
        // becomes 0 or a subnormal) from a huge one (infinite).
        v = std::strtod(std::string(f).c_str(), nullptr);
    }
    if (!std::isfinite(v)) {
        *reason = "out of range: " + Shown(field);
        return false;
    }
    *value = v;
    return true;
}

bool ImportHasZeroByte(std::string_view line, std::string* reason)
{
    if (std::memchr(line.data(), '\0', line.size()) == nullptr) {
        return false;
    }
    *reason = "a zero byte (NUL) in the line";
    return true;
}

std::string ImportFieldName(int index)
{
    return "field " + std::to_string(index) + " ";
}
