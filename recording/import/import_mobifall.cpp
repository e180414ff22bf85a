// MobiFall v2.0: subN/ADL|FALLS/ACT/ holds ACT_acc_N_T.txt and
// ACT_gyro_N_T.txt per trial (the _ori_ files are not used): '#' header
// lines, then "@DATA", then "timestamp_ns,x,y,z" lines (m/s^2, rad/s) at
// each sensor's own irregular times.
#include <cmath>
#include <iterator>
#include <map>

#include "import_datasets.h"

namespace {

// The activities of the dataset's DataDescribe.txt.
constexpr ImportActivity kActivities[] = {
    {"STD", "adl", "standing", "standing with subtle movements"},
    {"WAL", "adl", "walking", "normal walking"},
    {"JOG", "adl", "jogging", "jogging"},
    {"JUM", "adl", "jumping", "continuous jumping"},
    {"STU", "adl", "stairs_up", "stairs up (10 stairs)"},
    {"STN", "adl", "stairs_down", "stairs down (10 stairs)"},
    {"SCH", "adl", "sit_chair", "sitting on a chair"},
    {"CSI", "adl", "car_step_in", "step in a car"},
    {"CSO", "adl", "car_step_out", "step out a car"},
    {"FOL", "fall", "forward_lying", "fall forward from standing, use of hands to dampen fall"},
    {"FKL", "fall", "front_knees_lying", "fall forward from standing, first impact on knees"},
    {"BSC", "fall", "back_sitting_chair", "fall backward while trying to sit on a chair"},
    {"SDL", "fall", "sideward_lying", "fall sidewards from standing, bending legs"},
};

// The trial that begins seated in a car: its reference second is its last.
constexpr const char* kSeatedAtStart = "CSO";
constexpr double kGravity = 9.80665;  // m/s^2 per g
constexpr double kNsToSeconds = 1e-9;
constexpr int kReferenceSamples = 50;  // the reference second

// "FOL_acc_1_2.txt": the activity (three capitals), the sensor, subject
// and trial numbers.
bool ParseName(const std::string& name, std::string* code, std::string* sensor, std::string* subject,
               std::string* trial)
{
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".txt") != 0) {
        return false;
    }
    const std::string stem = name.substr(0, name.size() - 4);
    std::string parts[4];
    std::size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        const std::size_t end = i < 3 ? stem.find('_', at) : stem.size();
        if (end == std::string::npos) {
            return false;
        }
        parts[i] = stem.substr(at, end - at);
        at = end + 1;
    }
    if (parts[0].size() != 3 || parts[1].empty() || parts[2].empty() || parts[3].empty()) {
        return false;
    }
    for (const char c : parts[0]) {
        if (c < 'A' || c > 'Z') {
            return false;
        }
    }
    for (const std::string* digits : {&parts[2], &parts[3]}) {
        for (const char c : *digits) {
            if (c < '0' || c > '9') {
                return false;
            }
        }
    }
    *code = parts[0];
    *sensor = parts[1];
    *subject = parts[2];
    *trial = parts[3];
    return true;
}

// The label of an activity the table does not know: from the folder the
// dataset keeps it in (FALLS or ADL), empty when neither.
std::string LabelFromFolders(const std::string& path)
{
    std::string folder = ImportFolderOf(path);
    while (!folder.empty()) {
        const std::string name = ImportBaseName(folder);
        if (name == "FALLS") {
            return "fall";
        }
        if (name == "ADL") {
            return "adl";
        }
        folder = ImportFolderOf(folder);
    }
    return "";
}

// Reads one sensor file: the lines after "@DATA", times in seconds, values
// times scale.
bool ReadStream(ImportLines* text, double scale, bool divide, std::vector<ImportTimed>* stream, ImportFault* fault)
{
    bool data = false;
    auto parse = [&](std::string_view line, ImportTimedRow* row, std::string* reason) {
        if (!data) {
            data = ImportTrim(line) == "@DATA";
            return ImportLineKind::Other;
        }
        return ImportParseMobiFallLine(line, row, reason);
    };
    auto take = [&](const ImportTimedRow& row) {
        const ImportVec3& v = row.v;
        stream->push_back(
            ImportTimed{row.time * kNsToSeconds, divide ? ImportVec3{v.x / scale, v.y / scale, v.z / scale}
                                                        : ImportVec3{v.x * scale, v.y * scale, v.z * scale}});
    };
    if (!ImportReadRows<ImportTimedRow>(text, parse, take, fault)) {
        return false;
    }
    if (!data) {
        fault->line = 0;
        fault->reason = "no @DATA line: not a MobiFall sensor file";
        return false;
    }
    return true;
}

}  // namespace

ImportLineKind ImportParseMobiFallLine(std::string_view line, ImportTimedRow* row, std::string* reason)
{
    if (ImportHasZeroByte(line, reason)) {
        return ImportLineKind::Bad;
    }
    const std::string_view text = ImportTrim(line);
    if (text.empty()) {
        return ImportLineKind::Other;
    }
    std::string_view fields[4];
    const int count = ImportSplit(text, ',', fields, 4);
    if (count != 4) {
        *reason =
            std::to_string(count) + (count == 1 ? " field" : " fields") + " where 4 are expected (timestamp_ns,x,y,z)";
        return ImportLineKind::Bad;
    }
    double values[4];
    for (int i = 0; i < 4; ++i) {
        if (!ImportParseNumber(fields[i], &values[i], reason)) {
            *reason = ImportFieldName(i + 1) + *reason;
            return ImportLineKind::Bad;
        }
    }
    if (values[0] < 0) {
        *reason = "field 1 out of range: a negative time stamp";
        return ImportLineKind::Bad;
    }
    *row = ImportTimedRow{values[0], {values[1], values[2], values[3]}};
    return ImportLineKind::Data;
}

void ImportPlanMobiFall(const std::vector<std::string>& files, std::vector<ImportTrial>* trials,
                        std::vector<ImportSkip>* skipped)
{
    // Each trial by its folder, activity, subject and trial: the paths of
    // its two files.
    struct Pair {
        std::string acc;
        std::string gyro;
    };
    std::map<std::string, Pair> pairs;
    std::vector<std::string> order;
    for (const std::string& file : files) {
        std::string code, sensor, subject, trial;
        if (!ParseName(ImportBaseName(file), &code, &sensor, &subject, &trial) ||
            (sensor != "acc" && sensor != "gyro")) {
            continue;
        }
        const std::string key = ImportFolderOf(file) + "/" + code + "_" + subject + "_" + trial;
        Pair& p = pairs[key];
        if (p.acc.empty() && p.gyro.empty()) {
            order.push_back(key);
        }
        (sensor == "acc" ? p.acc : p.gyro) = file;
    }
    for (const std::string& key : order) {
        const Pair& p = pairs[key];
        const std::string& any = p.acc.empty() ? p.gyro : p.acc;
        std::string code, sensor, subject, trial;
        ParseName(ImportBaseName(any), &code, &sensor, &subject, &trial);
        if (p.acc.empty() || p.gyro.empty()) {
            const std::string missing = p.acc.empty() ? "accelerometer" : "gyroscope";
            const std::string file = code + (p.acc.empty() ? "_acc_" : "_gyro_") + subject + "_" + trial + ".txt";
            skipped->push_back(ImportSkip{any, 0, "no " + missing + " file " + file + " beside it"});
            continue;
        }
        ImportTrial t{{p.acc, p.gyro}, "", "", code, "", ImportNumberText(trial), "", code == kSeatedAtStart};
        std::string subjectNumber = ImportNumberText(subject);
        t.subject = "s" + std::string(subjectNumber.size() < 2 ? "0" : "") + subjectNumber;
        t.label = LabelFromFolders(p.acc);
        ImportNameTrial(kActivities, std::size(kActivities), ImportSlug(code), &t);
        if (t.label.empty()) {
            skipped->push_back(ImportSkip{
                p.acc, 0, "unknown activity " + code + ", and its folder is neither below FALLS nor below ADL"});
            continue;
        }
        trials->push_back(t);
    }
}

bool ImportConvertMobiFall(const ImportSettings& settings, const ImportTrial& trial, ImportLines* acc,
                           ImportLines* gyro, ImportConverted* converted, ImportFault* fault)
{
    std::vector<ImportTimed> accStream;
    std::vector<ImportTimed> gyroStream;
    fault->source = 0;
    if (!ReadStream(acc, kGravity, true, &accStream, fault)) {
        return false;
    }
    fault->source = 1;
    // rad/s to deg/s: times 180, divided by pi.
    if (!ReadStream(gyro, 180.0 / M_PI, false, &gyroStream, fault)) {
        return false;
    }
    fault->source = 0;
    fault->line = 0;
    if (!ImportResampleTimed(&accStream, &gyroStream, false, &converted->samples, &converted->conversion,
                             &fault->reason)) {
        return false;
    }
    if (settings.axesGiven) {
        converted->axes = settings.axes;
    } else {
        // The phone may be upside down in the pocket: the identity when the
        // y acceleration over the reference second points down, else a
        // half turn about z.
        const std::vector<ImportSample>& s = converted->samples;
        const std::size_t n = s.size() < kReferenceSamples ? s.size() : kReferenceSamples;
        const std::size_t from = trial.referenceAtEnd ? s.size() - n : 0;
        double sum = 0.0;
        for (std::size_t i = from; i < from + n; ++i) {
            sum += s[i].acc.y;
        }
        converted->axes = sum / static_cast<double>(n) < 0 ? ImportAxesIdentity() : ImportAxes{{0, 1, 2}, {-1, -1, 1}};
    }
    ImportApplyAxes(converted->axes, &converted->samples);
    return true;
}
