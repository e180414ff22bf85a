#include "replay_common.h"

#include <cstdio>
#include <memory>

namespace {

// The trace file's stdio buffer, one per thread like the trace handle: the
// trace leaves in 1 MiB writes instead of 4 KiB ones. It belongs to one
// file at a time (a second trace opened meanwhile keeps the default
// buffer) and is released when that file is closed.
constexpr size_t kTraceBufferSize = size_t{1} << 20;
struct TraceBuffer {
    FILE* file;
    std::unique_ptr<char[]> bytes;
};
thread_local TraceBuffer traceBuffer{nullptr, nullptr};

void UseLargeBuffer(FILE* file)
{
    if (file == nullptr || traceBuffer.file != nullptr) {
        return;
    }
    traceBuffer.bytes.reset(new (std::nothrow) char[kTraceBufferSize]);
    if (traceBuffer.bytes != nullptr && std::setvbuf(file, traceBuffer.bytes.get(), _IOFBF, kTraceBufferSize) == 0) {
        traceBuffer.file = file;
    } else {
        traceBuffer.bytes.reset();
    }
}

void CloseWithBuffer(FILE* file)
{
    const bool owner = file == traceBuffer.file;
    std::fclose(file);
    if (owner) {
        traceBuffer.file = nullptr;
        traceBuffer.bytes.reset();
    }
}

}  // namespace

std::string TraceFileName(const std::string& path)
{
    if (path.size() < 3) {
        return std::string();
    }
    std::string name = path.substr(0, path.size() - 3) + "txt";
    if (name == path) {
        return std::string();
    }
    return name;
}

bool OpenTraceBeside(const std::string& path)
{
    const std::string name = TraceFileName(path);
    if (name.empty()) {
        return false;
    }
    fpTrace = std::fopen(name.c_str(), "w+");
    UseLargeBuffer(fpTrace);
    return fpTrace != nullptr;
}

void CloseTrace()
{
    if (fpTrace != nullptr) {
        CloseWithBuffer(fpTrace);
        fpTrace = nullptr;
    }
}

bool StartDetector(TumblewatchContext* ctx, TumblewatchConfig* cfg)
{
    TumblewatchDefault(cfg);
    if (TumblewatchSet(ctx, cfg) < 0) {
        std::printf("TumblewatchSet(), failed.\n");
        return false;
    }
    return true;
}
