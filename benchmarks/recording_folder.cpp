#include "recording_folder.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "sample_stream.h"

namespace {

constexpr std::size_t kSamplesEach = 30000;  // ten minutes of wear each

}  // namespace

RecordingFolder::RecordingFolder(int recordings)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tumblewatch-eval-XXXXXX";
    if (mkdtemp(templ.data()) == nullptr) {
        return;
    }
    dir_ = templ;
    const std::vector<ImuSample> stream = MakeSampleStream(kSamplesEach * static_cast<std::size_t>(recordings));
    for (int r = 0; r < recordings; ++r) {
        const std::vector<ImuSample> part(stream.begin() + static_cast<long>(r * kSamplesEach),
                                          stream.begin() + static_cast<long>((r + 1) * kSamplesEach));
        const std::string name =
            (r % 2 == 0 ? "fall_mixed_s" : "adl_mixed_s") + std::to_string(r % 5) + "_r" + std::to_string(r) + ".bin";
        if (!WriteDataSetFile(dir_ + "/" + name, part)) {
            dir_.clear();
            return;
        }
    }
}

RecordingFolder::~RecordingFolder()
{
    if (!dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
}
