// Fuzz target for SisFall's lines and files. Every line of the input is
// parsed and compared with a plain reference (nine comma-separated
// integers within 16 bits, an optional ';' at the end, blank lines
// skipped); then the whole input is converted as a SisFall file.
#include <cmath>
#include <cstdint>

#include "import_datasets.h"
#include "import_reference.h"

namespace {

constexpr const char* kTarget = "sisfall_line_fuzzer";

ImportLineKind ReferenceParse(const std::string& line, int32_t* counts)
{
    if (line.find('\0') != std::string::npos) {
        return ImportLineKind::Bad;
    }
    std::string text = reference::Trim(line);
    if (text.empty()) {
        return ImportLineKind::Other;
    }
    if (text.back() == ';') {
        text.pop_back();
    }
    const std::vector<std::string> fields = reference::Split(text, ',');
    if (fields.size() != 9) {
        return ImportLineKind::Bad;
    }
    for (int i = 0; i < 9; ++i) {
        int64_t v = 0;
        if (!reference::Integer(fields[i], INT16_MIN, INT16_MAX, &v)) {
            return ImportLineKind::Bad;
        }
        counts[i] = static_cast<int32_t>(v);
    }
    return ImportLineKind::Data;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = size == 0 ? "" : reinterpret_cast<const char*>(data);
    std::size_t dataLines = 0;
    for (const std::string& line : reference::Lines(text, size)) {
        ImportSisFallRow row{};
        int32_t counts[9] = {};
        std::string reason;
        const ImportLineKind kind = ImportParseSisFallLine(line, &row, &reason);
        reference::Check(kind == ReferenceParse(line, counts), kTarget, "kind differs from the reference");
        reference::Check(kind != ImportLineKind::Bad || !reason.empty(), kTarget, "a bad line without a reason");
        for (int i = 0; kind == ImportLineKind::Data && i < 9; ++i) {
            reference::Check(row.counts[i] == counts[i], kTarget, "a count differs from the reference");
        }
        dataLines += kind == ImportLineKind::Data ? 1 : 0;
    }

    ImportSettings settings{};
    settings.dataset = ImportDataset::SisFall;
    ImportLines lines(text, size);
    ImportConverted converted{};
    ImportFault fault{0, 0, ""};
    if (ImportConvertSisFall(settings, &lines, &converted, &fault)) {
        reference::Check(converted.samples.size() == dataLines / 4, kTarget, "not one sample per four lines");
        int64_t clipped = 0;
        for (const ImportSample& s : converted.samples) {
            ImportCounts(s, &clipped);
        }
    } else {
        reference::Check(!fault.reason.empty(), kTarget, "a failure without a reason");
    }
    return 0;
}
