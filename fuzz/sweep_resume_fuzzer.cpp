// Fuzz target for a sweep's output file given to --resume: its header
// line, its rows and a torn last line. The first byte chooses the sweep
// (sweep_fixture.h: format, folds); the rest is the file. A refused file
// leaves the state given as it was; of an accepted one the rows are the
// sweep's configurations in order, the length kept ends at a line end, and
// the file cut to that length, or with a torn line after it, reads back to
// the same state.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "sweep_fixture.h"

namespace {

constexpr const char* kTarget = "sweep_resume_fuzzer";

void Check(bool ok, const char* what)
{
    fuzz::Check(ok, kTarget, what);
}

bool SameCounts(const MetricsCounts& a, const MetricsCounts& b)
{
    return a.tp == b.tp && a.fn == b.fn && a.fp == b.fp && a.tn == b.tn && a.falseAlarmEvents == b.falseAlarmEvents;
}

bool SameState(const SweepResumeState& a, const SweepResumeState& b)
{
    if (a.next != b.next || a.keep != b.keep || a.rows.size() != b.rows.size()) {
        return false;
    }
    for (size_t i = 0; i < a.rows.size(); ++i) {
        const SweepTally& x = a.rows[i];
        const SweepTally& y = b.rows[i];
        if (x.index != y.index || x.values != y.values || !SameCounts(x.all, y.all) || x.held.size() != y.held.size() ||
            !(x.latencyMedian == y.latencyMedian ||
              (x.latencyMedian != x.latencyMedian && y.latencyMedian != y.latencyMedian))) {
            return false;
        }
        for (size_t f = 0; f < x.held.size(); ++f) {
            if (!SameCounts(x.held[f], y.held[f])) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    static const SweepPlan plans[4] = {fuzz::SweepFixturePlan(0), fuzz::SweepFixturePlan(1), fuzz::SweepFixturePlan(2),
                                       fuzz::SweepFixturePlan(3)};
    const SweepPlan& plan = plans[data[0] % 4];
    const std::string_view file(reinterpret_cast<const char*>(data + 1), size - 1);

    SweepResumeState state{{SweepTally{99, {1}, {}, 0.0, {}}}, 100, 12345};
    std::string error;
    if (!SweepResumeReadText("fuzz.sweep", file, plan, &state, &error)) {
        Check(!error.empty(), "refused without a message");
        Check(state.rows.size() == 1 && state.rows[0].index == 99 && state.next == 100 && state.keep == 12345,
              "a refused file changed the state given");
        return 0;
    }
    Check(state.keep <= file.size(), "keeps more than the file");
    Check(state.keep == 0 || file[state.keep - 1] == '\n', "the length kept does not end at a line end");
    int64_t previous = -1;
    for (const SweepTally& row : state.rows) {
        Check(row.index > previous && row.index < plan.count, "rows out of order or beyond the sweep");
        const TumblewatchConfig cfg = SweepConfig(plan.space, plan.base, row.index);
        for (size_t i = 0; i < plan.varied.size(); ++i) {
            Check(row.values[i] == TumblewatchParamGet(&cfg, plan.varied[i]), "a row's values are not its own");
        }
        Check(row.held.size() == static_cast<size_t>(plan.layout.folds), "not one count per fold");
        previous = row.index;
    }
    Check(state.next == previous + 1, "the next configuration is not the one after the last row");

    const std::string kept(file.substr(0, state.keep));
    for (const std::string& text : {kept, kept + "3,20,7", kept + "{\"config\""}) {
        SweepResumeState back{};
        Check(SweepResumeReadText("back.sweep", text, plan, &back, &error), "its complete lines are refused");
        Check(SameState(back, state), "its complete lines, or a torn line after them, read otherwise");
    }
    return 0;
}
