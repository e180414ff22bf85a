// Fuzz target for the values of --set, --grid, --range and --require. The
// first byte chooses the option; the rest, split at line ends, is its
// values. A refused value leaves its output as it was; an accepted one,
// printed back in the option's own syntax, parses to the same thing.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config.h"
#include "fuzz_support.h"
#include "params.h"
#include "require.h"
#include "sweep_space.h"

namespace {

constexpr const char* kTarget = "values_fuzzer";
constexpr size_t kLongGrid = 1000;

void Check(bool ok, const char* what)
{
    fuzz::Check(ok, kTarget, what);
}

std::vector<std::string> Lines(const uint8_t* data, size_t size)
{
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\n') {
            lines.emplace_back();
        } else {
            lines.back().push_back(static_cast<char>(data[i]));
        }
    }
    return lines;
}

void FuzzSet(const std::vector<std::string>& settings)
{
    TumblewatchConfig before;
    TumblewatchDefault(&before);
    TumblewatchParamSet(&before, 0, TumblewatchParamGet(&before, 0) + 1);
    TumblewatchConfig cfg = before;
    std::string error;
    if (!ConfigApplySettings(settings, &cfg, &error)) {
        Check(!error.empty(), "--set refused without a message");
        Check(std::memcmp(&cfg, &before, sizeof cfg) == 0, "a refused --set changed the configuration");
        return;
    }
    TumblewatchConfig back = before;
    std::vector<std::string> printed;
    for (const std::string& s : settings) {
        const int index = TumblewatchParamIndex(s.substr(0, s.find('=')).c_str());
        printed.push_back(std::string(TumblewatchParams()[index].name) + "=" +
                          std::to_string(TumblewatchParamGet(&cfg, index)));
    }
    Check(ConfigApplySettings(printed, &back, &error), "--set printed back is refused");
    Check(std::memcmp(&cfg, &back, sizeof cfg) == 0, "--set printed back differs");
}

void FuzzGrid(const std::string& text)
{
    const SweepGrid before{7, {1, 2, 3}};
    SweepGrid grid = before;
    std::string error;
    if (!SweepParseGrid(text, &grid, &error)) {
        Check(!error.empty(), "--grid refused without a message");
        Check(grid.param == before.param && grid.values == before.values, "a refused --grid changed the grid");
        return;
    }
    Check(!grid.values.empty(), "a grid without values");
    if (grid.values.size() > kLongGrid) {
        // LO:HI:STEP: printing millions of values back would only slow the target.
        const int64_t step = static_cast<int64_t>(grid.values[1]) - grid.values[0];
        for (size_t i = 1; i < grid.values.size(); ++i) {
            Check(step > 0 && static_cast<int64_t>(grid.values[i]) - grid.values[i - 1] == step,
                  "a long grid is not evenly stepped");
        }
        return;
    }
    std::string printed = std::string(TumblewatchParams()[grid.param].name) + "=";
    for (size_t i = 0; i < grid.values.size(); ++i) {
        printed += (i == 0 ? "" : ",") + std::to_string(grid.values[i]);
    }
    SweepGrid back{};
    Check(SweepParseGrid(printed, &back, &error), "--grid printed back is refused");
    Check(back.param == grid.param && back.values == grid.values, "--grid printed back differs");
}

void FuzzRange(const std::string& text)
{
    const SweepRange before{7, 1, 2};
    SweepRange range = before;
    std::string error;
    if (!SweepParseRange(text, &range, &error)) {
        Check(!error.empty(), "--range refused without a message");
        Check(range.param == before.param && range.low == before.low && range.high == before.high,
              "a refused --range changed the range");
        return;
    }
    Check(range.low <= range.high, "a range with LO above HI");
    const std::string printed = std::string(TumblewatchParams()[range.param].name) + "=" + std::to_string(range.low) +
                                ":" + std::to_string(range.high);
    SweepRange back{};
    Check(SweepParseRange(printed, &back, &error), "--range printed back is refused");
    Check(back.param == range.param && back.low == range.low && back.high == range.high,
          "--range printed back differs");
}

void FuzzRequire(const std::string& text)
{
    const Requirement before{"before", "f1", "<", 0.5};
    Requirement requirement = before;
    std::string error;
    if (!RequireParse(text, &requirement, &error)) {
        Check(!error.empty(), "--require refused without a message");
        Check(requirement.text == before.text && requirement.metric == before.metric && requirement.op == before.op &&
                  requirement.bound == before.bound,
              "a refused --require changed the requirement");
        return;
    }
    char bound[40];
    std::snprintf(bound, sizeof bound, "%.17g", requirement.bound);
    const std::string printed = requirement.metric + requirement.op + bound;
    Requirement back{};
    Check(RequireParse(printed, &back, &error), "--require printed back is refused");
    Check(back.metric == requirement.metric && back.op == requirement.op && back.bound == requirement.bound,
          "--require printed back differs");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    const std::vector<std::string> values = Lines(data + 1, size - 1);
    switch (data[0] % 4) {
    case 0:
        FuzzSet(values);
        break;
    case 1:
        for (const std::string& v : values) {
            FuzzGrid(v);
        }
        break;
    case 2:
        for (const std::string& v : values) {
            FuzzRange(v);
        }
        break;
    default:
        for (const std::string& v : values) {
            FuzzRequire(v);
        }
        break;
    }
    return 0;
}
