// A detector configuration from outside the code: the defaults, then a TOML
// file of "name = value" lines, then "NAME=VALUE" settings, each by the
// parameter names of the detector's table.
#ifndef EVALUATION_CONFIG_H
#define EVALUATION_CONFIG_H

#include <string>
#include <vector>

#include "tumblewatch.h"

// Where a configuration comes from: an optional TOML file and the settings
// applied after it, in order.
struct ConfigSource {
    std::string file;                   // TOML file; empty for none
    std::vector<std::string> settings;  // "NAME=VALUE", applied after the file
};

// The index of the parameter named exactly name, or -1 for none (a name
// holding a zero byte names none, not the parameter its start names).
int ConfigParamIndex(const std::string& name);

// "unknown parameter 'NAME'" with the closest parameter's name when one is
// close ("(did you mean fallWindow?)"), else a pointer to tumblewatch params.
std::string ConfigUnknownName(const std::string& name);

// Parses value as a signed 32-bit decimal integer (optional sign, digits
// only, no spaces); false for anything else or a value out of range.
bool ConfigParseInt32(const std::string& text, int32_t* value);

// Applies the top-level "name = value" lines of the TOML file at path (a
// text file within the limits of FilesReadText) to cfg. Every key must name a parameter and every value must be a
// 32-bit integer; a key given twice is a syntax error of the file. Returns false with a message naming the file, the
// parameter (or the line of a syntax error) and the problem.
bool ConfigApplyTomlFile(const std::string& path, TumblewatchConfig* cfg, std::string* error);

// ConfigApplyTomlFile over a text already read (by FilesReadText or
// FilesTextFromMemory); name stands for the file in messages. On false cfg
// is unchanged.
bool ConfigApplyToml(const std::string& text, const std::string& name, TumblewatchConfig* cfg, std::string* error);

// Applies "NAME=VALUE" settings in order. An unknown name, a value that is
// not a 32-bit integer or a name set twice in the list is an error naming
// the setting and the problem; on false cfg is unchanged.
bool ConfigApplySettings(const std::vector<std::string>& settings, TumblewatchConfig* cfg, std::string* error);

// The defaults, then source.file, then source.settings; finally the
// configuration must be one that TumblewatchSet accepts. False with the
// message of the first problem.
bool ConfigBuild(const ConfigSource& source, TumblewatchConfig* cfg, std::string* error);

// The parameters in which cfg differs from the defaults, as "NAME=VALUE".
std::vector<std::string> ConfigChanges(const TumblewatchConfig& cfg);

// The whole configuration as a TOML text of "name = value" lines, one per
// parameter, that ConfigApplyTomlFile reads back; comment lines begin with
// header (each of its lines prefixed with "# ").
std::string ConfigToToml(const TumblewatchConfig& cfg, const std::string& header);

#endif
