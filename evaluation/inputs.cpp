// Finding the recordings of an evaluation.
#include "inputs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <set>

#include "file_pattern.h"
#include "labels.h"
#include "safe_files.h"

namespace fs = std::filesystem;

namespace {

// What names one file whatever path leads to it: its device and inode, or
// its resolved path when it cannot be examined.
std::string FileKey(const fs::path& path)
{
    SafeFileId id{};
    if (SafeFileIdOf(path.string(), &id)) {
        return std::to_string(id.device) + ":" + std::to_string(id.inode);
    }
    return "path:" + ManifestKey(path.string());
}

// A recording found for an argument.
struct Found {
    fs::path path;
    fs::path relative;  // below the argument's folder, the argument's prefix included
    RecordingFormat format;
    std::string file;  // FileKey of the file
    std::string twin;  // FileKey of its folder, then its name without the suffix
};

Found MakeFound(const fs::path& path, const fs::path& relative, RecordingFormat format)
{
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    return Found{path, relative, format, FileKey(path), FileKey(folder) + "/" + path.stem().string()};
}

bool IsRecordingName(const fs::path& path, RecordingFormat* format)
{
    return RecordingFormatOf(path.filename().string(), format);
}

// Why a link cannot be followed.
std::string BrokenLink(int error)
{
    if (error == ENOENT) {
        return "a link to a missing file";
    }
    if (error == ELOOP) {
        return "a link loop: its links lead round in a circle";
    }
    return "a link that cannot be followed: " + SafeErrorText(error);
}

// Takes one entry of a searched folder: a recording into found, a folder
// into subfolders, anything else into skipped with its reason.
void Visit(const fs::path& path, const fs::path& relative, std::vector<Found>* found, std::vector<fs::path>* subfolders,
           std::vector<InputSkipped>* skipped)
{
    RecordingFormat format;
    const bool recording = IsRecordingName(path, &format);
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        skipped->push_back(InputSkipped{path.string(), "cannot be examined: " + SafeErrorText(errno), recording});
        return;
    }
    const bool link = S_ISLNK(st.st_mode);
    if (link && stat(path.c_str(), &st) != 0) {
        skipped->push_back(InputSkipped{path.string(), BrokenLink(errno), recording});
        return;
    }
    if (S_ISDIR(st.st_mode)) {
        if (link) {
            skipped->push_back(InputSkipped{path.string(), "a link to a folder: not followed", false});
        } else {
            subfolders->push_back(path);
        }
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        skipped->push_back(InputSkipped{path.string(), SafeNotRegularText(st.st_mode), recording});
        return;
    }
    if (recording) {
        found->push_back(MakeFound(path, relative, format));
    }
}

// Every recording file below root, links to folders not followed; what
// cannot be searched or read is skipped with its reason.
void Walk(const fs::path& root, const fs::path& prefix, std::vector<Found>* found, std::vector<InputSkipped>* skipped)
{
    std::vector<fs::path> stack{root};
    std::set<std::string> visited;
    while (!stack.empty()) {
        const fs::path folder = stack.back();
        stack.pop_back();
        if (!visited.insert(FileKey(folder)).second) {
            skipped->push_back(
                InputSkipped{folder.string(), "a folder reached before (a loop): not searched again", false});
            continue;
        }
        std::error_code ec;
        fs::directory_iterator it(folder, ec);
        if (ec) {
            skipped->push_back(InputSkipped{folder.string(), "folder cannot be read: " + ec.message(), true});
            continue;
        }
        std::vector<fs::path> subfolders;
        for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
            Visit(it->path(), prefix / it->path().lexically_relative(root), found, &subfolders, skipped);
        }
        if (ec) {
            skipped->push_back(
                InputSkipped{folder.string(), "folder could not be read completely: " + ec.message(), true});
        }
        std::sort(subfolders.rbegin(), subfolders.rend());
        stack.insert(stack.end(), subfolders.begin(), subfolders.end());
    }
}

// The files of one pattern argument: the regular files of its folder whose
// names match; other matching names with a recording's suffix are skipped.
bool Match(const std::string& argument, const fs::path& prefix, std::vector<Found>* found,
           std::vector<InputSkipped>* skipped, std::string* error)
{
    const fs::path arg(argument);
    const std::string last = arg.filename().string();
    const fs::path folder = arg.has_parent_path() ? arg.parent_path() : fs::path(".");
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) {
        *error = argument + ": the folder " + folder.string() + " cannot be read: " + ec.message();
        return false;
    }
    std::vector<InputSkipped> passed;
    std::vector<fs::path> ignored;
    for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        RecordingFormat format;
        if (FilePatternMatch(last.c_str(), name.c_str()) && IsRecordingName(name, &format)) {
            const fs::path path = arg.has_parent_path() ? folder / name : fs::path(name);
            Visit(path, prefix / name, found, &ignored, &passed);
        }
    }
    if (ec) {
        *error = argument + ": the folder " + folder.string() + " cannot be read: " + ec.message();
        return false;
    }
    for (const fs::path& f : ignored) {
        passed.push_back(InputSkipped{f.string(), "is a folder", true});
    }
    if (found->empty()) {
        *error =
            argument + ": matches no recording" +
            (passed.empty() ? std::string() : " that can be read (" + passed[0].path + ": " + passed[0].reason + ")");
        return false;
    }
    skipped->insert(skipped->end(), passed.begin(), passed.end());
    return true;
}

// The recordings of the arguments' files, in argument order: a file once,
// a ".csv" passed over when its ".bin" twin was found by any argument.
void AddRecordings(std::vector<std::vector<Found>> arguments, InputSet* inputs)
{
    std::set<std::string> bins;
    for (std::vector<Found>& found : arguments) {
        std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.path < b.path; });
        for (const Found& f : found) {
            if (f.format == RecordingFormat::DataSet) {
                bins.insert(f.twin);
            }
        }
    }
    std::set<std::string> seen;
    std::set<std::string> passed;
    std::set<std::string> twinned;
    std::vector<std::string> twins;
    for (const std::vector<Found>& found : arguments) {
        for (const Found& f : found) {
            if (f.format == RecordingFormat::Csv && bins.count(f.twin) != 0) {
                twinned.insert(f.twin);
                if (passed.insert(f.file).second) {
                    inputs->passedOver.push_back(f.path.string());
                }
                continue;
            }
            if (!seen.insert(f.file).second) {
                continue;
            }
            const auto first = f.relative.begin();
            const std::string folder = std::next(first) == f.relative.end() ? std::string(".") : first->string();
            inputs->recordings.push_back(
                InputRecording{f.path.string(), f.relative.string(), folder, f.format,
                               f.format == RecordingFormat::Csv && InputsMicomMarkerBeside(f.path.string()), false});
            twins.push_back(f.twin);
        }
    }
    for (std::size_t i = 0; i < inputs->recordings.size(); ++i) {
        inputs->recordings[i].hadTwin =
            twinned.count(twins[i]) != 0 && inputs->recordings[i].format == RecordingFormat::DataSet;
    }
    inputs->twinsPassedOver = static_cast<int>(inputs->passedOver.size());
}

void Clear(InputSet* inputs)
{
    *inputs = InputSet{};
}

// The name a folder argument gives its recordings' relative paths.
std::string FolderName(const fs::path& arg)
{
    const fs::path normal = arg.lexically_normal();
    if (normal.has_filename()) {
        return normal.filename().string();
    }
    std::error_code ec;
    return fs::absolute(arg, ec).lexically_normal().parent_path().filename().string();
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
    Clear(inputs);
    std::vector<std::vector<Found>> found(arguments.size());
    for (std::size_t a = 0; a < arguments.size(); ++a) {
        const std::string& argument = arguments[a];
        const fs::path arg(argument);
        const bool prefixed = arguments.size() > 1;
        struct stat st {};
        if (stat(argument.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode)) {
                inputs->folders.push_back(argument);
                Walk(arg, prefixed ? fs::path(FolderName(arg)) : fs::path(), &found[a], &inputs->skipped);
                continue;
            }
            if (!S_ISREG(st.st_mode)) {
                *error = argument + ": " + SafeNotRegularText(st.st_mode);
                return false;
            }
            RecordingFormat format;
            if (!IsRecordingName(arg, &format)) {
                *error = argument + ": not a recording (the name must end in .bin or .csv)";
                return false;
            }
            found[a].push_back(MakeFound(arg, arg.filename(), format));
            continue;
        }
        const int statError = errno;
        struct stat link {};
        if (lstat(argument.c_str(), &link) == 0) {
            *error = argument + ": " + BrokenLink(statError);
            return false;
        }
        if (!FilePatternHasWildcard(arg.filename().string().c_str())) {
            *error = argument + (statError == ENOENT || statError == ENOTDIR
                                     ? ": no such file or folder"
                                     : ": cannot be examined: " + SafeErrorText(statError));
            return false;
        }
        inputs->patterns.push_back(argument);
        const fs::path prefix = prefixed ? arg.lexically_normal().filename() : fs::path();
        if (!Match(argument, prefix, &found[a], &inputs->skipped, error)) {
            return false;
        }
    }
    std::stable_sort(inputs->skipped.begin(), inputs->skipped.end(),
                     [](const InputSkipped& a, const InputSkipped& b) { return a.path < b.path; });
    AddRecordings(std::move(found), inputs);
    return true;
}

bool InputsFromList(const std::vector<std::string>& files, const std::string& base, InputSet* inputs,
                    std::string* error)
{
    Clear(inputs);
    std::error_code ec;
    const fs::path folder = fs::absolute(base.empty() ? fs::path(".") : fs::path(base), ec).lexically_normal();
    std::vector<Found> found;
    for (const std::string& file : files) {
        RecordingFormat format;
        if (!IsRecordingName(file, &format)) {
            *error = file + ": not a recording (the name must end in .bin or .csv)";
            return false;
        }
        const fs::path absolute = fs::absolute(file, ec).lexically_normal();
        fs::path relative = absolute.lexically_relative(folder);
        if (relative.empty() || *relative.begin() == "..") {
            relative = absolute.relative_path();  // outside the manifest's folder
        }
        found.push_back(MakeFound(fs::path(file), relative, format));
    }
    AddRecordings({found}, inputs);
    return true;
}

bool InputsSkippedFailed(const InputSet& inputs)
{
    return std::any_of(inputs.skipped.begin(), inputs.skipped.end(), [](const InputSkipped& s) { return s.failed; });
}
