// Device names as file names: whatever a device calls itself (slashes,
// "..", control bytes, thousands of characters), its files stay inside the
// session folder under a short, readable name.
#ifndef LIVE_LIVE_NAMES_H
#define LIVE_LIVE_NAMES_H

#include <cstdint>
#include <string>

// The longest file stem LiveSafeName returns, in bytes.
constexpr std::size_t kLiveStemMax = 120;

// A file stem for a device name: letters, digits, '-', '_' and '.' kept,
// every other byte written as %XX (hexadecimal), a leading '.' too (so
// neither "." nor ".." nor a hidden name can come out); an empty name is
// "%". A stem that would pass kLiveStemMax bytes is cut and ends in "~"
// and 16 hexadecimal digits of LiveNameHash of the whole name.
std::string LiveSafeName(const std::string& name);

// A stable 64-bit hash of a device name (FNV-1a): the same on every
// machine and in every run, for sharing a fleet between processes.
uint64_t LiveNameHash(const std::string& name);

// The name fit for one line of a message or a table: control bytes and
// backslashes written as escapes ("\n", "\x1b", "\\"), and at most 200
// bytes, cut around "...".
std::string LivePrintableName(const std::string& name);

#endif
