// File-name patterns as the bench and the workbench take them: only * (any
// run of characters, none included) and ? (any one character) are
// wildcards, matched case-sensitively against one name.
#ifndef RECORDING_FILE_PATTERN_H
#define RECORDING_FILE_PATTERN_H

// True when name matches pattern. Allocates nothing; both strings are only
// read during the call.
bool FilePatternMatch(const char* pattern, const char* name);

// True when name carries a wildcard (* or ?).
bool FilePatternHasWildcard(const char* name);

#endif
