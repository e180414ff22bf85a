// What a sweep shows on the terminal when it ends.
#ifndef CLI_SWEEP_SUMMARY_TEXT_H
#define CLI_SWEEP_SUMMARY_TEXT_H

#include "sweep_session.h"

// Prints on standard output the number of configurations, the time and
// throughput of this run, the base configuration's figures, the Pareto
// front, the best configuration under the plan's objective (with the
// --set options that give it) and, with folds, the nested selection.
void SweepPrintSummary(const SweepPlan& plan, const SweepSession& session);

// Prints the nested selection: per fold its limit, chosen configuration
// and held-out figures, their mean and spread, and the held-out subjects.
void SweepPrintNested(const SweepPlan& plan, const SweepSummary& summary);

#endif
