// The regular expressions of the csv import (--subject, --trial,
// --activity): RE2's syntax (Perl's, less back-references and look-around),
// matched in time linear in the text; kept in this one unit.
#ifndef RECORDING_IMPORT_IMPORT_REGEX_H
#define RECORDING_IMPORT_IMPORT_REGEX_H

#include <cstdint>
#include <memory>
#include <string>

// The memory a compiled pattern may take; a larger one is refused.
constexpr int64_t kImportRegexMemory = int64_t{8} << 20;

class ImportRegex {
public:
    ImportRegex();
    ~ImportRegex();
    ImportRegex(const ImportRegex&) = delete;
    ImportRegex& operator=(const ImportRegex&) = delete;

    // Compiles pattern, which must hold a group in parentheses; an empty
    // pattern matches nothing. False with the reason in *error (naming
    // option).
    bool Compile(const std::string& option, const std::string& pattern, std::string* error);

    // The first group of the first match in text; "" when there is none.
    std::string FirstGroup(const std::string& text) const;

private:
    struct Compiled;
    std::unique_ptr<Compiled> compiled_;
};

#endif
