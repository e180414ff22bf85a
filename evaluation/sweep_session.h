// A sweep from its plan to its summary: the one entry point that the
// command line and the Python module share. Start loads the recordings
// (with their front ends), evaluates the base configuration and takes in
// the rows an earlier run left; Run evaluates the configurations still to
// run, hands each row over in order and keeps the summary (front, best
// configuration, nested selection) up to date.
#ifndef EVALUATION_SWEEP_SESSION_H
#define EVALUATION_SWEEP_SESSION_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "progress.h"
#include "sweep_plan.h"
#include "sweep_summary.h"

struct SweepSessionOptions {
    bool frontEndCache = true;  // compute each recording's front end once (false: the whole pipeline per run)
    bool progress = false;      // a progress line on standard error when it is a terminal
    // The intervals' level and the nested selection's bootstrap resamples;
    // its seed is the request's.
    IntervalSettings intervals{kIntervalDefaultConfidence, kSweepNestedResamples, 1};
};

struct SweepSession {
    SweepData data;            // the decoded recordings, their front ends and the held-out groups
    SweepSummary summary;      // the base configuration, the earlier rows and every row run since
    int64_t runNow;            // configurations that Run evaluated (refused ones included)
    int64_t refusedNow;        // of those, refused by the detector (they have no row)
    std::string firstRefusal;  // "configuration N: why" of the first of them
    double seconds;            // Run's wall-clock time
    uint64_t samples;          // samples that Run processed
};

// Loads the plan's recordings on request.inputs.threads threads (their
// front ends too, unless options say otherwise), sets the plan's identifier
// from them (SweepPlanIdentify), deals the held-out groups, evaluates the
// base configuration and starts the summary. False with a message when no
// labelled recording could be read or a manifest's impact lies outside its
// recording; session->data.failures names the recordings that could not be
// read and session->data.empty those without samples in any case. Holds the
// decoded recordings (12 bytes per sample) and their front ends
// (kSweepFrontEndBytesPerSample) until the session goes.
// poll (when given) is asked while the recordings load: false stops, with
// the message "stopped".
bool SweepSessionStart(SweepPlan* plan, const SweepRequest& request, const SweepSessionOptions& options,
                       SweepSession* session, std::string* error, const ProgressPoll& poll = ProgressPoll());

// Takes the rows an earlier run of the same sweep left (SweepResumeRead,
// after SweepSessionStart has set the identifier) into the summary.
void SweepSessionResume(const SweepPlan& plan, const std::vector<SweepTally>& earlier, SweepSession* session);

// Runs configurations first .. plan.count - 1 on request.inputs.threads
// threads, hands each row (refused ones included, marked) to commit in
// configuration order on the calling thread, and adds it to the summary;
// with folds, then bootstraps the nested selection over the subjects
// (SweepSummaryBootstrapNested with options.intervals and request.seed).
// When commit returns false, or poll (when given) asks to stop, the run
// stops after the configurations in flight. Memory stays flat in the number
// of configurations.
void SweepSessionRun(const SweepPlan& plan, const SweepRequest& request, int64_t first,
                     const SweepSessionOptions& options, SweepSession* session,
                     const std::function<bool(const SweepRow&)>& commit, const ProgressPoll& poll = ProgressPoll());

#endif
