// What a sweep is, checked before any work: its recordings and labels,
// the base configuration, the space of configurations, the objective, the
// held-out groups and the layout of its output; and reading back the rows
// an earlier run of the same sweep left behind.
#ifndef EVALUATION_SWEEP_PLAN_H
#define EVALUATION_SWEEP_PLAN_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "load_inputs.h"
#include "pareto.h"
#include "sweep.h"
#include "sweep_output.h"
#include "sweep_space.h"
#include "sweep_tally.h"

// A sweep as a user asks for it (the command line's options, the Python
// module's arguments).
struct SweepRequest {
    InputOptions inputs;
    std::vector<std::string> grids;   // "NAME=LO:HI:STEP" or "NAME=V1,V2,..."
    std::vector<std::string> ranges;  // "NAME=LO:HI", with random > 0
    int64_t random = 0;               // random draws per grid point
    uint64_t seed = 1;                // of the random draws
    int64_t maxConfigs = kDefaultMaxConfigs;
    int folds = 0;                    // held-out groups; 0 for none
    std::string format = "csv";       // of the output: "csv" or "jsonl"
    std::string objective;            // "" (the default), "max:f1", "max:sensitivity@fa<=X"
    std::string foldsBy = "subject";  // the manifest column whose values the folds hold out
};

// The settings a sweep runs its configurations with.
SweepSettings SweepSettingsOf(const SweepRequest& request);

// Everything a sweep needs, checked.
struct SweepPlan {
    TumblewatchConfig base;
    Manifest manifest;
    InputSet inputs;
    SweepSpace space;
    int64_t count;            // configurations
    std::vector<int> varied;  // parameter indices, in row order
    Objective objective;      // a SensitivityAtBase limit is set once the base is evaluated
    SweepLayout layout;
    std::vector<RecordingLabels> labels;  // of inputs.recordings
};

// Checks a request and builds its plan: configuration, manifest,
// recordings, grids, ranges, the count against maxConfigs, the objective
// and the folds. False with a message naming the problem. The layout's
// identifier is set once the recordings are loaded (SweepPlanIdentify).
bool SweepPlanMake(const SweepRequest& request, SweepPlan* plan, std::string* error);

// Once the recordings are loaded: checks that every manifest impact (and
// every fall's timing) lies within its recording and sets the layout's identifier, which covers the
// recordings' content (a hash of the decoded samples of every recording
// the rows depend on, with its name and labels), the base configuration,
// grids, ranges, draws, seed, folds and event gap. False with a message
// naming the manifest's line of an impact outside its recording.
bool SweepPlanIdentify(const SweepRequest& request, const SweepData& data, SweepPlan* plan, std::string* error);

// The files a sweep reads (the manifest, the configuration file and every
// recording; empty names left out).
std::vector<std::string> SweepPlanInputFiles(const SweepRequest& request, const SweepPlan& plan);

// Checks a sweep's outputs before any work (FilesCheckOutputs): out, the
// rows, against what the sweep reads; then results, the files written when
// it ends (--best, --html, --summary; an empty path is an option not
// given), against that and out, which they follow. False with a message
// naming the option.
bool SweepPlanCheckOutputs(const SweepRequest& request, const SweepPlan& plan, const std::string& out,
                           const std::vector<FilesOutput>& results, std::string* error);

// The manifest of a plan, or null when the request gives none.
const Manifest* SweepPlanManifest(const SweepRequest& request, const SweepPlan& plan);

// "name=value ..." of the varied parameters.
std::string SweepVariedText(const std::vector<int>& varied, const std::vector<int32_t>& values);

// What the front and the objective know of a row.
SweepPoint SweepPointOf(const SweepRow& row, const std::vector<int>& varied);

// What an earlier run of the same sweep left in its output file.
struct SweepResumeState {
    std::vector<SweepTally> rows;  // its rows, in order, as counts
    int64_t next;                  // the first configuration still to run
    uint64_t keep;                 // length of the file's complete lines, in bytes
};

// Reads the rows of the sweep's output at path back (after
// SweepPlanIdentify). They must be exactly the configurations 0, 1, ...
// in order that the detector accepts (it refuses some: they have no row),
// each with this sweep's values. False with a message when the file holds
// another sweep, is no sweep output, was written by a previous version (its
// rows lack the counts), or a row is missing, out of order or not of this
// sweep, saying what differs; *state is then unchanged.
bool SweepResumeRead(const std::string& path, const SweepPlan& plan, SweepResumeState* state, std::string* error);

// SweepResumeRead over the bytes of a sweep output in memory; name stands
// for the file in messages.
bool SweepResumeReadText(const std::string& name, std::string_view bytes, const SweepPlan& plan,
                         SweepResumeState* state, std::string* error);

#endif
