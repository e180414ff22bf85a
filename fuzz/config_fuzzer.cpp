// Fuzz target for the TOML configuration: the input is a configuration
// file's bytes, checked as a file's text is (FilesTextFromMemory) and
// applied to a configuration. A refused file leaves the configuration as it
// was; of an accepted one the whole configuration written back as TOML (ConfigToToml) and as settings
// (ConfigChanges) reads back to the same configuration.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "config.h"
#include "file_rules.h"
#include "fuzz_support.h"
#include "params.h"

namespace {

constexpr const char* kTarget = "config_fuzzer";

void Check(bool ok, const char* what)
{
    fuzz::Check(ok, kTarget, what);
}

bool SameConfig(const TumblewatchConfig& a, const TumblewatchConfig& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text;
    if (!fuzz::TextInput(data, size, &text, kTarget)) {
        return 0;
    }

    // A configuration unlike the defaults, so that a partly applied file shows.
    TumblewatchConfig before;
    TumblewatchDefault(&before);
    for (int i = 0; i < kTumblewatchParamCount; ++i) {
        TumblewatchParamSet(&before, i, TumblewatchParamGet(&before, i) + 1);
    }
    TumblewatchConfig cfg = before;
    std::string error;
    if (!ConfigApplyToml(text, "fuzz.toml", &cfg, &error)) {
        Check(!error.empty(), "refused without a message");
        Check(SameConfig(cfg, before), "a refused file changed the configuration");
        return 0;
    }

    TumblewatchConfig back;
    TumblewatchDefault(&back);
    Check(ConfigApplyToml(ConfigToToml(cfg, "written back"), "back.toml", &back, &error),
          "the configuration written as TOML is refused");
    Check(SameConfig(back, cfg), "the configuration written as TOML reads back otherwise");

    TumblewatchDefault(&back);
    Check(ConfigApplySettings(ConfigChanges(cfg), &back, &error), "the changes written as settings are refused");
    Check(SameConfig(back, cfg), "the changes written as settings read back otherwise");
    return 0;
}
