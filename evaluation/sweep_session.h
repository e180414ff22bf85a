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

#include "sweep_plan.h"
#include "sweep_summary.h"

struct SweepSessionOptions {
    bool frontEndCache = true;  // compute each recording's front end once (false: the whole pipeline per run)
    bool progress = false;      // a progress line on standard error when it is a terminal
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
// front ends too, unless options say otherwise), deals the held-out groups,
// evaluates the base configuration and takes the earlier rows of a resumed
// sweep (SweepResumeRead) into the summary. False with a message when no
// labelled recording could be read; session->data.failures names the
// recordings that could not be read in any case. Holds the decoded
// recordings (12 bytes per sample) and their front ends
// (kSweepFrontEndBytesPerSample) until the session goes.
bool SweepSessionStart(const SweepPlan& plan, const SweepRequest& request, const std::vector<SweepTally>& earlier,
                       const SweepSessionOptions& options, SweepSession* session, std::string* error);

// Runs configurations first .. plan.count - 1 on request.inputs.threads
// threads, hands each row (refused ones included, marked) to commit in
// configuration order on the calling thread, and adds it to the summary.
// When commit returns false the run stops after the configurations in
// flight. Memory stays flat in the number of configurations.
void SweepSessionRun(const SweepPlan& plan, const SweepRequest& request, int64_t first,
                     const SweepSessionOptions& options, SweepSession* session,
                     const std::function<bool(const SweepRow&)>& commit);

#endif
