// What the datasets share: names, the timed resampling, and the dispatch
// of planning and conversion to each dataset.
#include <cstdio>

#include "import_datasets.h"

namespace {

constexpr const char* kDatasetNames[] = {"sisfall", "mobifall", "umafall", "csv"};

const char* UnitText(ImportUnit unit)
{
    switch (unit) {
    case ImportUnit::G:
        return "g";
    case ImportUnit::MetresPerS2:
        return "m/s^2 (divided by 9.80665)";
    case ImportUnit::Dps:
        return "deg/s";
    case ImportUnit::RadPerS:
        return "rad/s (times 180, divided by pi)";
    case ImportUnit::Counts:
        break;
    }
    return "counts";
}

const char* const kCountsRule =
    "counts: accelerometer g * 8192, gyroscope deg/s * 65.536, rounded half away from zero, clipped to "
    "-32768..32767 (the bench's sensor saturates at about +-4 g and +-500 deg/s)";
const char* const kTimedRule =
    "resampling: repeated time stamps dropped; the output covers the time both sensors cover, block i being "
    "[start + i * 0.02, start + (i+1) * 0.02) s (0.02 s as the double nearest 1/50), centre start + (i + 0.5) * 0.02; "
    "a sensor whose median rate (1 / the median interval; of an even number of intervals, the mean of the middle "
    "two) is within 2 % of k * 50 Hz (k >= 2) gives each "
    "block the mean of its samples in it (interpolation when it has none), any other is linearly interpolated at "
    "the block centres";

}  // namespace

bool ImportDatasetOf(const std::string& name, ImportDataset* dataset)
{
    for (int i = 0; i < 4; ++i) {
        if (name == kDatasetNames[i]) {
            *dataset = static_cast<ImportDataset>(i);
            return true;
        }
    }
    return false;
}

const char* ImportDatasetName(ImportDataset dataset)
{
    return kDatasetNames[static_cast<int>(dataset)];
}

ImportDatasetInfo ImportInfoOf(const ImportSettings& settings)
{
    switch (settings.dataset) {
    case ImportDataset::SisFall:
        return ImportDatasetInfo{
            "SisFall",
            "self-developed device fixed to the waist (belt)",
            "A. Sucerquia, J. D. Lopez, J. F. Vargas-Bonilla, \"SisFall: A Fall and Movement Dataset\", Sensors "
            "17(1):198, 2017, doi:10.3390/s17010198",
            "none stated: the dataset's Readme.txt names its creators (SISTEMIC, Universidad de Antioquia) and "
            "states no terms of use; cite the paper and check the terms with the authors before publishing "
            "converted files",
            "SISTEMIC research group, Universidad de Antioquia (see the paper)",
            {"files: SAnn/ and SEnn/ folders of Dnn_SXnn_Rnn.txt (ADL) and Fnn_SXnn_Rnn.txt (falls)",
             "units: columns 1-3 ADXL345, g = count * 2*16/2^13; columns 4-6 ITG3200, deg/s = count * "
             "2*2000/2^16; columns 7-9 unused",
             "resampling: 200 Hz to 50 Hz, each output sample the mean of 4 consecutive samples (the sum of the "
             "four, divided by 4); a trailing part block is dropped",
             "axes: as they are (upright reads about (0, -1 g, 0))", kCountsRule}};
    case ImportDataset::MobiFall:
        return ImportDatasetInfo{
            "MobiFall",
            "Samsung Galaxy S3 smartphone in a trouser pocket, orientation in the pocket not fixed",
            "G. Vavoulas, M. Pediaditis, C. Chatzaki, E. G. Spanakis, M. Tsiknakis, \"The MobiFall Dataset: Fall "
            "Detection and Classification with a Smartphone\", International Journal of Monitoring and Surveillance "
            "Technologies Research 2(1):44-56, 2014",
            "none stated: the dataset ships without terms of use; cite the paper and check the terms with the "
            "authors before publishing converted files",
            "Biomedical Informatics and eHealth Laboratory, Technological Educational Institute of Crete (see the "
            "paper)",
            {"files: subN/ADL|FALLS/ACT/ACT_acc_N_T.txt with its ACT_gyro_N_T.txt (the _ori_ files are unused)",
             "units: the lines after @DATA, timestamp_ns,x,y,z; acceleration m/s^2 / 9.80665, rate rad/s * "
             "180/pi; time in seconds = ns * 1e-9",
             kTimedRule,
             "axes: per trial, the identity when the mean y acceleration over the reference second (the first 50 "
             "output samples; for CSO the last 50) is negative, else -x,-y,z (the phone upside down), for both "
             "sensors",
             kCountsRule}};
    case ImportDataset::UmaFall:
        return ImportDatasetInfo{
            "UMAFall",
            "SensorTag on the waist, elastic band (the sensor whose header line names the WAIST position)",
            "E. Casilari, J. A. Santoyo-Ramon, J. M. Cano-Garcia, \"UMAFall: A Multisensor Dataset for the Research "
            "on Automatic Fall Detection\", Procedia Computer Science 110:32-39, 2017, doi:10.1016/j.procs.2017.06.110",
            "none stated: the authors' description says the traces can be freely downloaded and gives no "
            "redistribution terms; cite the paper and check the terms with the authors before publishing converted "
            "files",
            "Universidad de Malaga, Departamento de Tecnologia Electronica (see the paper)",
            {"files: UMAFall_Subject_NN_{ADL|Fall}_ACTIVITY_TRIAL_DATE_TIME.csv",
             "units: the waist sensor (the ID whose % header line names WAIST, 2 when none does); lines "
             "TimeStamp(ms);SampleNo;X;Y;Z;SensorType;SensorID, type 0 accelerometer in g, 1 gyroscope in deg/s; "
             "time in seconds = ms * 1e-3",
             kTimedRule, "axes: y,-x,z (standing, the waist sensor's x axis points up)",
             "skipped: a file whose waist sensor has fewer than two accelerometer or gyroscope samples", kCountsRule}};
    case ImportDataset::Csv:
        break;
    }
    const ImportCsvSettings& csv = settings.csv;
    char rate[200];
    if (csv.rateHz > 0) {
        std::snprintf(rate, sizeof rate,
                      "resampling: uniform at %g Hz; blocks of k samples for a whole ratio k to 50 Hz, else linear "
                      "interpolation at the block centres on the time axis j / %g s",
                      csv.rateHz, csv.rateHz);
    } else {
        std::snprintf(rate, sizeof rate, "time: column t times %g is seconds", csv.secondsPerTimeUnit);
    }
    std::string units = std::string("units: accelerometer in ") + UnitText(csv.accelUnit);
    if (csv.accelUnit == ImportUnit::Counts) {
        units += " (divided by " + std::to_string(csv.accelCountsPerG) + ")";
    }
    units += std::string(", gyroscope in ") + UnitText(csv.gyroUnit);
    if (csv.gyroUnit == ImportUnit::Counts) {
        units += " (divided by " + std::to_string(csv.gyroCountsPerDps) + ")";
    }
    ImportDatasetInfo info{"CSV", "", "", "", "", {units, rate}};
    if (csv.rateHz <= 0) {
        info.rules.push_back(kTimedRule);
    }
    info.rules.push_back("axes: " + ImportAxesText(settings.axesGiven ? settings.axes : ImportAxesIdentity()));
    info.rules.push_back(kCountsRule);
    return info;
}

void ImportPlan(const ImportSettings& settings, const std::vector<std::string>& files, std::vector<ImportTrial>* trials,
                std::vector<ImportSkip>* skipped)
{
    // At most a trial per file: reserved once, the list never grows by
    // copying (with 100,000 files, that copy would be the import's peak).
    trials->reserve(trials->size() +
                    (settings.dataset == ImportDataset::MobiFall ? files.size() / 2 + 1 : files.size()));
    switch (settings.dataset) {
    case ImportDataset::SisFall:
        ImportPlanSisFall(files, trials);
        return;
    case ImportDataset::MobiFall:
        ImportPlanMobiFall(files, trials, skipped);
        return;
    case ImportDataset::UmaFall:
        ImportPlanUmaFall(files, trials);
        return;
    case ImportDataset::Csv:
        ImportPlanCsv(settings, files, trials, skipped);
        return;
    }
}

bool ImportConvert(const ImportSettings& settings, const ImportTrial& trial, const std::vector<ImportLines*>& texts,
                   ImportConverted* converted, ImportFault* fault)
{
    switch (settings.dataset) {
    case ImportDataset::SisFall:
        return ImportConvertSisFall(settings, texts[0], converted, fault);
    case ImportDataset::MobiFall:
        return ImportConvertMobiFall(settings, trial, texts[0], texts[1], converted, fault);
    case ImportDataset::UmaFall:
        return ImportConvertUmaFall(settings, texts[0], converted, fault);
    case ImportDataset::Csv:
        break;
    }
    return ImportConvertCsv(settings, texts[0], converted, fault);
}

bool ImportTextFailed(const ImportLines& text, ImportFault* fault)
{
    if (text.failure().empty()) {
        return false;
    }
    fault->line = text.failureLine();
    fault->reason = text.failure();
    return true;
}

void ImportApplyAxes(const ImportAxes& axes, std::vector<ImportSample>* samples)
{
    for (ImportSample& s : *samples) {
        s = ImportSample{ImportAxesApply(axes, s.acc), ImportAxesApply(axes, s.gyro)};
    }
}

bool ImportResampleTimed(std::vector<ImportTimed>* acc, std::vector<ImportTimed>* gyro, bool interpolate,
                         std::vector<ImportSample>* samples, std::string* conversion, std::string* reason)
{
    ImportKeepIncreasing(acc);
    ImportKeepIncreasing(gyro);
    if (acc->size() < 2 || gyro->size() < 2) {
        *reason = std::string("the ") + (acc->size() < 2 ? "accelerometer" : "gyroscope") +
                  " has fewer than two samples at increasing times";
        return false;
    }
    ImportStreamPlan accPlan = ImportPlanStream(*acc);
    ImportStreamPlan gyroPlan = ImportPlanStream(*gyro);
    if (interpolate) {
        accPlan.ratio = 0;
        gyroPlan.ratio = 0;
    }
    ImportGrid grid{};
    if (!ImportGridOf(*acc, *gyro, &grid, reason)) {
        return false;
    }
    std::vector<ImportVec3> a;
    std::vector<ImportVec3> g;
    ImportResample(*acc, accPlan, grid, &a);
    ImportResample(*gyro, gyroPlan, grid, &g);
    samples->clear();
    samples->reserve(a.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        samples->push_back(ImportSample{a[i], g[i]});
    }
    *conversion = "accel " + ImportStreamPlanText(accPlan) + ", gyro " + ImportStreamPlanText(gyroPlan);
    return true;
}

void ImportNameTrial(const ImportActivity* table, std::size_t count, const std::string& fallbackWords,
                     ImportTrial* trial)
{
    std::string words = fallbackWords;
    for (std::size_t i = 0; i < count; ++i) {
        if (trial->activity == table[i].code) {
            words = table[i].words;
            trial->description = table[i].description;
            trial->label = table[i].label != nullptr ? table[i].label : trial->label;
        }
    }
    trial->name = ImportTrialName(trial->label, words, trial->subject, trial->trial);
}

std::string ImportSlug(const std::string& s)
{
    std::string slug;
    bool gap = false;
    for (const char c : s) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        const bool capital = c >= 'A' && c <= 'Z';
        if (letter || capital) {
            if (gap && !slug.empty()) {
                slug += '_';
            }
            slug += capital ? static_cast<char>(c - 'A' + 'a') : c;
            gap = false;
        } else {
            gap = true;
        }
    }
    return slug;
}

std::string ImportWords(const std::string& code)
{
    std::string words;
    for (std::size_t i = 0; i < code.size(); ++i) {
        const char c = code[i];
        if (c == '_' || c == ' ' || c == '-') {
            if (!words.empty() && words.back() != ' ') {
                words += ' ';
            }
            continue;
        }
        if (c >= 'A' && c <= 'Z') {
            if (!words.empty() && words.back() != ' ') {
                words += ' ';
            }
            words += static_cast<char>(c - 'A' + 'a');
        } else {
            words += c;
        }
    }
    while (!words.empty() && words.back() == ' ') {
        words.pop_back();
    }
    return words;
}

std::string ImportTrialName(const std::string& label, const std::string& activityWords, const std::string& subject,
                            const std::string& trial)
{
    std::string name = label.empty() ? "unlabelled" : label;
    const std::string words = ImportSlug(activityWords);
    name += "_" + (words.empty() ? std::string("recording") : words);
    if (!subject.empty()) {
        name += "_" + ImportSlug(subject);
    }
    if (!trial.empty()) {
        name += "_r" + ImportSlug(trial);
    }
    return name;
}

std::string ImportNumberText(const std::string& digits)
{
    const std::size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) {
        return digits.empty() ? digits : "0";
    }
    return digits.substr(first);
}

std::string ImportBaseName(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ImportFolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}
