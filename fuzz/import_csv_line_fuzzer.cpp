// Fuzz target for the lines and files of the csv import. The first byte
// chooses the layout (the delimiter, and uniform 100 Hz or a time column in
// ms); every further line is parsed and compared with a plain reference
// (the configured fields as numbers, further fields ignored, blank lines
// skipped), then the whole rest is converted as one file.
#include <cstdint>
#include <string>

#include "import_datasets.h"
#include "import_reference.h"

namespace {

constexpr const char* kTarget = "import_csv_line_fuzzer";
constexpr char kDelimiters[] = {',', ';', '\t', ' '};

ImportLineKind ReferenceParse(const std::string& line, const ImportCsvSettings& csv, double* values)
{
    if (line.find('\0') != std::string::npos) {
        return ImportLineKind::Bad;
    }
    if (reference::Trim(line).empty()) {
        return ImportLineKind::Other;
    }
    const std::vector<std::string> fields = reference::Split(line, csv.delimiter);
    for (int k = 0; k < kImportColumnCount; ++k) {
        values[k] = 0.0;
        const int c = csv.columns[k];
        if (c >= 0 && (static_cast<std::size_t>(c) >= fields.size() || !reference::Number(fields[c], &values[k]))) {
            return ImportLineKind::Bad;
        }
    }
    return ImportLineKind::Data;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    const unsigned layout = data[0];
    ImportSettings settings{};
    settings.dataset = ImportDataset::Csv;
    settings.csv = ImportCsvDefaults();
    std::string error;
    // Columns in file order, or shuffled with the time last.
    const char* columns =
        (layout & 4u) != 0 ? "ax=1,ay=2,az=3,gx=4,gy=5,gz=6,t=7" : "t=1,gz=2,gy=3,gx=4,az=5,ay=6,ax=7";
    reference::Check(ImportParseColumns(columns, &settings.csv, &error), kTarget, "columns refused");
    settings.csv.delimiter = kDelimiters[layout & 3u];
    if ((layout & 8u) != 0) {
        settings.csv.rateHz = (layout & 16u) != 0 ? 100 : 30;
    } else {
        settings.csv.secondsPerTimeUnit = 1e-3;
    }
    const char* text = reinterpret_cast<const char*>(data) + 1;
    for (const std::string& line : reference::Lines(text, size - 1)) {
        ImportCsvRow row{};
        double values[kImportColumnCount] = {};
        std::string reason;
        const ImportLineKind kind = ImportParseCsvLine(line, settings.csv, &row, &reason);
        reference::Check(kind == ReferenceParse(line, settings.csv, values), kTarget,
                         "kind differs from the reference");
        for (int k = 0; kind == ImportLineKind::Data && k < kImportColumnCount; ++k) {
            reference::Check(reference::Same(row.values[k], values[k]), kTarget, "a value differs from the reference");
        }
    }

    ImportLines lines(text, size - 1);
    ImportConverted converted{};
    ImportFault fault{0, 0, ""};
    if (ImportConvertCsv(settings, &lines, &converted, &fault)) {
        reference::Check(!converted.samples.empty(), kTarget, "a recording of no samples");
    } else {
        reference::Check(!fault.reason.empty(), kTarget, "a failure without a reason");
    }
    return 0;
}
