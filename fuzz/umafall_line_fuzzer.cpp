// Fuzz target for UMAFall's lines and files. Every line of the input is
// parsed and compared with a plain reference ('%' lines, blank lines and
// rows of empty fields skipped; seven ';'-separated fields, an optional ';' at the end: time, sample
// number, x, y, z, sensor type and ID); then the whole input is converted
// as a UMAFall file.
#include <cstdint>
#include <string>

#include "import_datasets.h"
#include "import_reference.h"

namespace {

constexpr const char* kTarget = "umafall_line_fuzzer";

ImportLineKind ReferenceParse(const std::string& line, double* values, int64_t* integers)
{
    if (line.find('\0') != std::string::npos) {
        return ImportLineKind::Bad;
    }
    std::string text = reference::Trim(line);
    if (text.empty() || text[0] == '%' || text.find_first_not_of("; \t\r") == std::string::npos) {
        return ImportLineKind::Other;
    }
    if (text.back() == ';') {
        text.pop_back();
    }
    const std::vector<std::string> fields = reference::Split(text, ';');
    if (fields.size() != 7) {
        return ImportLineKind::Bad;
    }
    const int numbers[4] = {0, 2, 3, 4};
    for (int i = 0; i < 4; ++i) {
        if (!reference::Number(fields[numbers[i]], &values[i])) {
            return ImportLineKind::Bad;
        }
    }
    const int positions[3] = {1, 5, 6};
    for (int i = 0; i < 3; ++i) {
        if (!reference::Integer(fields[positions[i]], 0, INT64_MAX, &integers[i])) {
            return ImportLineKind::Bad;
        }
    }
    return values[0] < 0 ? ImportLineKind::Bad : ImportLineKind::Data;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = size == 0 ? "" : reinterpret_cast<const char*>(data);
    for (const std::string& line : reference::Lines(text, size)) {
        ImportUmaFallRow row{};
        double values[4] = {};
        int64_t integers[3] = {};
        std::string reason;
        const ImportLineKind kind = ImportParseUmaFallLine(line, &row, &reason);
        reference::Check(kind == ReferenceParse(line, values, integers), kTarget, "kind differs from the reference");
        if (kind == ImportLineKind::Data) {
            reference::Check(reference::Same(row.time, values[0]) && reference::Same(row.v.x, values[1]) &&
                                 reference::Same(row.v.y, values[2]) && reference::Same(row.v.z, values[3]) &&
                                 row.type == integers[1] && row.sensor == integers[2],
                             kTarget, "a value differs from the reference");
        }
        int64_t waist = 0;
        ImportUmaFallWaist(line, &waist);
    }

    ImportSettings settings{};
    settings.dataset = ImportDataset::UmaFall;
    ImportLines lines(text, size);
    ImportConverted converted{};
    ImportFault fault{0, 0, ""};
    if (ImportConvertUmaFall(settings, &lines, &converted, &fault)) {
        reference::Check(!converted.samples.empty(), kTarget, "a recording of no samples");
    } else {
        reference::Check(!fault.reason.empty(), kTarget, "a failure without a reason");
    }
    return 0;
}
