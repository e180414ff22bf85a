// Regular expressions on relative paths; see import_regex.h.
//
// GCC 12 warns, wrongly, that std::regex's automaton may use an
// uninitialized std::function when the sanitizers are on; the warning is
// off in this unit only, which holds every use of std::regex.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include "import_regex.h"

#include <regex>

struct ImportRegex::Compiled {
    std::regex pattern;
};

ImportRegex::ImportRegex() = default;

ImportRegex::~ImportRegex() = default;

bool ImportRegex::Compile(const std::string& option, const std::string& pattern, std::string* error)
{
    compiled_.reset();
    if (pattern.empty()) {
        return true;
    }
    try {
        std::regex compiled(pattern);
        if (compiled.mark_count() < 1) {
            *error = option + " '" + pattern + "': the pattern needs a group in parentheses, e.g. 'S(\\d+)'";
            return false;
        }
        compiled_ = std::make_unique<Compiled>(Compiled{std::move(compiled)});
    } catch (const std::regex_error& e) {
        *error = option + " '" + pattern + "': not a regular expression (" + e.what() + ")";
        return false;
    }
    return true;
}

std::string ImportRegex::FirstGroup(const std::string& text) const
{
    std::smatch m;
    if (compiled_ == nullptr || !std::regex_search(text, m, compiled_->pattern) || m.size() < 2) {
        return "";
    }
    return m[1].str();
}
