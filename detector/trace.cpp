// The trace log: one text line per sample, written in fragments.
#include "trace.h"

#include "feature_stages.h"
#include "trace_text.h"

TUMBLEWATCH_THREAD_LOCAL FILE* fpTrace = nullptr;

namespace {

// Each writer builds its fragment in a buffer on its own stack (see
// trace_text.h) and writes it with one fwrite; the comments give the printf
// format that the fragment reproduces byte for byte.

void WriteFragment(const char* begin, TraceText t)
{
    std::fwrite(begin, 1, static_cast<size_t>(t.end() - begin), fpTrace);
}

// "%04d: AG <%6d, %6d, %6d><%6d, %6d, %6d>", ", RMS <%3d, %3d, %3d><%3d, %3d>",
// ", JUMP (%3d, %3d, %3d, %4d)", ", AVG <%3d, %3d>, PX <%4d, %4d, %3d, %c><%2d, %2d, %4d>"
void TracePartOne(TumblewatchContext* ctx, const ImuSample* s)
{
    char line[kTraceFragmentCapacity];
    TraceText t(line, sizeof line);
    t = t.ZeroPadded(static_cast<int>(ctx->sampleCount), 4).Text(": AG <");
    t = t.Int(s->accX, 6).Text(", ").Int(s->accY, 6).Text(", ").Int(s->accZ, 6).Text("><");
    t = t.Int(s->gyroX, 6).Text(", ").Int(s->gyroY, 6).Text(", ").Int(s->gyroZ, 6).Text(">");
    t = t.Text(", RMS <").Int(ctx->accRawMag, 3).Text(", ").Int(ctx->accLpfMag, 3).Text(", ");
    t = t.Int(ctx->accLpf2Mag, 3).Text("><").Int(ctx->gyroRawMag, 3).Text(", ").Int(ctx->gyroLpfMag, 3).Text(">");
    t = t.Text(", JUMP (").Int(ctx->jumpPeak, 3).Text(", ").Int(static_cast<int>(ctx->jumpLastSample), 3);
    t = t.Text(", ").Int(ctx->jumpScore, 3).Text(", ").Int(ctx->jumpArea, 4).Text(")");
    t = t.Text(", AVG <").Int(ctx->accLpfAvg, 3).Text(", ").Int(ctx->gyroLpfAvg5, 3).Text(">");
    t = t.Text(", PX <").Int(ctx->pitch, 4).Text(", ").Int(ctx->tilt, 4).Text(", ");
    t = t.Int(ctx->tilt - ctx->fallStartTilt, 3).Text(", ").Char(ctx->upright == 1 ? 'O' : 'X').Text("><");
    t = t.Int(ctx->gyroXRiseCount, 2).Text(", ").Int(ctx->gyroXDropCount, 2).Text(", ").Int(ctx->gyroXPrev, 4);
    t = t.Text(">");
    WriteFragment(line, t);
    ctx->fallTraced = 0;
}

// ", FALL [%2d, %2d, %2d, %2d, %4d(%02d), %2d, %2d : %2d]"
void TracePartTwo(TumblewatchContext* ctx)
{
    if (ctx->fallTraced != 0) {
        return;
    }
    const int depth = ctx->fallDeepCount == 0 ? 0 : ctx->fallDepthSum / ctx->fallDeepCount;
    char line[kTraceFragmentCapacity];
    TraceText t(line, sizeof line);
    t = t.Text(", FALL [").Int(ctx->fallLength, 2).Text(", ").Int(ctx->quietRun, 2).Text(", ");
    t = t.Int(ctx->fallDeepCount, 2).Text(", ").Int(ctx->fallRecoverCount, 2).Text(", ");
    t = t.Int(ctx->fallDepthSum, 4).Text("(").ZeroPadded(depth, 2).Text("), ").Int(ctx->gyroXHighRun, 2);
    t = t.Text(", ").Int(ctx->fallScore, 2).Text(" : ").Int(ctx->fallLengthNow, 2).Text("]");
    WriteFragment(line, t);
    ctx->fallTraced = 1;
}

// ", TF <%2d, %2d>" once the run is long enough, else ", TF <%2d>"; then
// ", 3S <%4d, %3d>".
TraceText PutPartThree(const TumblewatchContext* ctx, TraceText t)
{
    const int32_t run = ctx->tumbleRun;
    t = t.Text(", TF <").Int(run, 2);
    if (run >= ctx->config->tumbleLength) {
        const uint32_t upright = UprightCount(ctx, run);
        const int threshold = static_cast<int>((upright >> 1) + static_cast<uint32_t>(ctx->config->tumbleLength));
        t = t.Text(", ").Int(threshold, 2);
    }
    return t.Text(">, 3S <").Int(ctx->accRawSum3, 4).Text(", ").Int(ctx->gyroLpfSum3, 3).Text(">");
}

// " -> (%d)\n" for a positive code, else "\n".
TraceText PutResult(int code, TraceText t)
{
    return code > 0 ? t.Text(" -> (").Int(code, 0).Text(")\n") : t.Text("\n");
}

}  // namespace

void TraceSample(TumblewatchContext* ctx, const ImuSample* sample, int part)
{
    if (fpTrace == nullptr) {
        return;
    }
    switch (part) {
    case 1:
        if (sample != nullptr) {
            TracePartOne(ctx, sample);
        }
        break;
    case 2:
        TracePartTwo(ctx);
        break;
    case 3: {
        char line[kTraceFragmentCapacity];
        const TraceText t = PutPartThree(ctx, TraceText(line, sizeof line));
        WriteFragment(line, t);
        break;
    }
    default:
        break;
    }
}

// ", CF <%2d>" or ", CF <%2d, %2d, %2d, %2d, %3d>"
void TraceRepeatCheck(const TumblewatchContext* ctx, int adjust, int outside, int gap, int eventLength)
{
    if (fpTrace == nullptr) {
        return;
    }
    char line[kTraceFragmentCapacity];
    TraceText t(line, sizeof line);
    t = t.Text(", CF <").Int(adjust, 2);
    if (eventLength >= 0) {
        t = t.Text(", ").Int(outside, 2).Text(", ").Int(gap, 2).Text(", ").Int(eventLength, 2).Text(", ");
        t = t.Int(ctx->peakValue, 3);
    }
    WriteFragment(line, t.Text(">"));
}

void TraceResult(const TumblewatchContext* /*ctx*/, int code)
{
    if (fpTrace == nullptr) {
        return;
    }
    char line[kTraceFragmentCapacity];
    const TraceText t = PutResult(code, TraceText(line, sizeof line));
    WriteFragment(line, t);
}

int FinishSample(TumblewatchContext* ctx, int code)
{
    // The closing fragments (fragment 3) and the line end in one write.
    if (fpTrace != nullptr) {
        char line[kTraceFragmentCapacity];
        const TraceText t = PutResult(code, PutPartThree(ctx, TraceText(line, sizeof line)));
        WriteFragment(line, t);
    }
    ctx->ringIndex = static_cast<uint16_t>((ctx->ringIndex + 1) & 63);
    ctx->sampleCount += 1;
    return code;
}
