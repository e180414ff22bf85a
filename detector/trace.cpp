// The trace log: one text line per sample, written in fragments.
#include "trace.h"

#include "feature_stages.h"
#include "trace_text.h"

FILE* fpTrace = nullptr;

namespace {

// Each writer builds its fragment in a TraceText on its own stack and
// writes it with one fwrite; the comments give the printf format that the
// fragment reproduces byte for byte.

// "%04d: AG <%6d, %6d, %6d><%6d, %6d, %6d>", ", RMS <%3d, %3d, %3d><%3d, %3d>",
// ", JUMP (%3d, %3d, %3d, %4d)", ", AVG <%3d, %3d>, PX <%4d, %4d, %3d, %c><%2d, %2d, %4d>"
void TracePartOne(TumblewatchContext* ctx, const ImuSample* s)
{
    TraceText t;
    t.ZeroPadded(static_cast<int>(ctx->sampleCount), 4).Text(": AG <");
    t.Int(s->accX, 6).Text(", ").Int(s->accY, 6).Text(", ").Int(s->accZ, 6).Text("><");
    t.Int(s->gyroX, 6).Text(", ").Int(s->gyroY, 6).Text(", ").Int(s->gyroZ, 6).Text(">");
    t.Text(", RMS <").Int(ctx->accRawMag, 3).Text(", ").Int(ctx->accLpfMag, 3).Text(", ").Int(ctx->accLpf2Mag, 3);
    t.Text("><").Int(ctx->gyroRawMag, 3).Text(", ").Int(ctx->gyroLpfMag, 3).Text(">");
    t.Text(", JUMP (").Int(ctx->jumpPeak, 3).Text(", ").Int(static_cast<int>(ctx->jumpLastSample), 3);
    t.Text(", ").Int(ctx->jumpScore, 3).Text(", ").Int(ctx->jumpArea, 4).Text(")");
    t.Text(", AVG <").Int(ctx->accLpfAvg, 3).Text(", ").Int(ctx->gyroLpfAvg5, 3).Text(">");
    t.Text(", PX <").Int(ctx->pitch, 4).Text(", ").Int(ctx->tilt, 4).Text(", ").Int(ctx->tilt - ctx->fallStartTilt, 3);
    t.Text(", ").Char(ctx->upright == 1 ? 'O' : 'X').Text("><").Int(ctx->gyroXRiseCount, 2).Text(", ");
    t.Int(ctx->gyroXDropCount, 2).Text(", ").Int(ctx->gyroXPrev, 4).Text(">");
    t.WriteTo(fpTrace);
    ctx->fallTraced = 0;
}

// ", FALL [%2d, %2d, %2d, %2d, %4d(%02d), %2d, %2d : %2d]"
void TracePartTwo(TumblewatchContext* ctx)
{
    if (ctx->fallTraced != 0) {
        return;
    }
    const int depth = ctx->fallDeepCount == 0 ? 0 : ctx->fallDepthSum / ctx->fallDeepCount;
    TraceText t;
    t.Text(", FALL [").Int(ctx->fallLength, 2).Text(", ").Int(ctx->quietRun, 2).Text(", ");
    t.Int(ctx->fallDeepCount, 2).Text(", ").Int(ctx->fallRecoverCount, 2).Text(", ").Int(ctx->fallDepthSum, 4);
    t.Text("(").ZeroPadded(depth, 2).Text("), ").Int(ctx->gyroXHighRun, 2).Text(", ").Int(ctx->fallScore, 2);
    t.Text(" : ").Int(ctx->fallLengthNow, 2).Text("]");
    t.WriteTo(fpTrace);
    ctx->fallTraced = 1;
}

// ", TF <%2d, %2d>" once the run is long enough, else ", TF <%2d>"; then
// ", 3S <%4d, %3d>".
void PutPartThree(const TumblewatchContext* ctx, TraceText* t)
{
    const int32_t run = ctx->tumbleRun;
    t->Text(", TF <").Int(run, 2);
    if (run >= ctx->config->tumbleLength) {
        const uint32_t upright = UprightCount(ctx, run);
        const int threshold = static_cast<int>((upright >> 1) + static_cast<uint32_t>(ctx->config->tumbleLength));
        t->Text(", ").Int(threshold, 2);
    }
    t->Text(">, 3S <").Int(ctx->accRawSum3, 4).Text(", ").Int(ctx->gyroLpfSum3, 3).Text(">");
}

// " -> (%d)\n" for a positive code, else "\n".
void PutResult(int code, TraceText* t)
{
    if (code > 0) {
        t->Text(" -> (").Int(code, 0).Text(")\n");
    } else {
        t->Text("\n");
    }
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
        TraceText t;
        PutPartThree(ctx, &t);
        t.WriteTo(fpTrace);
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
    TraceText t;
    t.Text(", CF <").Int(adjust, 2);
    if (eventLength >= 0) {
        t.Text(", ").Int(outside, 2).Text(", ").Int(gap, 2).Text(", ").Int(eventLength, 2).Text(", ");
        t.Int(ctx->peakValue, 3);
    }
    t.Text(">");
    t.WriteTo(fpTrace);
}

void TraceResult(const TumblewatchContext* /*ctx*/, int code)
{
    if (fpTrace == nullptr) {
        return;
    }
    TraceText t;
    PutResult(code, &t);
    t.WriteTo(fpTrace);
}

int FinishSample(TumblewatchContext* ctx, int code)
{
    // Part 3 and the result in one write.
    if (fpTrace != nullptr) {
        TraceText t;
        PutPartThree(ctx, &t);
        PutResult(code, &t);
        t.WriteTo(fpTrace);
    }
    ctx->ringIndex = static_cast<uint16_t>((ctx->ringIndex + 1) & 63);
    ctx->sampleCount += 1;
    return code;
}
