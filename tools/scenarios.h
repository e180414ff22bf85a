// The recordings the generator can write: each a named scenario built from
// the activities, on a sensor seeded from the scenario's name.
#ifndef TOOLS_SCENARIOS_H
#define TOOLS_SCENARIOS_H

#include <string>
#include <vector>

#include "tumblewatch.h"

namespace recgen {

struct Sensor;

struct Scenario {
    const char* name;
    const char* description;
    void (*build)(Sensor* sensor);
};

struct Recording {
    std::string name;
    std::string description;
    std::vector<ImuSample> samples;
};

// Every scenario, in a fixed order.
const std::vector<Scenario>& Scenarios();

// The scenario of that name, or null.
const Scenario* FindScenario(const std::string& name);

// Builds the recording of a scenario; the same scenario always gives the
// same samples.
Recording MakeRecording(const Scenario& scenario);

}  // namespace recgen

#endif
