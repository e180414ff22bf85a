// The running tally of a recording's alarms.
#include "alarm_tally.h"

#include <algorithm>

namespace {

CodeTally* CodeOf(AlarmTally* tally, int code)
{
    auto at = std::lower_bound(tally->codes.begin(), tally->codes.end(), code,
                               [](const CodeTally& c, int value) { return c.code < value; });
    if (at == tally->codes.end() || at->code != code) {
        at = tally->codes.insert(at, CodeTally{code, 0, 0});
    }
    return &*at;
}

void CloseEvent(AlarmTally* tally)
{
    if (!tally->inEvent) {
        return;
    }
    for (const int code : tally->openCodes) {
        ++CodeOf(tally, code)->events;
    }
    if (tally->events.size() < kListedEvents) {
        tally->events.push_back(tally->open);
    }
    ++tally->eventCount;
    tally->openCodes.clear();
    tally->inEvent = false;
}

}  // namespace

void AlarmTallyStart(AlarmTally* tally, double mergeSeconds)
{
    tally->mergeSeconds = mergeSeconds;
    tally->alarms.clear();
    tally->alarmCount = 0;
    tally->events.clear();
    tally->eventCount = 0;
    tally->codes.clear();
    tally->inEvent = false;
    tally->open = AlarmEvent{0, 0, 0};
    tally->openCodes.clear();
    tally->window = MetricsNoWindow();
}

void AlarmTallyAdd(AlarmTally* tally, const Alarm& alarm)
{
    if (tally->inEvent && MetricsSameEvent(tally->open.last, alarm.sample, tally->mergeSeconds)) {
        tally->open.last = alarm.sample;
        ++tally->open.alarms;
    } else {
        CloseEvent(tally);
        tally->open = AlarmEvent{alarm.sample, alarm.sample, 1};
        tally->inEvent = true;
    }
    if (std::find(tally->openCodes.begin(), tally->openCodes.end(), alarm.code) == tally->openCodes.end()) {
        tally->openCodes.push_back(alarm.code);
    }
    ++CodeOf(tally, alarm.code)->alarms;
    if (tally->alarms.size() < kListedAlarms) {
        tally->alarms.push_back(alarm);
    }
    ++tally->alarmCount;
    MetricsWindowAdd(&tally->window, alarm.sample, tally->mergeSeconds);
}

void AlarmTallyFinish(AlarmTally* tally)
{
    CloseEvent(tally);
}

void AlarmTallySink(void* user, const Alarm& alarm)
{
    AlarmTallyAdd(static_cast<AlarmTally*>(user), alarm);
}
