// The parameter table and the rules that TumblewatchSet enforces.
#include "params.h"

#include <cstring>

namespace {

constexpr const char* kNotRead = "Not read by any stage; kept in its place in the record.";

// clang-format off
constexpr TumblewatchParam kParams[kTumblewatchParamCount] = {
    {"fallWindow", 20, "samples",
     "Length of the moving average accLpfAvg and base of the minimum fall length of codes 1, 2, 3, 4, 9 "
     "and 12; 1..63.", true, &TumblewatchConfig::fallWindow,
     "TumblewatchSet, UpdateFallWindow, FallLengthCode"},
    {"quietMagnitude", 60, "0.01 g",
     "A sample whose filtered magnitude is at or below this extends the quiet run; above it clears the run.",
     true, &TumblewatchConfig::quietMagnitude, "TrackFall"},
    {"jumpBandLow", 140, "0.01 g", "A jump sample has a raw magnitude strictly above this ...", true,
     &TumblewatchConfig::jumpBandLow, "TrackJump"},
    {"jumpBandHigh", 400, "0.01 g", "... and strictly below this.", true, &TumblewatchConfig::jumpBandHigh, "TrackJump"},
    {"rotationLow", 160, "deg/s",
     "Mean rotation below this selects the length tests of codes 1 and 3; at or above it codes 12, 2 and 4.",
     true, &TumblewatchConfig::rotationLow, "FallLengthCode"},
    {"rotationHigh", 360, "deg/s", "The weighted test (codes 2, 4) runs only while the mean rotation is below this.",
     true, &TumblewatchConfig::rotationHigh, "FallLengthCode"},
    {"weightedAccelMax", 40, "0.01 g",
     "The weighted test needs the rotation-weighted mean acceleration below this.", true,
     &TumblewatchConfig::weightedAccelMax, "FallLengthCode"},
    {"param7", 50, "-", kNotRead, false, &TumblewatchConfig::param7, "-"},
    {"pitchLimit", 65, "degrees", "Upright needs -pitchLimit < pitch < pitchLimit.", true,
     &TumblewatchConfig::pitchLimit, "TrackUpright"},
    {"param9", -180, "-", kNotRead, false, &TumblewatchConfig::param9, "-"},
    {"param10", -90, "-", kNotRead, false, &TumblewatchConfig::param10, "-"},
    {"tiltLimit", 35, "degrees",
     "Upright needs tilt below this; code 71 needs tilt at or above it; the fall score divides by "
     "tiltLimit - 15, so it must not be 15.", true, &TumblewatchConfig::tiltLimit, "TrackUpright, ScoreFall, CheckRotationFall"},
    {"recordLength", 4, "samples", "A low phase that ends is recorded as an event only when at least this long.",
     true, &TumblewatchConfig::recordLength, "TrackFall"},
    {"param13", 37, "-", kNotRead, false, &TumblewatchConfig::param13, "-"},
    {"param14", 60, "-", kNotRead, false, &TumblewatchConfig::param14, "-"},
    {"param15", 90, "-", kNotRead, false, &TumblewatchConfig::param15, "-"},
    {"param16", 55, "-", kNotRead, false, &TumblewatchConfig::param16, "-"},
    {"impactHardSum", 1750, "0.01 g, sum of 3", "A three-sample sum at or above this starts the hard-impact test "
     "(code 6).", true, &TumblewatchConfig::impactHardSum, "CheckImpact"},
    {"impactHardWindow", 5, "samples",
     "Hard impact after a short quiet run: the latest fall event must be at most this many samples old ...",
     true, &TumblewatchConfig::impactHardWindow, "CheckImpact"},
    {"impactHardLength", 3, "samples",
     "... and at least this long; a quiet run of at least this length is enough by itself.", true,
     &TumblewatchConfig::impactHardLength, "CheckImpact"},
    {"impactSoftSum", 1350, "0.01 g, sum of 3",
     "A three-sample sum at or above this (below impactHardSum) starts the soft-impact test (code 16) when "
     "the sensor is tilted.", true, &TumblewatchConfig::impactSoftSum, "CheckImpact"},
    {"impactSoftWindow", 5, "samples", "As impactHardWindow, for the soft impact.", true,
     &TumblewatchConfig::impactSoftWindow, "CheckImpact"},
    {"impactSoftLength", 7, "samples", "As impactHardLength, for the soft impact.", true,
     &TumblewatchConfig::impactSoftLength, "CheckImpact"},
    {"param23", -3, "-", kNotRead, false, &TumblewatchConfig::param23, "-"},
    {"param24", 1, "-", kNotRead, false, &TumblewatchConfig::param24, "-"},
    {"tumbleAccel", 150, "0.01 g", "A tumble sample needs a raw magnitude strictly above this ...", true,
     &TumblewatchConfig::tumbleAccel, "CountTumble"},
    {"tumbleGyro", 150, "deg/s", "... and a raw rotation strictly above this.", true,
     &TumblewatchConfig::tumbleGyro, "CountTumble"},
    {"tumbleLength", 19, "samples",
     "Code 5 needs a tumble run of this length plus half its upright samples.", true,
     &TumblewatchConfig::tumbleLength, "CheckTumble"},
    {"repeatPrevLength", 10, "samples",
     "Codes 7 and 8: minimum length of the latest recorded fall event.", true,
     &TumblewatchConfig::repeatPrevLength, "CheckRepeatFall"},
    {"repeatLength", 9, "samples", "Codes 7 and 8: minimum length of the confirmed low phase.", true,
     &TumblewatchConfig::repeatLength, "CheckRepeatFall"},
    {"repeatTotalLength", 25, "samples", "Code 8: minimum of the two lengths together.", true,
     &TumblewatchConfig::repeatTotalLength, "CheckRepeatFall"},
    {"repeatGapMin", 5, "samples",
     "Codes 7 and 8: the gap between the latest event and the new low phase is at least this ...", true,
     &TumblewatchConfig::repeatGapMin, "CheckRepeatFall"},
    {"repeatGapMax", 20, "samples", "... and at most this.", true, &TumblewatchConfig::repeatGapMax, "CheckRepeatFall"},
    {"repeatPeak", 400, "0.01 g", "Codes 7 and 8: the peak after the latest event is at least this.", true,
     &TumblewatchConfig::repeatPeak, "CheckRepeatFall"},
    {"param34", 25, "-", kNotRead, false, &TumblewatchConfig::param34, "-"},
};
// clang-format on

}  // namespace

const TumblewatchParam* TumblewatchParams()
{
    return kParams;
}

int TumblewatchParamIndex(const char* name)
{
    for (int i = 0; i < kTumblewatchParamCount; ++i) {
        if (std::strcmp(kParams[i].name, name) == 0) {
            return i;
        }
    }
    return -1;
}

int32_t TumblewatchParamGet(const TumblewatchConfig* cfg, int index)
{
    return cfg->*kParams[index].field;
}

void TumblewatchParamSet(TumblewatchConfig* cfg, int index, int32_t value)
{
    cfg->*kParams[index].field = value;
}

const char* TumblewatchCheck(const TumblewatchConfig* cfg, int* index)
{
    if (cfg->fallWindow < 1 || cfg->fallWindow > 63) {
        if (index != nullptr) {
            *index = TumblewatchParamIndex("fallWindow");
        }
        return "must lie in 1..63";
    }
    if (cfg->tiltLimit == 15) {
        if (index != nullptr) {
            *index = TumblewatchParamIndex("tiltLimit");
        }
        return "must not be 15 (tiltLimit - 15 is a divisor)";
    }
    return nullptr;
}
