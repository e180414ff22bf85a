// Fuzz target for the manifest: the input is a manifest file's bytes,
// checked as a file's text is (FilesTextFromMemory) and parsed as a
// manifest in a scratch folder that holds a few recordings (fuzz/dict
// names them) for its rows to list. A refused manifest leaves the one
// given as it was; an accepted one lists each recording once, and written
// back as CSV (every field through CsvField) reads back to the same labels.
#include <cstdint>
#include <string>
#include <string_view>

#include "csv_format.h"
#include "file_rules.h"
#include "fuzz_support.h"
#include "labels.h"

namespace {

constexpr const char* kTarget = "manifest_fuzzer";

void Check(bool ok, const char* what)
{
    fuzz::Check(ok, kTarget, what);
}

bool SameLabels(const RecordingLabels& a, const RecordingLabels& b)
{
    return a.label == b.label && a.activity == b.activity && a.subject == b.subject &&
           a.impactSample == b.impactSample && a.description == b.description;
}

std::string WrittenBack(const Manifest& manifest)
{
    std::string text = "path,label,activity,subject,impact_sample,description\n";
    for (const std::string& file : manifest.files) {
        const RecordingLabels& l = manifest.entries.at(ManifestKey(file));
        text += CsvField(file) + "," +
                (l.label == Label::Fall  ? "fall"
                 : l.label == Label::Adl ? "adl"
                                         : "") +
                "," + CsvField(l.activity) + "," + CsvField(l.subject) + "," +
                (l.impactSample >= 0 ? std::to_string(l.impactSample) : std::string()) + "," + CsvField(l.description) +
                "\n";
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static fuzz::Scratch scratch(kTarget);
    static const std::string manifestPath = [] {
        for (const char* name : {"fall_a.csv", "adl_b.bin", "c.csv"}) {
            scratch.Write(name, "", 0);
        }
        return scratch.Dir() + "/labels.manifest";
    }();

    std::string text;
    if (!fuzz::TextInput(data, size, &text, kTarget)) {
        return 0;
    }

    // A manifest's header is recognised in any text; a text that reads as
    // a manifest starts with one.
    const bool header = ManifestHeaderLine(text);

    Manifest manifest;
    manifest.path = "before";
    manifest.files.push_back("/before.csv");
    manifest.entries.emplace(ManifestKey("/before.csv"), RecordingLabels{Label::Fall, "a", "s", 3, "d", 2});
    std::string error;
    if (!ManifestParse(text, manifestPath, &manifest, &error)) {
        Check(!error.empty(), "refused without a message");
        Check(manifest.path == "before" && manifest.files.size() == 1 && manifest.entries.size() == 1 &&
                  manifest.entries.count(ManifestKey("/before.csv")) == 1,
              "a refused manifest changed the one given");
        return 0;
    }
    Check(manifest.path == manifestPath, "the manifest's own name is lost");
    Check(header, "a manifest read without its header being recognised");
    Check(manifest.files.size() == manifest.entries.size(), "not one entry per listed recording");
    for (const std::string& file : manifest.files) {
        Check(manifest.entries.count(ManifestKey(file)) == 1, "a listed recording without its entry");
        Check(ManifestFind(manifest, file) != nullptr, "a listed recording is not found");
    }

    Manifest back;
    Check(ManifestParse(WrittenBack(manifest), manifestPath, &back, &error), "written back, it is refused");
    Check(back.files == manifest.files, "written back, it lists other recordings");
    for (const std::string& file : manifest.files) {
        Check(SameLabels(back.entries.at(ManifestKey(file)), manifest.entries.at(ManifestKey(file))),
              "written back, a recording has other labels");
    }
    return 0;
}
