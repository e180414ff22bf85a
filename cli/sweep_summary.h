// What a sweep shows on the terminal when it ends.
#ifndef CLI_SWEEP_SUMMARY_H
#define CLI_SWEEP_SUMMARY_H

#include <cstdint>
#include <string>

#include "sweep_plan.h"

// The number of configurations, the time and throughput, the base
// configuration's figures, the Pareto front and the best configuration
// under the plan's objective, as text for the terminal.
std::string SweepSummaryText(const SweepPlan& plan, const SweepRow& base, const ParetoFront& front,
                             const ObjectiveBest& best, int64_t done, int64_t refused, double seconds,
                             uint64_t samples);

#endif
