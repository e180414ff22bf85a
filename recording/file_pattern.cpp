// Matching file names against patterns of * and ?.
#include "file_pattern.h"

#include <cstring>

bool FilePatternMatch(const char* pattern, const char* name)
{
    // On a mismatch after a *, the * takes one more character and the
    // match goes on from there.
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name != '\0') {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' || *pattern == *name) {
            ++pattern;
            ++name;
        } else if (star != nullptr) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') {
        ++pattern;
    }
    return *pattern == '\0';
}

bool FilePatternHasWildcard(const char* name)
{
    return std::strpbrk(name, "*?") != nullptr;
}
