// Parsing and enumerating the configurations of a sweep.
#include "sweep_space.h"

#include <set>
#include <utility>

#include "config.h"
#include "params.h"

namespace {

// SplitMix64: a small, well-mixed generator; the state is the seed plus a
// multiple of the golden gamma, so draw k is reachable directly.
uint64_t Mix(uint64_t z)
{
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

constexpr uint64_t kGamma = 0x9e3779b97f4a7c15ULL;

// Values one LO:HI:STEP grid may have, whatever --max-configs allows.
constexpr int64_t kMaxGridValues = 10000000;

// A value uniform in [low, high] from the stream that starts at state;
// rejection keeps it exactly uniform.
int32_t Uniform(uint64_t* state, int32_t low, int32_t high)
{
    const uint64_t span = static_cast<uint64_t>(static_cast<int64_t>(high) - low) + 1;
    const uint64_t limit = UINT64_MAX - UINT64_MAX % span;
    uint64_t r = 0;
    do {
        *state += kGamma;
        r = Mix(*state);
    } while (r >= limit);
    return static_cast<int32_t>(low + static_cast<int64_t>(r % span));
}

// "NAME=REST": the parameter's index and REST.
bool SplitName(const std::string& option, const std::string& text, int* param, std::string* rest, std::string* error)
{
    const size_t eq = text.find('=');
    if (eq == std::string::npos) {
        *error = option + " " + text + ": expected NAME=...";
        return false;
    }
    const std::string name = text.substr(0, eq);
    *param = ConfigParamIndex(name);
    if (*param < 0) {
        *error = option + " " + text + ": " + ConfigUnknownName(name);
        return false;
    }
    if (!TumblewatchParams()[*param].read) {
        *error = option + " " + text + ": " + name +
                 " is read by no stage of the detector, so varying it would change nothing (tumblewatch params "
                 "says which stage reads each parameter)";
        return false;
    }
    *rest = text.substr(eq + 1);
    return true;
}

std::vector<std::string> Split(const std::string& s, char sep)
{
    std::vector<std::string> parts;
    size_t at = 0;
    for (;;) {
        const size_t next = s.find(sep, at);
        parts.push_back(s.substr(at, next == std::string::npos ? std::string::npos : next - at));
        if (next == std::string::npos) {
            return parts;
        }
        at = next + 1;
    }
}

}  // namespace

bool SweepParseGrid(const std::string& text, SweepGrid* result, std::string* error)
{
    SweepGrid parsed{-1, {}};  // *result changes only when the whole text is good
    SweepGrid* grid = &parsed;
    std::string rest;
    if (!SplitName("--grid", text, &grid->param, &rest, error)) {
        return false;
    }
    grid->values.clear();
    const std::vector<std::string> colon = Split(rest, ':');
    if (colon.size() == 3) {
        int32_t lo = 0;
        int32_t hi = 0;
        int32_t step = 0;
        if (!ConfigParseInt32(colon[0], &lo) || !ConfigParseInt32(colon[1], &hi) ||
            !ConfigParseInt32(colon[2], &step)) {
            *error = "--grid " + text + ": LO, HI and STEP must be 32-bit integers";
            return false;
        }
        if (lo > hi) {
            *error = "--grid " + text + ": LO is greater than HI";
            return false;
        }
        if (step <= 0) {
            *error = "--grid " + text + ": STEP must be positive";
            return false;
        }
        const int64_t count = (static_cast<int64_t>(hi) - lo) / step + 1;
        if (count > kMaxGridValues) {
            *error = "--grid " + text + ": " + std::to_string(count) + " values; a grid has at most " +
                     std::to_string(kMaxGridValues);
            return false;
        }
        for (int64_t v = lo; v <= hi; v += step) {
            grid->values.push_back(static_cast<int32_t>(v));
        }
        *result = std::move(parsed);
        return true;
    }
    if (colon.size() != 1) {
        *error = "--grid " + text + ": expected NAME=LO:HI:STEP or NAME=V1,V2,...";
        return false;
    }
    for (const std::string& v : Split(rest, ',')) {
        int32_t value = 0;
        if (!ConfigParseInt32(v, &value)) {
            *error = "--grid " + text + ": '" + v + "' is not a 32-bit integer";
            return false;
        }
        grid->values.push_back(value);
    }
    *result = std::move(parsed);
    return true;
}

bool SweepParseRange(const std::string& text, SweepRange* result, std::string* error)
{
    SweepRange parsed{-1, 0, 0};  // *result changes only when the whole text is good
    SweepRange* range = &parsed;
    std::string rest;
    if (!SplitName("--range", text, &range->param, &rest, error)) {
        return false;
    }
    const std::vector<std::string> colon = Split(rest, ':');
    if (colon.size() != 2 || !ConfigParseInt32(colon[0], &range->low) || !ConfigParseInt32(colon[1], &range->high)) {
        *error = "--range " + text + ": expected NAME=LO:HI with 32-bit integers";
        return false;
    }
    if (range->low > range->high) {
        *error = "--range " + text + ": LO is greater than HI";
        return false;
    }
    *result = parsed;
    return true;
}

bool SweepCheck(const SweepSpace& space, std::string* error)
{
    std::set<int> seen;
    for (const int p : SweepVaried(space)) {
        if (!seen.insert(p).second) {
            *error = std::string("parameter ") + TumblewatchParams()[p].name + " is varied twice";
            return false;
        }
    }
    if (space.draws > 0 && space.ranges.empty()) {
        *error = "--random needs at least one --range NAME=LO:HI";
        return false;
    }
    if (space.draws == 0 && !space.ranges.empty()) {
        *error = "--range needs --random N";
        return false;
    }
    if (space.grids.empty() && space.draws == 0) {
        *error = "nothing to sweep: give --grid NAME=... or --random N with --range NAME=LO:HI";
        return false;
    }
    return true;
}

int64_t SweepCount(const SweepSpace& space, int64_t limit)
{
    int64_t count = space.draws > 0 ? space.draws : 1;
    if (count > limit) {
        return -1;
    }
    for (const SweepGrid& g : space.grids) {
        const auto n = static_cast<int64_t>(g.values.size());
        if (count > limit / n) {
            return -1;
        }
        count *= n;
    }
    return count;
}

std::vector<int> SweepVaried(const SweepSpace& space)
{
    std::vector<int> varied;
    for (const SweepGrid& g : space.grids) {
        varied.push_back(g.param);
    }
    for (const SweepRange& r : space.ranges) {
        varied.push_back(r.param);
    }
    return varied;
}

TumblewatchConfig SweepConfig(const SweepSpace& space, const TumblewatchConfig& base, int64_t index)
{
    TumblewatchConfig cfg = base;
    const int64_t draws = space.draws > 0 ? space.draws : 1;
    const int64_t draw = index % draws;
    int64_t point = index / draws;
    for (auto g = space.grids.rbegin(); g != space.grids.rend(); ++g) {
        const auto n = static_cast<int64_t>(g->values.size());
        TumblewatchParamSet(&cfg, g->param, g->values[static_cast<size_t>(point % n)]);
        point /= n;
    }
    if (space.draws > 0) {
        // Each draw has a stream of its own, so draw k is the same for any count.
        uint64_t state = Mix(space.seed ^ Mix(static_cast<uint64_t>(draw) + 1));
        for (const SweepRange& r : space.ranges) {
            TumblewatchParamSet(&cfg, r.param, Uniform(&state, r.low, r.high));
        }
    }
    return cfg;
}
