// UMAFall: UMAFall_Subject_NN_{ADL|Fall}_ACTIVITY_TRIAL_DATE_TIME.csv, one
// file per trial holding the lines of five sensors interleaved; only the
// waist sensor is used, its accelerometer (g) and gyroscope (deg/s) at
// about 20 Hz.
#include <iterator>
#include <map>

#include "import_datasets.h"

namespace {

// The movements, described in plain words; the label is in the file name.
constexpr ImportActivity kActivities[] = {
    {"ADL_Walking", nullptr, "walking", "walking"},
    {"ADL_Jogging", nullptr, "jogging", "jogging"},
    {"ADL_Hopping", nullptr, "hopping", "hopping"},
    {"ADL_Bending", nullptr, "bending", "bending"},
    {"ADL_Sitting_GettingUpOnAChair", nullptr, "sit_chair_get_up", "sitting down on a chair and getting up"},
    {"ADL_LyingDown_OnABed", nullptr, "lie_down_bed", "lying down on a bed"},
    {"ADL_GoUpstairs", nullptr, "stairs_up", "going upstairs"},
    {"ADL_GoDownstairs", nullptr, "stairs_down", "going downstairs"},
    {"ADL_Aplausing", nullptr, "clapping", "clapping hands"},
    {"ADL_HandsUp", nullptr, "hands_up", "raising the hands"},
    {"ADL_MakingACall", nullptr, "phone_call", "making a phone call"},
    {"ADL_OpeningDoor", nullptr, "opening_door", "opening a door"},
    {"Fall_forwardFall", nullptr, "forward", "forward fall"},
    {"Fall_backwardFall", nullptr, "backward", "backward fall"},
    {"Fall_lateralFall", nullptr, "lateral", "lateral fall"},
};

constexpr const char* kPrefix = "UMAFall_Subject_";
constexpr int64_t kDefaultWaist = 2;  // the waist sensor's ID when no header line names it
constexpr int64_t kAccelerometer = 0;
constexpr int64_t kGyroscope = 1;
constexpr double kMsToSeconds = 1e-3;
constexpr int kFields = 7;

bool AllDigits(const std::string& s)
{
    if (s.empty()) {
        return false;
    }
    for (const char c : s) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

// "UMAFall_Subject_02_Fall_forwardFall_1_2016-06-13_20-43-52.csv": the
// subject, the type (ADL or Fall), the activity (which may hold '_') and
// the trial; the date and time close the name.
bool ParseName(const std::string& name, std::string* subject, std::string* type, std::string* activity,
               std::string* trial, std::string* stamp)
{
    const std::size_t prefix = std::char_traits<char>::length(kPrefix);
    if (name.compare(0, prefix, kPrefix) != 0 || name.size() < prefix + 4 ||
        name.compare(name.size() - 4, 4, ".csv") != 0) {
        return false;
    }
    std::vector<std::string> parts;
    const std::string rest = name.substr(prefix, name.size() - 4 - prefix);
    std::size_t at = 0;
    for (;;) {
        const std::size_t end = rest.find('_', at);
        parts.push_back(rest.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos) {
            break;
        }
        at = end + 1;
    }
    // subject, type, activity..., trial, date, time
    const std::size_t n = parts.size();
    if (n < 6 || !AllDigits(parts[0]) || (parts[1] != "ADL" && parts[1] != "Fall") || !AllDigits(parts[n - 3])) {
        return false;
    }
    std::string words = parts[2];
    for (std::size_t i = 3; i < n - 3; ++i) {
        words += "_" + parts[i];
    }
    *subject = parts[0];
    *type = parts[1];
    *activity = words;
    *trial = parts[n - 3];
    *stamp = parts[n - 2] + "_" + parts[n - 1];
    return !words.empty();
}

bool IsWaist(std::string_view position)
{
    const std::string_view p = ImportTrim(position);
    if (p.size() != 5) {
        return false;
    }
    for (std::size_t i = 0; i < 5; ++i) {
        const char c = p[i] >= 'a' && p[i] <= 'z' ? static_cast<char>(p[i] - 'a' + 'A') : p[i];
        if (c != "WAIST"[i]) {
            return false;
        }
    }
    return true;
}

// True when line has seven fields and the last names a sensor other than
// waist.
bool OtherSensor(std::string_view line, int64_t waist)
{
    std::string_view text = ImportTrim(line);
    if (!text.empty() && text.back() == ';') {
        text.remove_suffix(1);
    }
    std::string_view fields[kFields];
    int64_t sensor = 0;
    std::string reason;
    return ImportSplit(text, ';', fields, kFields) == kFields &&
           ImportParseInt(fields[kFields - 1], 0, INT64_MAX, &sensor, &reason) && sensor != waist;
}

}  // namespace

bool ImportUmaFallWaist(std::string_view line, int64_t* sensor)
{
    if (line.empty() || line[0] != '%') {
        return false;
    }
    std::string_view fields[4];
    const int count = ImportSplit(line.substr(1), ';', fields, 4);
    std::string reason;
    return count >= 3 && IsWaist(fields[2]) && ImportParseInt(fields[1], 0, INT64_MAX, sensor, &reason);
}

ImportLineKind ImportParseUmaFallLine(std::string_view line, ImportUmaFallRow* row, std::string* reason)
{
    if (ImportHasZeroByte(line, reason)) {
        return ImportLineKind::Bad;
    }
    std::string_view text = ImportTrim(line);
    // A row of empty fields (";;;;;;;", a spreadsheet's blank row) holds no data.
    if (text.empty() || text[0] == '%' || text.find_first_not_of("; \t\r") == std::string_view::npos) {
        return ImportLineKind::Other;
    }
    if (text.back() == ';') {
        text.remove_suffix(1);  // as the header line of the columns ends
    }
    std::string_view fields[kFields];
    const int count = ImportSplit(text, ';', fields, kFields);
    if (count != kFields) {
        *reason = std::to_string(count) + (count == 1 ? " field" : " fields") +
                  " where 7 are expected (TimeStamp;SampleNo;X;Y;Z;SensorType;SensorID)";
        return ImportLineKind::Bad;
    }
    double values[4];
    const int numbers[4] = {0, 2, 3, 4};
    for (int i = 0; i < 4; ++i) {
        if (!ImportParseNumber(fields[numbers[i]], &values[i], reason)) {
            *reason = ImportFieldName(numbers[i] + 1) + *reason;
            return ImportLineKind::Bad;
        }
    }
    if (values[0] < 0) {
        *reason = "field 1 out of range: a negative time stamp";
        return ImportLineKind::Bad;
    }
    int64_t integers[3];
    const int positions[3] = {1, 5, 6};
    for (int i = 0; i < 3; ++i) {
        if (!ImportParseInt(fields[positions[i]], 0, INT64_MAX, &integers[i], reason)) {
            *reason = ImportFieldName(positions[i] + 1) + *reason;
            return ImportLineKind::Bad;
        }
    }
    *row = ImportUmaFallRow{values[0], {values[1], values[2], values[3]}, integers[1], integers[2]};
    return ImportLineKind::Data;
}

void ImportPlanUmaFall(const std::vector<std::string>& files, std::vector<ImportTrial>* trials)
{
    for (const std::string& file : files) {
        std::string subject, type, activity, trial, stamp;
        if (!ParseName(ImportBaseName(file), &subject, &type, &activity, &trial, &stamp)) {
            continue;
        }
        const std::string code = type + "_" + activity;
        const std::string number = ImportNumberText(subject);
        ImportTrial t{{file},
                      "",
                      type == "Fall" ? "fall" : "adl",
                      code,
                      "s" + std::string(number.size() < 2 ? "0" : "") + number,
                      ImportNumberText(trial),
                      ImportWords(activity),
                      false};
        t.stamp = stamp;
        ImportNameTrial(kActivities, std::size(kActivities), ImportWords(activity), &t);
        trials->push_back(t);
    }
}

bool ImportConvertUmaFall(const ImportSettings& settings, ImportLines* text, ImportConverted* converted,
                          ImportFault* fault)
{
    // Every sensor's streams, until the header has said which is the waist.
    std::map<int64_t, std::vector<ImportTimed>> streams[2];
    int64_t waist = kDefaultWaist;
    // Only the waist sensor's lines matter: a malformed line of another
    // sensor (a phone's numbers spoilt by a spreadsheet) is passed over.
    auto parse = [&](std::string_view line, ImportUmaFallRow* row, std::string* reason) {
        if (ImportUmaFallWaist(line, &waist)) {
            return ImportLineKind::Other;
        }
        const ImportLineKind kind = ImportParseUmaFallLine(line, row, reason);
        return kind == ImportLineKind::Bad && OtherSensor(line, waist) ? ImportLineKind::Other : kind;
    };
    auto take = [&](const ImportUmaFallRow& row) {
        if (row.type == kAccelerometer || row.type == kGyroscope) {
            streams[row.type][row.sensor].push_back(ImportTimed{row.time * kMsToSeconds, row.v});
        }
    };
    if (!ImportReadRows<ImportUmaFallRow>(text, parse, take, fault)) {
        return false;
    }
    std::vector<ImportTimed>& acc = streams[kAccelerometer][waist];
    std::vector<ImportTimed>& gyro = streams[kGyroscope][waist];
    ImportKeepIncreasing(&acc);
    ImportKeepIncreasing(&gyro);
    fault->line = 0;
    if (acc.size() < 2 || gyro.size() < 2) {
        fault->reason = "the waist sensor (ID " + std::to_string(waist) + ") has " + std::to_string(acc.size()) +
                        " accelerometer and " + std::to_string(gyro.size()) +
                        " gyroscope samples: fewer than two of each";
        return false;
    }
    if (!ImportResampleTimed(&acc, &gyro, false, &converted->samples, &converted->conversion, &fault->reason)) {
        return false;
    }
    // Standing, the waist sensor's x axis points up: a quarter turn about z.
    converted->axes = settings.axesGiven ? settings.axes : ImportAxes{{1, 0, 2}, {1, -1, 1}};
    ImportApplyAxes(converted->axes, &converted->samples);
    return true;
}
