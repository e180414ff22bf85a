// The files a sweep writes when it ends, besides its rows: the best
// configuration (--best), the summary (--summary) and the page (--html).
#ifndef CLI_SWEEP_RESULTS_H
#define CLI_SWEEP_RESULTS_H

#include "commands.h"
#include "sweep_session.h"

// Writes each of --best, --summary and --html that options name; reports
// every one that cannot be written (and --best when no configuration
// qualifies, which writes nothing). False when a file could not be written.
bool SweepWriteResults(const SweepOptions& options, const SweepPlan& plan, const SweepSession& session);

#endif
