// csv: a user's files of delimited sensor columns, laid out as the
// settings say (columns, units, a uniform rate or a time column), labelled
// by patterns on their relative paths.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "file_pattern.h"
#include "import_datasets.h"
#include "import_regex.h"

namespace {

constexpr double kGravity = 9.80665;  // m/s^2 per g
constexpr const char* kColumnNames[kImportColumnCount] = {"ax", "ay", "az", "gx", "gy", "gz", "t"};

// A positive number that fills the whole text.
bool PositiveNumber(const std::string& text, double* value)
{
    std::string reason;
    return ImportParseNumber(text, value, &reason) && *value > 0 && ImportTrim(text) == text && !text.empty();
}

bool MatchesAny(const std::vector<std::string>& globs, const std::string& path)
{
    for (const std::string& g : globs) {
        if (FilePatternMatch(g.c_str(), path.c_str())) {
            return true;
        }
    }
    return false;
}

// The subject as a name token: lower case letters and digits; a number
// alone gets an "s" before it (6 -> s06), as the name rules want letters
// before digits.
std::string SubjectToken(const std::string& subject)
{
    std::string token = ImportSlug(subject);
    token.erase(std::remove(token.begin(), token.end(), '_'), token.end());
    if (!token.empty() && token.find_first_not_of("0123456789") == std::string::npos) {
        const std::string number = ImportNumberText(token);
        token = "s" + std::string(number.size() < 2 ? "0" : "") + number;
    }
    return token;
}

// The value of a column in g or deg/s.
double Accel(const ImportCsvSettings& csv, double v)
{
    switch (csv.accelUnit) {
    case ImportUnit::MetresPerS2:
        return v / kGravity;
    case ImportUnit::Counts:
        return v / csv.accelCountsPerG;
    default:
        return v;
    }
}

double Gyro(const ImportCsvSettings& csv, double v)
{
    switch (csv.gyroUnit) {
    case ImportUnit::RadPerS:
        return v * 180.0 / M_PI;
    case ImportUnit::Counts:
        return v / csv.gyroCountsPerDps;
    default:
        return v;
    }
}

}  // namespace

ImportCsvSettings ImportCsvDefaults()
{
    ImportCsvSettings csv{};
    csv.delimiter = ',';
    csv.skipLines = 0;
    for (int& c : csv.columns) {
        c = -1;
    }
    csv.accelUnit = ImportUnit::G;
    csv.accelCountsPerG = 0;
    csv.gyroUnit = ImportUnit::Dps;
    csv.gyroCountsPerDps = 0;
    csv.rateHz = 0;
    csv.secondsPerTimeUnit = 0;
    csv.filesGlob = "*.csv";
    return csv;
}

bool ImportParseColumns(const std::string& text, ImportCsvSettings* csv, std::string* error)
{
    int columns[kImportColumnCount];
    for (int& c : columns) {
        c = -1;
    }
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t end = std::min(text.find(',', at), text.size());
        const std::string item = text.substr(at, end - at);
        const std::size_t eq = item.find('=');
        int which = -1;
        for (int i = 0; i < kImportColumnCount && eq != std::string::npos; ++i) {
            which = item.compare(0, eq, kColumnNames[i]) == 0 ? i : which;
        }
        int64_t number = 0;
        std::string reason;
        if (which < 0 || !ImportParseInt(item.substr(eq + 1), 1, 10000, &number, &reason)) {
            *error = "--columns '" + text + "': '" + item +
                     "' is not NAME=NUMBER with a name of ax, ay, az, gx, gy, gz, t and a field number from 1";
            return false;
        }
        if (columns[which] >= 0) {
            *error = "--columns '" + text + "': " + kColumnNames[which] + " is given twice";
            return false;
        }
        columns[which] = static_cast<int>(number - 1);
        at = end + 1;
    }
    for (int i = 0; i < kImportT; ++i) {
        if (columns[i] < 0) {
            *error = "--columns '" + text + "': the column of " + kColumnNames[i] +
                     " is missing (ax, ay, az, gx, gy, gz are needed, t is optional)";
            return false;
        }
    }
    std::copy(columns, columns + kImportColumnCount, csv->columns);
    return true;
}

namespace {

// "counts:K" with a positive K, or one of two named units.
bool ParseUnit(const std::string& option, const std::string& text, const char* first, ImportUnit firstUnit,
               const char* second, ImportUnit secondUnit, ImportUnit* unit, double* counts, std::string* error)
{
    if (text == first || text == second) {
        *unit = text == first ? firstUnit : secondUnit;
        return true;
    }
    if (text.compare(0, 7, "counts:") == 0 && PositiveNumber(text.substr(7), counts)) {
        *unit = ImportUnit::Counts;
        return true;
    }
    *error = option + " '" + text + "': one of " + first + ", " + second + ", counts:K (K counts per unit)";
    return false;
}

}  // namespace

bool ImportParseAccelUnit(const std::string& text, ImportCsvSettings* csv, std::string* error)
{
    return ParseUnit("--accel-unit", text, "g", ImportUnit::G, "m/s2", ImportUnit::MetresPerS2, &csv->accelUnit,
                     &csv->accelCountsPerG, error);
}

bool ImportParseGyroUnit(const std::string& text, ImportCsvSettings* csv, std::string* error)
{
    return ParseUnit("--gyro-unit", text, "dps", ImportUnit::Dps, "rad/s", ImportUnit::RadPerS, &csv->gyroUnit,
                     &csv->gyroCountsPerDps, error);
}

bool ImportParseTimeUnit(const std::string& text, ImportCsvSettings* csv, std::string* error)
{
    const char* names[] = {"s", "ms", "us", "ns"};
    const double factors[] = {1.0, 1e-3, 1e-6, 1e-9};
    for (int i = 0; i < 4; ++i) {
        if (text == names[i]) {
            csv->secondsPerTimeUnit = factors[i];
            return true;
        }
    }
    *error = "--time-unit '" + text + "': one of s, ms, us, ns";
    return false;
}

ImportLineKind ImportParseCsvLine(std::string_view line, const ImportCsvSettings& csv, ImportCsvRow* row,
                                  std::string* reason)
{
    if (ImportHasZeroByte(line, reason)) {
        return ImportLineKind::Bad;
    }
    if (ImportTrim(line).empty()) {
        return ImportLineKind::Other;
    }
    int needed = 0;
    for (const int c : csv.columns) {
        needed = std::max(needed, c + 1);
    }
    std::string_view fields[kImportColumnCount];
    // The fields up to the last one needed, gathered in one pass.
    std::size_t at = 0;
    int index = 0;
    int found = 0;
    while (index < needed) {
        const std::size_t end = line.find(csv.delimiter, at);
        const std::string_view field =
            line.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        for (int k = 0; k < kImportColumnCount; ++k) {
            if (csv.columns[k] == index) {
                fields[k] = field;
                ++found;
            }
        }
        ++index;
        if (end == std::string_view::npos) {
            break;
        }
        at = end + 1;
    }
    if (index < needed) {
        *reason = std::to_string(index) + (index == 1 ? " field" : " fields") + " where at least " +
                  std::to_string(needed) + " are expected";
        return ImportLineKind::Bad;
    }
    for (int k = 0; k < kImportColumnCount; ++k) {
        row->values[k] = 0.0;
        if (csv.columns[k] >= 0 && !ImportParseNumber(fields[k], &row->values[k], reason)) {
            *reason = ImportFieldName(csv.columns[k] + 1) + "(" + kColumnNames[k] + ") " + *reason;
            return ImportLineKind::Bad;
        }
    }
    return ImportLineKind::Data;
}

void ImportPlanCsv(const ImportSettings& settings, const std::vector<std::string>& files,
                   std::vector<ImportTrial>* trials, std::vector<ImportSkip>* skipped)
{
    const ImportCsvSettings& csv = settings.csv;
    ImportRegex subject;
    ImportRegex trial;
    ImportRegex activity;
    std::string error;
    if (!subject.Compile("--subject", csv.subjectRegex, &error) || !trial.Compile("--trial", csv.trialRegex, &error) ||
        !activity.Compile("--activity", csv.activityRegex, &error)) {
        skipped->push_back(ImportSkip{".", 0, error});  // checked before the run: not reached
        return;
    }
    for (const std::string& file : files) {
        if (!FilePatternMatch(csv.filesGlob.c_str(), ImportBaseName(file).c_str())) {
            continue;
        }
        const bool fall = MatchesAny(csv.fallGlobs, file);
        const bool adl = MatchesAny(csv.adlGlobs, file);
        if (fall && adl) {
            skipped->push_back(ImportSkip{file, 0, "matches both --fall and --adl"});
            continue;
        }
        ImportTrial t{{file}, "", fall ? "fall" : (adl ? "adl" : ""), "", "", "", "", false};
        std::string base = ImportBaseName(file);
        const std::size_t dot = base.rfind('.');
        if (dot != std::string::npos) {
            base.resize(dot);
        }
        t.activity = csv.activityRegex.empty() ? base : activity.FirstGroup(file);
        t.subject = SubjectToken(subject.FirstGroup(file));
        const std::string trialText = trial.FirstGroup(file);
        t.trial = trialText.find_first_not_of("0123456789") == std::string::npos && !trialText.empty()
                      ? ImportNumberText(trialText)
                      : trialText;
        t.name = ImportTrialName(t.label, t.activity, t.subject, t.trial);
        trials->push_back(t);
    }
}

bool ImportConvertCsv(const ImportSettings& settings, ImportLines* text, ImportConverted* converted, ImportFault* fault)
{
    const ImportCsvSettings& csv = settings.csv;
    std::vector<ImportTimed> acc;
    std::vector<ImportTimed> gyro;
    auto parse = [&](std::string_view line, ImportCsvRow* row, std::string* reason) {
        return text->number() <= csv.skipLines ? ImportLineKind::Other : ImportParseCsvLine(line, csv, row, reason);
    };
    auto take = [&](const ImportCsvRow& row) {
        const double* v = row.values;
        // Uniform samples get their times from their numbers: j / rate.
        const double t =
            csv.rateHz > 0 ? static_cast<double>(acc.size()) / csv.rateHz : v[kImportT] * csv.secondsPerTimeUnit;
        acc.push_back(ImportTimed{t, {Accel(csv, v[kImportAx]), Accel(csv, v[kImportAy]), Accel(csv, v[kImportAz])}});
        gyro.push_back(ImportTimed{t, {Gyro(csv, v[kImportGx]), Gyro(csv, v[kImportGy]), Gyro(csv, v[kImportGz])}});
    };
    if (!ImportReadRows<ImportCsvRow>(text, parse, take, fault)) {
        return false;
    }
    fault->line = 0;
    if (acc.size() < 2) {
        fault->reason = acc.empty() ? "no data lines" : "one data line: fewer than two samples";
        return false;
    }
    const double ratio = csv.rateHz / kImportRateHz;
    if (csv.rateHz > 0 && ratio >= 1 && ratio == std::floor(ratio)) {
        // A whole number of input samples per output sample: block means.
        std::vector<ImportSample> in;
        in.reserve(acc.size());
        for (std::size_t i = 0; i < acc.size(); ++i) {
            in.push_back(ImportSample{acc[i].v, gyro[i].v});
        }
        const int k = static_cast<int>(ratio);
        if (in.size() < static_cast<std::size_t>(k)) {
            fault->reason = "fewer data lines than one output sample takes (" + std::to_string(k) + ")";
            return false;
        }
        converted->samples = ImportBlockMeans(in, k);
        converted->conversion =
            k == 1 ? "none (already 50 Hz)"
                   : "accel block mean of " + std::to_string(k) + ", gyro block mean of " + std::to_string(k);
    } else if (!ImportResampleTimed(&acc, &gyro, csv.rateHz > 0, &converted->samples, &converted->conversion,
                                    &fault->reason)) {
        // Uniform at another rate: interpolation on the implied time axis;
        // timed: as the time stamps say.
        return false;
    }
    converted->axes = settings.axesGiven ? settings.axes : ImportAxesIdentity();
    ImportApplyAxes(converted->axes, &converted->samples);
    return true;
}
