// Fuzz target for MobiFall's lines and trials. Every line of the input is
// parsed and compared with a plain reference (timestamp_ns,x,y,z: four
// numbers, the time not negative; blank lines skipped); then the input,
// cut at its first '|' into the accelerometer's and the gyroscope's data,
// is converted as a trial (each part after an "@DATA" line).
#include <cstdint>
#include <string>

#include "import_datasets.h"
#include "import_reference.h"

namespace {

constexpr const char* kTarget = "mobifall_line_fuzzer";

ImportLineKind ReferenceParse(const std::string& line, double* values)
{
    if (line.find('\0') != std::string::npos) {
        return ImportLineKind::Bad;
    }
    const std::string text = reference::Trim(line);
    if (text.empty()) {
        return ImportLineKind::Other;
    }
    const std::vector<std::string> fields = reference::Split(text, ',');
    if (fields.size() != 4) {
        return ImportLineKind::Bad;
    }
    for (int i = 0; i < 4; ++i) {
        if (!reference::Number(fields[i], &values[i])) {
            return ImportLineKind::Bad;
        }
    }
    return values[0] < 0 ? ImportLineKind::Bad : ImportLineKind::Data;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input(size == 0 ? "" : reinterpret_cast<const char*>(data), size);
    for (const std::string& line : reference::Lines(input.data(), input.size())) {
        ImportTimedRow row{};
        double values[4] = {};
        std::string reason;
        const ImportLineKind kind = ImportParseMobiFallLine(line, &row, &reason);
        reference::Check(kind == ReferenceParse(line, values), kTarget, "kind differs from the reference");
        if (kind == ImportLineKind::Data) {
            reference::Check(reference::Same(row.time, values[0]) && reference::Same(row.v.x, values[1]) &&
                                 reference::Same(row.v.y, values[2]) && reference::Same(row.v.z, values[3]),
                             kTarget, "a value differs from the reference");
        }
    }

    const std::size_t cut = input.find('|');
    const std::string acc = "@DATA\n" + input.substr(0, cut);
    const std::string gyro = cut == std::string::npos ? acc : "@DATA\n" + input.substr(cut + 1);
    ImportSettings settings{};
    settings.dataset = ImportDataset::MobiFall;
    for (const bool seated : {false, true}) {
        ImportTrial trial{};
        trial.referenceAtEnd = seated;
        ImportLines accLines(acc.data(), acc.size());
        ImportLines gyroLines(gyro.data(), gyro.size());
        ImportConverted converted{};
        ImportFault fault{0, 0, ""};
        if (ImportConvertMobiFall(settings, trial, &accLines, &gyroLines, &converted, &fault)) {
            reference::Check(!converted.samples.empty(), kTarget, "a trial of no samples");
        } else {
            reference::Check(!fault.reason.empty() && fault.source < 2, kTarget, "a failure without its reason");
        }
    }
    return 0;
}
