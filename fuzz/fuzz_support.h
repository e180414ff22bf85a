// What the fuzz targets share: a failed check that stops the run with the
// target's name, a scratch folder of the process for the rare comparison
// with the file readers, and a hash that picks those inputs.
#ifndef FUZZ_FUZZ_SUPPORT_H
#define FUZZ_FUZZ_SUPPORT_H

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "file_rules.h"

namespace fuzz {

// Stops the run (libFuzzer saves the input) when ok is false.
inline void Check(bool ok, const char* target, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "%s: %s\n", target, what);
        std::abort();
    }
}

// The input as a text file's content (FilesTextFromMemory) into *text;
// false when the file rules refuse it (with a reason, or the run stops).
inline bool TextInput(const uint8_t* data, size_t size, std::string* text, const char* target)
{
    std::string reason;
    if (FilesTextFromMemory(std::string_view(reinterpret_cast<const char*>(data), size), text, &reason)) {
        return true;
    }
    Check(!reason.empty(), target, "text refused without a reason");
    return false;
}

// FNV-1a of the input. Inputs whose hash is a multiple of kFileEvery are
// also read from a file: often enough that every kind of input meets the
// file reader, rarely enough that the target stays fast.
inline uint64_t Hash(const uint8_t* data, size_t size)
{
    uint64_t h = 14695981039346656037ull;
    for (size_t i = 0; i < size; ++i) {
        h = (h ^ data[i]) * 1099511628211ull;
    }
    return h;
}

constexpr uint64_t kFileEvery = 64;

inline bool AlsoFromFile(const uint8_t* data, size_t size)
{
    return Hash(data, size) % kFileEvery == 0;
}

// A folder made under $TMPDIR on first use and removed with what the
// target wrote into it (Write) at exit.
class Scratch {
public:
    explicit Scratch(const char* target)
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string templ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tumblewatch-fuzz-XXXXXX";
        Check(mkdtemp(templ.data()) != nullptr, target, "cannot make a scratch folder");
        dir_ = templ;
        target_ = target;
    }
    ~Scratch()
    {
        for (const std::string& f : files_) {
            std::remove(f.c_str());
        }
        rmdir(dir_.c_str());
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    const std::string& Dir() const { return dir_; }

    // Writes name in the folder with exactly these bytes; returns its path.
    std::string Write(const std::string& name, const void* data, size_t size)
    {
        const std::string path = dir_ + "/" + name;
        FILE* f = std::fopen(path.c_str(), "wb");
        Check(f != nullptr && (size == 0 || std::fwrite(data, 1, size, f) == size) && std::fclose(f) == 0, target_,
              "cannot write a scratch file");
        bool known = false;
        for (const std::string& file : files_) {
            known = known || file == path;
        }
        if (!known) {
            files_.push_back(path);
        }
        return path;
    }

private:
    std::string dir_;
    const char* target_;
    std::vector<std::string> files_;
};

}  // namespace fuzz

#endif
