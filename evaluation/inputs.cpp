// Finding the recordings of an evaluation.
#include "inputs.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "file_pattern.h"
#include "labels.h"

namespace fs = std::filesystem;

namespace {

bool IsRegular(const fs::path& p)
{
    std::error_code ec;
    return fs::is_regular_file(p, ec);  // a link to a regular file is one
}

// A recording found below an argument: its path and the path relative to
// the argument's folder.
struct Found {
    fs::path path;
    fs::path relative;
};

// Every recording file below folder, links to folders not followed.
void Walk(const fs::path& folder, std::vector<Found>* found)
{
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    for (const fs::recursive_directory_iterator end; !ec && it != end; it.increment(ec)) {
        RecordingFormat format;
        if (IsRegular(it->path()) && RecordingFormatOf(it->path().filename().string(), &format)) {
            found->push_back(Found{it->path(), it->path().lexically_relative(folder)});
        }
    }
}

// Turns the files of one argument into recordings, the ".csv" twin of a
// ".bin" in the same folder passed over.
void AddRecordings(std::vector<Found> found, const std::string& prefix, InputSet* inputs, std::set<std::string>* seen)
{
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.path < b.path; });
    std::set<std::string> bins;
    for (const Found& f : found) {
        if (f.path.extension() == ".bin") {
            bins.insert(ManifestKey((f.path.parent_path() / f.path.stem()).string()));
        }
    }
    std::set<std::string> twinned;
    for (const Found& f : found) {
        RecordingFormat format;
        RecordingFormatOf(f.path.filename().string(), &format);
        const std::string stemKey = ManifestKey((f.path.parent_path() / f.path.stem()).string());
        if (format == RecordingFormat::Csv && bins.count(stemKey) != 0) {
            ++inputs->twinsPassedOver;
            twinned.insert(stemKey);
        }
    }
    for (const Found& f : found) {
        RecordingFormat format;
        RecordingFormatOf(f.path.filename().string(), &format);
        const std::string stemKey = ManifestKey((f.path.parent_path() / f.path.stem()).string());
        if (format == RecordingFormat::Csv && bins.count(stemKey) != 0) {
            continue;
        }
        if (!seen->insert(ManifestKey(f.path.string())).second) {
            continue;
        }
        const fs::path relative = prefix.empty() ? f.relative : fs::path(prefix) / f.relative;
        const auto first = relative.begin();
        const std::string folder = std::next(first) == relative.end() ? std::string(".") : first->string();
        inputs->recordings.push_back(InputRecording{
            f.path.string(), relative.string(), folder, format,
            format == RecordingFormat::Csv && InputsMicomMarkerBeside(f.path.string()), twinned.count(stemKey) != 0});
    }
}

}  // namespace

bool InputsMicomMarkerBeside(const std::string& path)
{
    const fs::path file(path);
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    return access((folder / kMicomMarker).c_str(), R_OK) == 0;
}

bool InputsFind(const std::vector<std::string>& arguments, InputSet* inputs, std::string* error)
{
    inputs->recordings.clear();
    inputs->twinsPassedOver = 0;
    std::set<std::string> seen;
    for (const std::string& argument : arguments) {
        const fs::path arg(argument);
        const std::string prefix = arguments.size() > 1 ? arg.lexically_normal().filename().string() : std::string();
        std::error_code ec;
        std::vector<Found> found;
        if (fs::is_directory(arg, ec)) {
            Walk(arg, &found);
            const std::string name = arg.lexically_normal().has_filename()
                                         ? arg.lexically_normal().filename().string()
                                         : fs::absolute(arg, ec).lexically_normal().parent_path().filename().string();
            AddRecordings(found, arguments.size() > 1 ? name : std::string(), inputs, &seen);
            continue;
        }
        if (fs::exists(arg, ec)) {
            RecordingFormat format;
            if (!RecordingFormatOf(arg.filename().string(), &format)) {
                *error = argument + ": not a recording (the name must end in .bin or .csv)";
                return false;
            }
            found.push_back(Found{arg, arg.filename()});
            AddRecordings(found, std::string(), inputs, &seen);
            continue;
        }
        const std::string last = arg.filename().string();
        if (!FilePatternHasWildcard(last.c_str())) {
            *error = argument + ": no such file or folder";
            return false;
        }
        const fs::path folder = arg.has_parent_path() ? arg.parent_path() : fs::path(".");
        fs::directory_iterator it(folder, ec);
        for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
            RecordingFormat format;
            const std::string name = it->path().filename().string();
            if (FilePatternMatch(last.c_str(), name.c_str()) && IsRegular(it->path()) &&
                RecordingFormatOf(name, &format)) {
                found.push_back(Found{arg.has_parent_path() ? folder / name : fs::path(name), fs::path(name)});
            }
        }
        if (found.empty()) {
            *error = argument + ": matches no recording";
            return false;
        }
        AddRecordings(found, prefix, inputs, &seen);
    }
    return true;
}

bool InputsFromList(const std::vector<std::string>& files, const std::string& base, InputSet* inputs,
                    std::string* error)
{
    inputs->recordings.clear();
    inputs->twinsPassedOver = 0;
    std::vector<Found> found;
    for (const std::string& file : files) {
        RecordingFormat format;
        if (!RecordingFormatOf(fs::path(file).filename().string(), &format)) {
            *error = file + ": not a recording (the name must end in .bin or .csv)";
            return false;
        }
        found.push_back(Found{fs::path(file), fs::path(file).lexically_relative(base)});
    }
    std::set<std::string> seen;
    AddRecordings(found, std::string(), inputs, &seen);
    return true;
}
