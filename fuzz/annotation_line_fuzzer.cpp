// Fuzz target for SisFall's per-sample annotation. Every line of the input
// is parsed and compared with a plain reference (one label 0, 1 or 2, with
// spaces, tabs and a carriage return around it; anything else refused);
// then the whole input is read as an annotation, and the phases it gives
// are checked against the labels read by the reference.
#include <algorithm>
#include <cstdint>

#include "import_datasets.h"
#include "import_reference.h"

namespace {

constexpr const char* kTarget = "annotation_line_fuzzer";

ImportLineKind ReferenceParse(const std::string& line, int* label)
{
    if (line.find('\0') != std::string::npos) {
        return ImportLineKind::Bad;
    }
    const std::string text = reference::Trim(line);
    if (text.size() != 1 || text[0] < '0' || text[0] > '2') {
        return ImportLineKind::Bad;
    }
    *label = text[0] - '0';
    return ImportLineKind::Data;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = size == 0 ? "" : reinterpret_cast<const char*>(data);
    std::vector<int> labels;
    bool allGood = true;
    const std::vector<std::string> lines = reference::Lines(text, size);
    for (const std::string& line : lines) {
        int label = -1;
        int expected = -1;
        std::string reason;
        const ImportLineKind kind = ImportParseAnnotationLine(line, &label, &reason);
        reference::Check(kind == ReferenceParse(line, &expected), kTarget, "kind differs from the reference");
        reference::Check(kind != ImportLineKind::Other, kTarget, "a line neither a label nor refused");
        reference::Check(kind == ImportLineKind::Data || !reason.empty(), kTarget, "a bad line without a reason");
        reference::Check(kind != ImportLineKind::Data || label == expected, kTarget, "a label differs");
        allGood = allGood && kind == ImportLineKind::Data;
        labels.push_back(label);
    }

    // The phases: the first and last 50 Hz sample whose four labels' highest
    // is 2 (the fall) or 1 (the alert).
    ImportPhases want{};
    for (std::size_t i = 0; allGood && i + 4 <= labels.size(); i += 4) {
        const int highest = *std::max_element(labels.begin() + static_cast<std::ptrdiff_t>(i),
                                              labels.begin() + static_cast<std::ptrdiff_t>(i + 4));
        const int64_t sample = static_cast<int64_t>(i / 4);
        int64_t* first = highest == 2 ? &want.fallStart : (highest == 1 ? &want.alertStart : nullptr);
        int64_t* last = highest == 2 ? &want.fallEnd : (highest == 1 ? &want.alertEnd : nullptr);
        if (first != nullptr) {
            *first = *first < 0 ? sample : *first;
            *last = sample;
        }
    }
    ImportLines reader(text, size);
    ImportPhases got{};
    ImportFault fault{0, 0, ""};
    const bool read = ImportReadAnnotation(&reader, static_cast<int64_t>(labels.size()), -1, &got, &fault);
    // (A line longer than the reader takes fails it too.)
    reference::Check(!read || allGood, kTarget, "an annotation with a bad line was read");
    reference::Check(read || !fault.reason.empty(), kTarget, "a failure without a reason");
    if (read) {
        reference::Check(got.fallStart == want.fallStart && got.fallEnd == want.fallEnd &&
                             got.alertStart == want.alertStart && got.alertEnd == want.alertEnd,
                         kTarget, "the phases differ from the reference");
    }
    return 0;
}
