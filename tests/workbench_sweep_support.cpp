// The sweep tests' recordings and program runs.
#include "workbench_sweep_support.h"

#include "dataset_format.h"
#include "scenarios.h"

SubjectSet::SubjectSet()
{
    const std::pair<const char*, const char*> names[] = {
        {"fall_forward", "fall_forward_s01_r1"},       {"fall_backward", "fall_backward_s02_r1"},
        {"fall_lateral", "fall_lateral_s03_r1"},       {"double_fall", "fall_double_s04_r1"},
        {"standing", "adl_standing_s01_r1"},           {"walking", "adl_walking_s02_r1"},
        {"sit_down_hard", "adl_sit_down_hard_s03_r1"}, {"jump", "adl_jump_s04_r1"},
    };
    for (const auto& [scenario, name] : names) {
        const recgen::Recording rec = recgen::MakeRecording(*recgen::FindScenario(scenario));
        WriteFile(dir / (std::string(name) + ".bin"), DataSetImage(rec.samples));
    }
}

const SubjectSet& Subjects()
{
    static const SubjectSet set;
    return set;
}

BenchRun Tumblewatch(const std::string& cwd, const std::vector<std::string>& args)
{
    return RunProgram(TUMBLEWATCH_PATH, cwd, args, 600);
}
