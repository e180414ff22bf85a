// The sweep's --out file as the command writes it: begun with its header,
// or continued after the last complete row an earlier run left, and every
// row flushed as it comes.
#ifndef CLI_SWEEP_ROWS_FILE_H
#define CLI_SWEEP_ROWS_FILE_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "sweep_output.h"

struct SweepRowsFile {
    FILE* file;      // null until opened
    int writeError;  // errno of the first failed write, 0 while all went well
};

// Opens path for the rows: cut back to keep bytes (the earlier run's
// complete lines) and, when keep is 0, begun with the layout's header.
// False with a message; nothing is open then.
bool SweepRowsOpen(const std::string& path, uint64_t keep, const SweepLayout& layout, SweepRowsFile* rows,
                   std::string* error);

// Appends a row's text and flushes it; false (and writeError set) when it
// could not be written.
bool SweepRowsAppend(SweepRowsFile* rows, const std::string& text);

// Closes the file, checking every write up to the close. False with the
// reason otherwise.
bool SweepRowsClose(SweepRowsFile* rows, std::string* reason);

#endif
