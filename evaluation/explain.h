// Why a fall was missed and why an activity raised an alarm: each
// criterion's closest approach in a missed fall, the alarms of a false
// alarm, and for each the smallest change of one parameter (over a scan's
// values, scan.h) that catches the fall or removes the alarm, with what the
// change does to every other recording. Every change is taken from
// detector runs and run once more on its recording to confirm it.
#ifndef EVALUATION_EXPLAIN_H
#define EVALUATION_EXPLAIN_H

#include <cstdint>
#include <string>
#include <vector>

#include "scan.h"

// One criterion's closest approach in a recording, under the base
// configuration.
struct ExplainApproach {
    std::string criterion;  // e.g. "hard impact"
    std::string codes;      // the fall codes it raises, e.g. "6"
    std::string quantity;   // what is compared, e.g. "accRawSum3 (sum of three raw magnitudes)"
    int param;              // the parameter whose threshold it is (params.h)
    int32_t threshold;      // the parameter's value
    bool seen;              // false when the test never ran (its preconditions never held)
    int64_t value;          // the quantity at the closest approach, in the parameter's unit
    int64_t sample;         // where (0-based), -1 when not seen
    int64_t margin;         // how far short, in the parameter's unit; 0 or less: passed there (others failed)
    std::string note;       // what the criterion needs besides
    std::string unseen;     // why the test never ran, when it did not
};

// A change of one parameter and what it does.
struct ExplainChange {
    int param;            // the parameter (params.h)
    int32_t from;         // the base value
    int32_t to;           // the new value
    int config;           // its configuration in the scan's plan (refined: in the refined plan)
    bool refined;         // a value between two scanned ones, found by bisection on the recording
    bool verified;        // rerun on the recording: it does what is claimed
    int64_t alarm;        // first alarm on the recording under the change (-1: none)
    int code;             // its fall code (0: none)
    ScanChanges changes;  // against the base, over every recording (the recording itself included)
    Metrics metrics;      // over every recording, under the change
};

// A missed fall or a false alarm.
struct ExplainCase {
    std::size_t recording;                    // position in the data
    bool missedFall;                          // else a false alarm (an ADL with an alarm)
    std::vector<Alarm> alarms;                // a false alarm's alarms under the base (the first 100)
    uint32_t alarmCount;                      // all of them
    std::vector<ExplainApproach> approaches;  // a missed fall's criteria
    std::vector<ExplainChange> changes;       // per parameter that can, the smallest change; best first
    std::vector<int> cannot;                  // the parameters no scanned value of which does it
};

struct Explanation {
    ScanPlan plan;
    ScanTable table;
    ScanPlan refined;        // the base, then the values found between scanned ones
    ScanTable refinedTable;  // their runs over every recording (empty when there is none)
    Metrics base;
    std::vector<ExplainCase> cases;  // missed falls first, then false alarms, each in recording order
};

// The closest approach of each criterion on recording rec under config
// (runs the whole pipeline once, observing every sample).
std::vector<ExplainApproach> ExplainApproaches(const SweepRecording& rec, const TumblewatchConfig& config);

// Scans plan's parameters (ScanRun) and explains every missed fall and
// false alarm of data under the plan's base. A parameter's change is found
// in two steps: the scanned value nearest the base value (the lower of two
// as near) that gives the recording an alarm (a fall) or none (an ADL);
// then, when the scanned value next to it towards the base does not, the
// value between the two nearest the base that does, by bisection on the
// recording alone. Every such value is then run over every recording (a
// second ScanRun), so that what it does elsewhere is counted, not guessed,
// and each change is run once more on its recording to confirm it. The
// changes of a case are ordered by false alarms added (missed falls) or
// falls lost (false alarms), then by what else they gain, then parameter
// order. Holds the scans' tables (8 bytes per configuration and
// recording).
void ExplainRun(const SweepData& data, const ScanPlan& plan, double mergeSeconds, int threads, Progress* progress,
                Explanation* explanation);

#endif
