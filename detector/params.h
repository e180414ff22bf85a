// The detector's parameters by name: the 35 fields of TumblewatchConfig in
// field order, each with its default, unit and meaning. The table is the
// one place where the defaults are written down; TumblewatchDefault copies
// them from here.
#ifndef TUMBLEWATCH_PARAMS_H
#define TUMBLEWATCH_PARAMS_H

#include <cstdint>

#include "tumblewatch.h"

// Number of parameters, the fields of TumblewatchConfig.
constexpr int kTumblewatchParamCount = 35;

// One parameter of the detector.
struct TumblewatchParam {
    const char* name;                   // the field's name, e.g. "fallWindow"
    int32_t defaultValue;               // what TumblewatchDefault writes
    const char* unit;                   // "samples", "0.01 g", "deg/s", "degrees", ... or "-"
    const char* meaning;                // one sentence
    bool read;                          // false for the ten fields that no stage reads
    int32_t TumblewatchConfig::*field;  // the field itself
    const char* stages;                 // the stages that read it, e.g. "CheckImpact"; "-" for none
};

// The table of all parameters in field order (kTumblewatchParamCount
// entries). Static storage: valid for the whole process, nothing to free.
const TumblewatchParam* TumblewatchParams();

// The index (0..34) of the parameter called name (case-sensitive), or -1.
int TumblewatchParamIndex(const char* name);

// The value of parameter index (0..34) in cfg.
int32_t TumblewatchParamGet(const TumblewatchConfig* cfg, int index);

// Sets parameter index (0..34) of cfg to value.
void TumblewatchParamSet(TumblewatchConfig* cfg, int index, int32_t value);

// Why TumblewatchSet would refuse cfg: null when it is accepted; otherwise
// a constant text (static storage) naming the rule, with the index of the
// parameter at fault in *index when index is not null. The two rules:
// fallWindow in 1..63 (a window over the 64-entry rings, and a divisor) and
// tiltLimit other than 15 (tiltLimit - 15 is a divisor).
const char* TumblewatchCheck(const TumblewatchConfig* cfg, int* index);

#endif
