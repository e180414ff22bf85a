// Breakdowns of an evaluation.
#include "breakdown.h"

#include <map>
#include <set>
#include <utility>

Breakdowns BreakdownsOf(const Evaluation& evaluation)
{
    std::map<std::pair<int, std::string>, ActivityRow> activities;
    std::map<int, CodeRow> codes;
    std::map<std::string, std::vector<RecordingScore>> folders;
    for (const RecordingOutcome& o : evaluation.outcomes) {
        if (!o.read) {
            continue;
        }
        const Label label = o.labels.label;
        const std::vector<Alarm>& alarms = o.detect.alarms;
        if (label != Label::None) {
            // Falls first, then ADLs.
            const int order = label == Label::Fall ? 0 : 1;
            ActivityRow& a = activities[{order, o.labels.activity}];
            a.label = label;
            a.activity = o.labels.activity;
            if (a.description.empty()) {
                a.description = o.labels.description;
            }
            ++a.recordings;
            a.detected += alarms.empty() ? 0 : 1;
            a.events += static_cast<int>(o.events.size());
            a.hours += o.detect.samples / kSampleRate / 3600.0;
            folders[o.input.folder].push_back(EvalScore(o));
        }
        std::size_t at = 0;
        for (const AlarmEvent& e : o.events) {
            std::set<int> seen;
            for (; at < alarms.size() && alarms[at].sample <= e.last; ++at) {
                CodeRow& c = codes[alarms[at].code];
                c.code = alarms[at].code;
                ++c.alarms;
                seen.insert(alarms[at].code);
            }
            for (const int code : seen) {
                if (label == Label::Fall) {
                    ++codes[code].eventsOnFalls;
                } else if (label == Label::Adl) {
                    ++codes[code].eventsOnAdls;
                }
            }
        }
    }
    Breakdowns b;
    for (const auto& [key, row] : activities) {
        b.activities.push_back(row);
    }
    for (const auto& [code, row] : codes) {
        b.codes.push_back(row);
    }
    for (const auto& [folder, scores] : folders) {
        b.folders.push_back(FolderRow{folder, MetricsCompute(scores)});
    }
    return b;
}
