// Reading the raw text of a dataset: lines from a file or from memory, in
// bounded memory, and the fields and numbers of a line, with the reasons a
// line is refused in plain words.
#ifndef RECORDING_IMPORT_IMPORT_TEXT_H
#define RECORDING_IMPORT_IMPORT_TEXT_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// The longest line a raw file may have; a longer one is refused (a file of
// one line of megabytes is no dataset).
constexpr std::size_t kImportMaxLineBytes = 65536;

// The lines of a text, without their line ends ("\n"; a "\r" before it
// stays part of the line). Reads a file in blocks, or takes text held in
// memory; holds at most one block and one line.
class ImportLines {
public:
    // Over an open file (not closed here); nothing is read yet.
    explicit ImportLines(FILE* file);
    // Over size bytes at text, which must outlive the reader.
    ImportLines(const char* text, std::size_t size);

    // The next line in *line (valid until the next call; a UTF-8
    // byte-order mark at the start of the text is left out). False at the
    // end of the text, or on a failure: then failure() says why.
    bool Next(std::string_view* line);

    // The 1-based number of the line last returned.
    int64_t number() const { return number_; }
    // Bytes taken from the text so far.
    uint64_t bytes() const { return bytes_; }
    // Empty, or why reading stopped early (a read error, a line too long).
    const std::string& failure() const { return failure_; }
    // The line at fault when reading stopped early, 0 for a read error.
    int64_t failureLine() const { return failureLine_; }

private:
    bool Take(std::string_view* line);
    void Refill();

    FILE* file_;
    std::vector<char> block_;
    const char* data_;
    std::size_t size_;
    std::size_t at_;
    bool end_;
    int64_t number_;
    uint64_t bytes_;
    std::string failure_;
    int64_t failureLine_;
};

// What a parser made of one line.
enum class ImportLineKind {
    Data,   // a data row
    Other,  // a line without data (blank, a header or comment line)
    Bad,    // a malformed line: the reason says why
};

// s without the spaces, tabs and carriage returns around it.
std::string_view ImportTrim(std::string_view s);

// Splits line at delimiter into at most max fields (in fields[0..]);
// returns the number of fields the line has (which may exceed max).
int ImportSplit(std::string_view line, char delimiter, std::string_view* fields, int max);

// Reads a decimal integer (optional sign, digits; spaces around allowed).
// False with the reason ("not an integer: 'x'", "out of range: 'x'") when
// the field is not one or lies outside lo..hi.
bool ImportParseInt(std::string_view field, int64_t lo, int64_t hi, int64_t* value, std::string* reason);

// Reads a decimal number (optional sign, digits with an optional fraction
// and exponent; spaces around allowed), rounded correctly to double. False
// with the reason when the field is not a number, or not a finite one.
bool ImportParseNumber(std::string_view field, double* value, std::string* reason);

// The reason a line holds a zero byte, or empty: a zero byte never belongs
// to a text line.
bool ImportHasZeroByte(std::string_view line, std::string* reason);

// "field N " for the messages of a line's fields (1-based).
std::string ImportFieldName(int index);

#endif
