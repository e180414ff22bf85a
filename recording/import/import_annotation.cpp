// SisFall's per-sample annotation: one label per raw 200 Hz sample (0
// background, 1 alert, 2 fall), read beside the raw file and turned into
// the first and last 50 Hz sample of each phase.
#include "import_datasets.h"

namespace {

constexpr int kLabelFall = 2;
constexpr int kLabelAlert = 1;
constexpr int64_t kRawPerSample = 4;  // 200 Hz to 50 Hz

void Widen(int64_t sample, int64_t* first, int64_t* last)
{
    if (*first < 0) {
        *first = sample;
    }
    *last = sample;
}

}  // namespace

ImportLineKind ImportParseAnnotationLine(std::string_view line, int* label, std::string* reason)
{
    if (ImportHasZeroByte(line, reason)) {
        return ImportLineKind::Bad;
    }
    const std::string_view text = ImportTrim(line);
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '2') {
        *label = text[0] - '0';
        return ImportLineKind::Data;
    }
    if (text.empty()) {
        *reason = "an empty line where a label (0, 1 or 2) is expected";
    } else {
        const std::size_t shown = std::min<std::size_t>(text.size(), 20);
        *reason =
            "label '" + std::string(text.substr(0, shown)) + (shown < text.size() ? "...'" : "'") + " is not 0, 1 or 2";
    }
    return ImportLineKind::Bad;
}

bool ImportReadAnnotation(ImportLines* text, int64_t rawSamples, int64_t outSamples, ImportPhases* phases,
                          ImportFault* fault)
{
    ImportPhases found{};
    int64_t labels = 0;
    int highest = 0;
    std::string_view line;
    while (text->Next(&line)) {
        int label = 0;
        if (ImportParseAnnotationLine(line, &label, &fault->reason) != ImportLineKind::Data) {
            fault->line = text->number();
            return false;
        }
        highest = labels % kRawPerSample == 0 ? label : std::max(highest, label);
        ++labels;
        if (labels % kRawPerSample == 0) {
            const int64_t sample = labels / kRawPerSample - 1;
            if (highest == kLabelFall) {
                Widen(sample, &found.fallStart, &found.fallEnd);
            } else if (highest == kLabelAlert) {
                Widen(sample, &found.alertStart, &found.alertEnd);
            }
        }
    }
    if (ImportTextFailed(*text, fault)) {
        return false;
    }
    fault->line = 0;
    if (rawSamples >= 0 && labels != rawSamples) {
        fault->reason =
            std::to_string(labels) + " labels where the raw file has " + std::to_string(rawSamples) + " samples";
        return false;
    }
    if (rawSamples < 0 && labels / kRawPerSample != outSamples) {
        fault->reason = std::to_string(labels) + " labels (" + std::to_string(labels / kRawPerSample) +
                        " samples at 50 Hz) where the recording has " + std::to_string(outSamples) + " samples";
        return false;
    }
    *phases = found;
    return true;
}

std::string ImportAnnotationPath(const ImportTrial& trial)
{
    std::string folder;
    for (const char c : trial.subject) {
        folder += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return folder + "/" + ImportBaseName(trial.sources[0]);
}
