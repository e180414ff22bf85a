// Device names as file stems and as printable text.
#include "live_names.h"

#include <fmt/core.h>

namespace {

constexpr std::size_t kPrintableMax = 200;  // bytes of a printed name

bool IsKept(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.';
}

}  // namespace

uint64_t LiveNameHash(const std::string& name)
{
    uint64_t hash = 14695981039346656037ull;
    for (const char c : name) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

std::string LiveSafeName(const std::string& name)
{
    if (name.empty()) {
        return "%";
    }
    std::string stem;
    const std::size_t cut = kLiveStemMax - 17;  // room for "~" and the hash
    for (std::size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        std::string piece =
            (IsKept(c) && !(i == 0 && c == '.')) ? std::string(1, static_cast<char>(c)) : fmt::format("%{:02X}", c);
        if (stem.size() + piece.size() > cut) {
            return stem + fmt::format("~{:016x}", LiveNameHash(name));
        }
        stem += piece;
    }
    return stem;
}

std::string LivePrintableName(const std::string& name)
{
    std::string text;
    for (const char ch : name) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '\\') {
            text += "\\\\";
        } else if (c == '\n') {
            text += "\\n";
        } else if (c == '\t') {
            text += "\\t";
        } else if (c == '\r') {
            text += "\\r";
        } else if (c < 0x20 || c == 0x7f) {
            text += fmt::format("\\x{:02x}", c);
        } else {
            text += static_cast<char>(c);
        }
    }
    if (text.size() > kPrintableMax) {
        const std::size_t keep = kPrintableMax / 2 - 2;
        text.replace(keep, text.size() - 2 * keep, "...");
    }
    return text;
}
