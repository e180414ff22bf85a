// SisFall: one file per trial, SAnn/ and SEnn/ folders of
// Dnn_SXnn_Rnn.txt (activities of daily living) and Fnn_SXnn_Rnn.txt
// (falls); lines of nine integer counts at 200 Hz.
#include <cstring>
#include <iterator>

#include "import_datasets.h"

namespace {

// The activities of the dataset's Readme.txt; the label is the code's letter.
constexpr ImportActivity kActivities[] = {
    {"D01", nullptr, "walk_slow", "walking slowly"},
    {"D02", nullptr, "walk_fast", "walking quickly"},
    {"D03", nullptr, "jog_slow", "jogging slowly"},
    {"D04", nullptr, "jog_fast", "jogging quickly"},
    {"D05", nullptr, "stairs_slow", "walking upstairs and downstairs slowly"},
    {"D06", nullptr, "stairs_fast", "walking upstairs and downstairs quickly"},
    {"D07", nullptr, "sit_half_chair_slow", "slowly sit in a half height chair, wait a moment, and up slowly"},
    {"D08", nullptr, "sit_half_chair_fast", "quickly sit in a half height chair, wait a moment, and up quickly"},
    {"D09", nullptr, "sit_low_chair_slow", "slowly sit in a low height chair, wait a moment, and up slowly"},
    {"D10", nullptr, "sit_low_chair_fast", "quickly sit in a low height chair, wait a moment, and up quickly"},
    {"D11", nullptr, "collapse_into_chair", "sitting a moment, trying to get up, and collapse into a chair"},
    {"D12", nullptr, "lie_down_slow", "sitting a moment, lying slowly, wait a moment, and sit again"},
    {"D13", nullptr, "lie_down_fast", "sitting a moment, lying quickly, wait a moment, and sit again"},
    {"D14", nullptr, "turn_back_to_side",
     "being on one's back change to lateral position, wait a moment, and change to one's back"},
    {"D15", nullptr, "bend_knees", "standing, slowly bending at knees, and getting up"},
    {"D16", nullptr, "bend_waist", "standing, slowly bending without bending knees, and getting up"},
    {"D17", nullptr, "car_in_out", "standing, get into a car, remain seated and get out of the car"},
    {"D18", nullptr, "stumble", "stumble while walking"},
    {"D19", nullptr, "jump_gentle", "gently jump without falling (trying to reach a high object)"},
    {"F01", nullptr, "forward_slip", "fall forward while walking caused by a slip"},
    {"F02", nullptr, "backward_slip", "fall backward while walking caused by a slip"},
    {"F03", nullptr, "lateral_slip", "lateral fall while walking caused by a slip"},
    {"F04", nullptr, "forward_trip", "fall forward while walking caused by a trip"},
    {"F05", nullptr, "forward_trip_jogging", "fall forward while jogging caused by a trip"},
    {"F06", nullptr, "vertical_faint", "vertical fall while walking caused by fainting"},
    {"F07", nullptr, "faint_hands_on_table",
     "fall while walking, with use of hands in a table to dampen fall, caused by fainting"},
    {"F08", nullptr, "forward_getting_up", "fall forward when trying to get up"},
    {"F09", nullptr, "lateral_getting_up", "lateral fall when trying to get up"},
    {"F10", nullptr, "forward_sitting_down", "fall forward when trying to sit down"},
    {"F11", nullptr, "backward_sitting_down", "fall backward when trying to sit down"},
    {"F12", nullptr, "lateral_sitting_down", "lateral fall when trying to sit down"},
    {"F13", nullptr, "forward_seated_faint", "fall forward while sitting, caused by fainting or falling asleep"},
    {"F14", nullptr, "backward_seated_faint", "fall backward while sitting, caused by fainting or falling asleep"},
    {"F15", nullptr, "lateral_seated_faint", "lateral fall while sitting, caused by fainting or falling asleep"},
};

constexpr int kColumns = 9;
constexpr int kBlock = 4;  // 200 Hz to 50 Hz

bool IsDigits(const std::string& s, std::size_t from, std::size_t to)
{
    if (from >= to || to > s.size()) {
        return false;
    }
    for (std::size_t i = from; i < to; ++i) {
        if (s[i] < '0' || s[i] > '9') {
            return false;
        }
    }
    return true;
}

// "F01_SA01_R01.txt": a code (D or F and digits), a subject (SA or SE and
// digits) and a trial (R and digits).
bool ParseName(const std::string& name, std::string* code, std::string* subject, std::string* trial)
{
    const std::size_t a = name.find('_');
    const std::size_t b = a == std::string::npos ? a : name.find('_', a + 1);
    const std::size_t dot = name.size() >= 4 ? name.size() - 4 : std::string::npos;
    if (b == std::string::npos || dot == std::string::npos || name.compare(dot, 4, ".txt") != 0 || b > dot) {
        return false;
    }
    const bool codeOk = (name[0] == 'D' || name[0] == 'F') && IsDigits(name, 1, a);
    const bool subjectOk = name.compare(a + 1, 2, "SA") == 0 || name.compare(a + 1, 2, "SE") == 0;
    if (!codeOk || !subjectOk || !IsDigits(name, a + 3, b) || name[b + 1] != 'R' || !IsDigits(name, b + 2, dot)) {
        return false;
    }
    *code = name.substr(0, a);
    *subject = name.substr(a + 1, b - a - 1);
    *trial = name.substr(b + 2, dot - b - 2);
    return true;
}

}  // namespace

ImportLineKind ImportParseSisFallLine(std::string_view line, ImportSisFallRow* row, std::string* reason)
{
    if (ImportHasZeroByte(line, reason)) {
        return ImportLineKind::Bad;
    }
    std::string_view text = ImportTrim(line);
    if (text.empty()) {
        return ImportLineKind::Other;
    }
    if (text.back() == ';') {
        text.remove_suffix(1);
    }
    std::string_view fields[kColumns];
    const int count = ImportSplit(text, ',', fields, kColumns);
    if (count != kColumns) {
        *reason = std::to_string(count) + (count == 1 ? " field" : " fields") + " where 9 are expected";
        return ImportLineKind::Bad;
    }
    for (int i = 0; i < kColumns; ++i) {
        int64_t v = 0;
        if (!ImportParseInt(fields[i], INT16_MIN, INT16_MAX, &v, reason)) {
            *reason = ImportFieldName(i + 1) + *reason;
            return ImportLineKind::Bad;
        }
        row->counts[i] = static_cast<int32_t>(v);
    }
    return ImportLineKind::Data;
}

void ImportPlanSisFall(const std::vector<std::string>& files, std::vector<ImportTrial>* trials)
{
    for (const std::string& file : files) {
        std::string code;
        std::string subject;
        std::string trial;
        if (!ParseName(ImportBaseName(file), &code, &subject, &trial)) {
            continue;
        }
        ImportTrial t{{file}, "",   code[0] == 'F' ? "fall" : "adl", code, ImportSlug(subject), ImportNumberText(trial),
                      "",     false};
        ImportNameTrial(kActivities, std::size(kActivities), ImportSlug(code), &t);
        trials->push_back(t);
    }
}

bool ImportConvertSisFall(const ImportSettings& settings, ImportLines* text, ImportConverted* converted,
                          ImportFault* fault)
{
    // Each output sample is the mean of a block of four: the sum of the
    // four converted samples, in order, divided by four. Blocks are summed
    // as the lines come, so only the 50 Hz samples are kept.
    std::vector<ImportSample>& out = converted->samples;
    out.clear();
    ImportSample sum{};
    int inBlock = 0;
    int64_t rows = 0;
    auto take = [&](const ImportSisFallRow& row) {
        ++rows;
        // ADXL345: (2*16/2^13) g per count; ITG3200: (2*2000/2^16) deg/s per count.
        const int32_t* c = row.counts;
        const ImportSample s{
            {c[0] * 2.0 * 16.0 / 8192.0, c[1] * 2.0 * 16.0 / 8192.0, c[2] * 2.0 * 16.0 / 8192.0},
            {c[3] * 2.0 * 2000.0 / 65536.0, c[4] * 2.0 * 2000.0 / 65536.0, c[5] * 2.0 * 2000.0 / 65536.0}};
        if (inBlock == 0) {
            sum = s;
        } else {
            sum = ImportSample{{sum.acc.x + s.acc.x, sum.acc.y + s.acc.y, sum.acc.z + s.acc.z},
                               {sum.gyro.x + s.gyro.x, sum.gyro.y + s.gyro.y, sum.gyro.z + s.gyro.z}};
        }
        if (++inBlock == kBlock) {
            out.push_back(ImportSample{{sum.acc.x / kBlock, sum.acc.y / kBlock, sum.acc.z / kBlock},
                                       {sum.gyro.x / kBlock, sum.gyro.y / kBlock, sum.gyro.z / kBlock}});
            inBlock = 0;
        }
    };
    // A lone label where the first data line should be: a trial's
    // annotation, met among the raw files.
    bool annotation = false;
    auto parse = [&](std::string_view line, ImportSisFallRow* row, std::string* reason) {
        const ImportLineKind kind = ImportParseSisFallLine(line, row, reason);
        int label = 0;
        std::string ignored;
        annotation = kind == ImportLineKind::Bad && rows == 0 &&
                     ImportParseAnnotationLine(line, &label, &ignored) == ImportLineKind::Data;
        return kind;
    };
    if (!ImportReadRows<ImportSisFallRow>(text, parse, take, fault)) {
        if (annotation) {
            *fault = ImportFault{0, 0, kImportAnnotationNote, true};
        }
        return false;
    }
    converted->rawSamples = rows;
    if (out.empty()) {
        fault->line = 0;
        fault->reason = inBlock == 0 ? "no data lines" : "fewer than 4 data lines: not one output sample";
        return false;
    }
    converted->axes = settings.axesGiven ? settings.axes : ImportAxesIdentity();
    ImportApplyAxes(converted->axes, &converted->samples);
    converted->conversion = "accel block mean of 4, gyro block mean of 4";
    return true;
}
