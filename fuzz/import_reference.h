// Plain references for the importers' line parsers, built from the C
// library: fields split with find, numbers read with strtod and strtoll.
// The fuzz targets compare every line's answer with them.
#ifndef FUZZ_IMPORT_REFERENCE_H
#define FUZZ_IMPORT_REFERENCE_H

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "import_text.h"

namespace reference {

using fuzz::Check;

// Without spaces, tabs and carriage returns at either end.
inline std::string Trim(const std::string& s)
{
    const std::size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) {
        return std::string();
    }
    return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

inline std::vector<std::string> Split(const std::string& s, char delimiter)
{
    std::vector<std::string> fields;
    std::size_t at = 0;
    for (;;) {
        const std::size_t end = s.find(delimiter, at);
        fields.push_back(s.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos) {
            return fields;
        }
        at = end + 1;
    }
}

// A decimal number in plain notation (no inf, nan or hexadecimal), read
// whole by strtod, finite.
inline bool Number(const std::string& field, double* value)
{
    const std::string f = Trim(field);
    if (f.empty() || f.find_first_not_of("0123456789.+-eE") != std::string::npos) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(f.c_str(), &end);
    if (end != f.c_str() + f.size() || !std::isfinite(v)) {
        return false;
    }
    *value = v;
    return true;
}

// A decimal integer within lo..hi, read whole by strtoll.
inline bool Integer(const std::string& field, int64_t lo, int64_t hi, int64_t* value)
{
    const std::string f = Trim(field);
    const std::size_t digits = f.empty() || (f[0] != '+' && f[0] != '-') ? 0 : 1;
    if (f.size() == digits || f.find_first_not_of("0123456789", digits) != std::string::npos) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(f.c_str(), &end, 10);
    if (errno == ERANGE || v < lo || v > hi) {
        return false;
    }
    *value = v;
    return true;
}

// The same double, bit for bit.
inline bool Same(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Every line of the text, as ImportLines gives it.
inline std::vector<std::string> Lines(const char* text, std::size_t size)
{
    std::vector<std::string> lines;
    ImportLines reader(text, size);
    std::string_view line;
    while (reader.Next(&line)) {
        lines.emplace_back(line);
    }
    return lines;
}

}  // namespace reference

#endif
