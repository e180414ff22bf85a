// Running a planned sweep and summarising it.
#include "sweep_session.h"

#include <fmt/core.h>

namespace {

SweepSettings SettingsOf(const SweepRequest& request)
{
    return SweepSettingsOf(request);
}

}  // namespace

bool SweepSessionStart(SweepPlan* plan, const SweepRequest& request, const SweepSessionOptions& options,
                       SweepSession* session, std::string* error, const ProgressPoll& poll)
{
    session->runNow = 0;
    session->refusedNow = 0;
    session->firstRefusal.clear();
    session->seconds = 0.0;
    session->samples = 0;
    if (!SweepLoad(plan->inputs, SweepPlanManifest(request, *plan), request.inputs.threads, options.frontEndCache,
                   &session->data, poll)) {
        *error = "stopped";
        return false;
    }
    if (session->data.recordings.empty()) {
        *error = "no labelled recording could be read: nothing to sweep";
        return false;
    }
    if (!SweepPlanIdentify(request, session->data, plan, error)) {
        return false;
    }
    SweepAssignFoldsBy(&session->data, request.folds, request.foldsBy);
    const SweepRow base = SweepEvaluate(session->data, plan->base, -1, SettingsOf(request));
    SweepSummaryStart(&session->summary, plan->varied, plan->objective, session->data, base);
    return true;
}

void SweepSessionResume(const SweepPlan& plan, const std::vector<SweepTally>& earlier, SweepSession* session)
{
    for (const SweepTally& t : earlier) {
        SweepSummaryAdd(&session->summary,
                        SweepRowOfTally(t, session->data, SweepConfig(plan.space, plan.base, t.index)));
    }
}

void SweepSessionRun(const SweepPlan& plan, const SweepRequest& request, int64_t first,
                     const SweepSessionOptions& options, SweepSession* session,
                     const std::function<bool(const SweepRow&)>& commit, const ProgressPoll& poll)
{
    Progress progress;
    ProgressStart(&progress, "configurations", static_cast<uint64_t>(plan.count - first), options.progress);
    progress.poll = poll;
    SweepRun(session->data, plan.space, plan.base, first, plan.count - first, SettingsOf(request), &progress,
             [&](const SweepRow& row) {
                 ++session->runNow;
                 if (row.refused && session->refusedNow++ == 0) {
                     session->firstRefusal = fmt::format("configuration {}: {}", row.index, row.refusal);
                 }
                 if (!commit(row)) {
                     return false;
                 }
                 SweepSummaryAdd(&session->summary, row);
                 return true;
             });
    ProgressEnd(progress);
    session->seconds = ProgressSeconds(progress);
    session->samples = progress.samples;
    IntervalSettings intervals = options.intervals;
    intervals.seed = request.seed;
    SweepSummaryBootstrapNested(&session->summary, session->data, SettingsOf(request), intervals);
}
