// The alarms of one recording as they arrive, in bounded memory however
// long the recording: the first alarms and events listed, all of them
// counted, and per fall code the alarms and the events it was raised in.
#ifndef EVALUATION_ALARM_TALLY_H
#define EVALUATION_ALARM_TALLY_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "detect.h"
#include "metrics.h"

// Alarms and events a recording's outcome lists; the rest are counted.
constexpr std::size_t kListedAlarms = 10000;
constexpr std::size_t kListedEvents = 10000;

// One fall code's part in a recording.
struct CodeTally {
    int code;
    int64_t alarms;  // samples that reported it
    int64_t events;  // events with at least one alarm of it
};

struct AlarmTally {
    double mergeSeconds;             // alarms closer than this (s) are one event
    std::vector<Alarm> alarms;       // the first kListedAlarms, in sample order
    int64_t alarmCount;              // all alarms
    std::vector<AlarmEvent> events;  // the first kListedEvents closed events
    int64_t eventCount;              // all closed events
    std::vector<CodeTally> codes;    // by code
    bool inEvent;                    // an event is open
    AlarmEvent open;                 // the open event
    std::vector<int> openCodes;      // the codes raised in it, without repeats
    FallWindowTally window;          // a timed fall's window (inactive unless set after AlarmTallyStart)
};

// Starts an empty tally, without a fall window.
void AlarmTallyStart(AlarmTally* tally, double mergeSeconds);

// Adds an alarm (in sample order): it joins the open event when less than
// mergeSeconds after the previous alarm, else it opens the next one.
// Allocates only while the lists grow, and for a code not seen before.
void AlarmTallyAdd(AlarmTally* tally, const Alarm& alarm);

// Closes the open event; call once after the last alarm.
void AlarmTallyFinish(AlarmTally* tally);

// A DetectAlarmSink that adds each alarm to the AlarmTally user.
void AlarmTallySink(void* user, const Alarm& alarm);

#endif
