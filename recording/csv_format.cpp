// Writing CSV recordings in the default layout, and CSV fields.
#include "csv_format.h"

#include <cstdio>

#include "recording_reader.h"

namespace {

// Characters of a header line, line end excluded: one read of the reader
// (1023 characters) holds it with its line end.
constexpr std::size_t kHeaderLineChars = 1022;

std::string HeaderLine(const std::string& text)
{
    std::string line = text;
    for (char& c : line) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    if (line.size() > kHeaderLineChars) {
        std::size_t cut = kHeaderLineChars;
        // Never in the middle of a UTF-8 character: back off its continuation bytes.
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xc0u) == 0x80u) {
            --cut;
        }
        line.resize(cut);
    }
    return line;
}

}  // namespace

std::string CsvRecordingText(const std::vector<std::string>& header, const std::vector<ImuSample>& samples)
{
    std::string text;
    text.reserve(samples.size() * 40 + 512);
    for (int i = 0; i < kCsvDefaultHeaderReads; ++i) {
        text += static_cast<std::size_t>(i) < header.size() ? HeaderLine(header[static_cast<std::size_t>(i)]) : "#";
        text += '\n';
    }
    char line[96];
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const ImuSample& s = samples[i];
        const int n = std::snprintf(line, sizeof line, "%zu,%d,%d,%d,%d,%d,%d\n", i, s.accX, s.accY, s.accZ, s.gyroX,
                                    s.gyroY, s.gyroZ);
        text.append(line, static_cast<std::size_t>(n));
    }
    return text;
}

std::string CsvField(const std::string& text)
{
    // Blanks at either end are quoted too (a reader trims unquoted fields),
    // and a '#' at the start (the first field of a line would make it a
    // comment).
    const bool blankEnd = !text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '#' ||
                                            text.back() == ' ' || text.back() == '\t');
    if (text.find_first_of(",\"\n\r") == std::string::npos && !blankEnd) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + "\"";
}
