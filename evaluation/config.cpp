// Configurations from TOML files and NAME=VALUE settings.
#include "config.h"

#include <toml++/toml.h>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <set>
#include <sstream>

#include "file_rules.h"
#include "params.h"

std::string ConfigUnknownName(const std::string& name)
{
    std::string message = "unknown parameter '" + name + "'";
    for (int i = 0; i < kTumblewatchParamCount; ++i) {
        const std::string known = TumblewatchParams()[i].name;
        if (known.size() == name.size() || known.size() + 1 == name.size() || known.size() == name.size() + 1) {
            size_t same = 0;
            for (size_t k = 0; k < known.size() && k < name.size(); ++k) {
                same += std::tolower(static_cast<unsigned char>(known[k])) ==
                        std::tolower(static_cast<unsigned char>(name[k]));
            }
            if (same + 2 >= known.size()) {
                return message + " (did you mean " + known + "?)";
            }
        }
    }
    return message + " (tumblewatch params lists them)";
}

int ConfigParamIndex(const std::string& name)
{
    return name.find('\0') == std::string::npos ? TumblewatchParamIndex(name.c_str()) : -1;
}

bool ConfigParseInt32(const std::string& text, int32_t* value)
{
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    if (i == text.size()) {
        return false;
    }
    for (size_t k = i; k < text.size(); ++k) {
        if (text[k] < '0' || text[k] > '9') {
            return false;
        }
    }
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX) {
        return false;
    }
    *value = static_cast<int32_t>(v);
    return true;
}

bool ConfigApplyTomlFile(const std::string& path, TumblewatchConfig* cfg, std::string* error)
{
    std::string text;
    std::string reason;
    if (!FilesReadText(path, &text, &reason)) {
        *error = path + ": " + reason;
        return false;
    }
    return ConfigApplyToml(text, path, cfg, error);
}

bool ConfigApplyToml(const std::string& text, const std::string& name, TumblewatchConfig* cfg, std::string* error)
{
    toml::table table;
    try {
        table = toml::parse(text, name);
    } catch (const toml::parse_error& e) {
        std::ostringstream message;
        message << name;
        if (e.source().begin.line != 0) {
            message << ", line " << e.source().begin.line;
        }
        message << ": " << e.description();
        *error = message.str();
        return false;
    }
    TumblewatchConfig applied = *cfg;  // cfg changes only when every line is good
    for (const auto& [key, node] : table) {
        const std::string param(key.str());
        const int index = ConfigParamIndex(param);
        const std::string where = name + ", line " + std::to_string(key.source().begin.line) + ": ";
        if (index < 0) {
            *error = where + ConfigUnknownName(param);
            return false;
        }
        const auto* integer = node.as_integer();
        if (integer == nullptr || integer->get() < INT32_MIN || integer->get() > INT32_MAX) {
            *error = where + param + ": the value is not a 32-bit integer";
            return false;
        }
        TumblewatchParamSet(&applied, index, static_cast<int32_t>(integer->get()));
    }
    *cfg = applied;
    return true;
}

bool ConfigApplySettings(const std::vector<std::string>& settings, TumblewatchConfig* cfg, std::string* error)
{
    std::set<std::string> seen;
    TumblewatchConfig applied = *cfg;  // cfg changes only when every setting is good
    for (const std::string& setting : settings) {
        const size_t eq = setting.find('=');
        if (eq == std::string::npos) {
            *error = "--set " + setting + ": expected NAME=VALUE";
            return false;
        }
        const std::string name = setting.substr(0, eq);
        const std::string text = setting.substr(eq + 1);
        const int index = ConfigParamIndex(name);
        if (index < 0) {
            *error = "--set " + setting + ": " + ConfigUnknownName(name);
            return false;
        }
        int32_t value = 0;
        if (!ConfigParseInt32(text, &value)) {
            *error = "--set " + setting + ": " + name + ": '" + text + "' is not a 32-bit integer";
            return false;
        }
        if (!seen.insert(name).second) {
            *error = "--set " + setting + ": " + name + " is set twice";
            return false;
        }
        TumblewatchParamSet(&applied, index, value);
    }
    *cfg = applied;
    return true;
}

bool ConfigBuild(const ConfigSource& source, TumblewatchConfig* cfg, std::string* error)
{
    TumblewatchDefault(cfg);
    if (!source.file.empty() && !ConfigApplyTomlFile(source.file, cfg, error)) {
        return false;
    }
    if (!ConfigApplySettings(source.settings, cfg, error)) {
        return false;
    }
    int index = -1;
    const char* problem = TumblewatchCheck(cfg, &index);
    if (problem != nullptr) {
        const TumblewatchParam& p = TumblewatchParams()[index];
        *error = std::string(p.name) + " = " + std::to_string(TumblewatchParamGet(cfg, index)) +
                 ": the detector refuses it: " + problem;
        return false;
    }
    return true;
}

std::vector<std::string> ConfigChanges(const TumblewatchConfig& cfg)
{
    std::vector<std::string> changes;
    for (int i = 0; i < kTumblewatchParamCount; ++i) {
        const int32_t value = TumblewatchParamGet(&cfg, i);
        if (value != TumblewatchParams()[i].defaultValue) {
            changes.push_back(std::string(TumblewatchParams()[i].name) + "=" + std::to_string(value));
        }
    }
    return changes;
}

std::string ConfigToToml(const TumblewatchConfig& cfg, const std::string& header)
{
    std::string text;
    std::istringstream lines(header);
    std::string line;
    while (std::getline(lines, line)) {
        text += "# " + line + "\n";
    }
    for (int i = 0; i < kTumblewatchParamCount; ++i) {
        text += std::string(TumblewatchParams()[i].name) + " = " + std::to_string(TumblewatchParamGet(&cfg, i)) + "\n";
    }
    return text;
}
