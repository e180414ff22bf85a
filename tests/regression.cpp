#include "regression.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "test_support.h"

namespace fs = std::filesystem;

Replayed ReplayRecording(const std::string& path)
{
    TempDir dir;
    const fs::path source(path);
    const std::string name = source.filename().string();
    fs::copy_file(source, dir / name);
    const fs::path marker = source.parent_path() / "micom.txt";
    if (fs::exists(marker)) {
        fs::copy_file(marker, dir / "micom.txt");
    }
    const BenchRun run = RunBench(dir.path(), {name});
    if (run.status != 0) {
        throw std::runtime_error("the bench failed on " + path);
    }
    Replayed out;
    out.console = run.output;
    const std::string trace = dir / (name.substr(0, name.size() - 3) + "txt");
    out.trace = PathExists(trace) ? ReadFile(trace) : std::string();
    return out;
}

std::vector<std::string> ListRecordings(const std::string& root)
{
    std::vector<std::string> found;
    std::error_code ec;
    if (!fs::is_directory(root, ec)) {
        return found;
    }
    for (fs::recursive_directory_iterator it(root, ec), end; it != end; it.increment(ec)) {
        if (ec) {
            break;
        }
        if (!it->is_regular_file(ec) || it->is_symlink(ec)) {
            continue;
        }
        const std::string name = it->path().filename().string();
        const auto endsWith = [&](const std::string& suffix) {
            return name.size() >= suffix.size() &&
                   name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
        };
        if (endsWith(".bin") || (endsWith(".csv") && !endsWith("_DSV.csv"))) {
            found.push_back(fs::relative(it->path(), root).string());
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::string ReadGzipFile(const std::string& path)
{
    gzFile file = gzopen(path.c_str(), "rb");
    if (file == nullptr) {
        throw std::runtime_error("cannot read " + path);
    }
    std::string data;
    char buf[1 << 16];
    int n;
    while ((n = gzread(file, buf, sizeof buf)) > 0) {
        data.append(buf, static_cast<size_t>(n));
    }
    const bool failed = n < 0;
    gzclose(file);
    if (failed) {
        throw std::runtime_error("corrupt " + path);
    }
    return data;
}

void WriteGzipFile(const std::string& path, const std::string& data)
{
    gzFile file = gzopen(path.c_str(), "wb9");
    if (file == nullptr) {
        throw std::runtime_error("cannot write " + path);
    }
    size_t done = 0;
    while (done < data.size()) {
        const unsigned chunk = static_cast<unsigned>(std::min<size_t>(data.size() - done, 1u << 20));
        if (gzwrite(file, data.data() + done, chunk) != static_cast<int>(chunk)) {
            gzclose(file);
            throw std::runtime_error("cannot write " + path);
        }
        done += chunk;
    }
    if (gzclose(file) != Z_OK) {
        throw std::runtime_error("cannot write " + path);
    }
}

bool UpdatingReferences()
{
    const char* v = std::getenv("TUMBLEWATCH_UPDATE_REFERENCES");
    return v != nullptr && std::string(v) == "1";
}
