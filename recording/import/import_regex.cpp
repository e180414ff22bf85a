// Regular expressions on relative paths; see import_regex.h. RE2 matches
// in time linear in the text, whatever the pattern.
#include "import_regex.h"

#include <re2/re2.h>

struct ImportRegex::Compiled {
    explicit Compiled(const std::string& pattern) : re(pattern, Options()) {}
    static RE2::Options Options()
    {
        RE2::Options options;
        options.set_log_errors(false);
        options.set_max_mem(kImportRegexMemory);
        return options;
    }
    RE2 re;
};

ImportRegex::ImportRegex() = default;

ImportRegex::~ImportRegex() = default;

bool ImportRegex::Compile(const std::string& option, const std::string& pattern, std::string* error)
{
    compiled_.reset();
    if (pattern.empty()) {
        return true;
    }
    auto compiled = std::make_unique<Compiled>(pattern);
    if (!compiled->re.ok()) {
        *error = option + " '" + pattern + "': not a regular expression (" + compiled->re.error() + ")";
        return false;
    }
    if (compiled->re.NumberOfCapturingGroups() < 1) {
        *error = option + " '" + pattern + "': the pattern needs a group in parentheses, e.g. 'S(\\d+)'";
        return false;
    }
    compiled_ = std::move(compiled);
    return true;
}

std::string ImportRegex::FirstGroup(const std::string& text) const
{
    std::string group;
    if (compiled_ == nullptr || !RE2::PartialMatch(text, compiled_->re, &group)) {
        return "";
    }
    return group;
}
