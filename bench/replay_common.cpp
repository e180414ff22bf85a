#include "replay_common.h"

#include <cstdio>

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
    return fpTrace != nullptr;
}

void CloseTrace()
{
    if (fpTrace != nullptr) {
        std::fclose(fpTrace);
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
