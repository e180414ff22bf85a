// The magnitude root: the float square root in place of the double power
// 0.5. build/check_magnitude_root proves them equal on every non-negative
// float; here a sample of that proof, and the tool itself.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "lpf.h"
#include "magnitude_root_check.h"
#include "previous.h"
#include "test_support.h"

namespace {

TEST(MagnitudeRoot, AgreesWithThePowerOnASampleOfAllFloats)
{
    // About three million floats spread evenly over every exponent, NaNs
    // and infinity included, and every float of one binade in full (the
    // root halves the exponent, so [1, 4) holds every mantissa case).
    const RootCheck spread = CheckMagnitudeRoot(3000017);
    EXPECT_EQ(spread.checked, 3000017u);
    EXPECT_EQ(spread.mismatches, 0u) << "first at " << std::hex << spread.firstMismatch;

    RootCheck binade{0, 0, 0};
    for (uint32_t bits = BitsOfFloat(1.0f); bits < BitsOfFloat(4.0f); bits += 7) {
        CheckRootAt(bits, &binade);
    }
    EXPECT_EQ(binade.mismatches, 0u) << "first at " << std::hex << binade.firstMismatch;

    // The one float where the two differ, -0.0, is never a sum of squares.
    EXPECT_NE(BitsOfFloat(RootHalf(-0.0f)), BitsOfFloat(PowerRoot(-0.0f)));
    EXPECT_EQ(BitsOfFloat(MagnitudeRoot(-0.0f, -0.0f, -0.0f)), BitsOfFloat(PowerRoot(0.0f)));

    // And the previous implementation's root is the power.
    for (const float s : {0.0f, 1.0f, 2.0f, 0x1.006ee6p+0f, 3.4e38f}) {
        EXPECT_EQ(BitsOfFloat(TumblewatchPrevious().rootHalf(s)), BitsOfFloat(PowerRoot(s)));
        EXPECT_EQ(BitsOfFloat(RootHalf(s)), BitsOfFloat(PowerRoot(s)));
    }
}

struct ToolRun {
    int status;
    std::string output;
};

ToolRun RunTool(const std::string& args)
{
    const std::string command = std::string(CHECK_MAGNITUDE_ROOT_PATH) + " " + args + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return ToolRun{-1, std::string()};
    }
    std::string output;
    char buffer[512];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, n);
    }
    const int status = pclose(pipe);
    return ToolRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

TEST(MagnitudeRoot, ToolChecksASampleAndRefusesBadArguments)
{
    const ToolRun sample = RunTool("--sample 100000");
    EXPECT_EQ(sample.status, 0) << sample.output;
    EXPECT_NE(sample.output.find("100000 floats checked"), std::string::npos) << sample.output;
    EXPECT_NE(sample.output.find("agree on every one"), std::string::npos) << sample.output;

    const ToolRun help = RunTool("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("Usage: check_magnitude_root"), std::string::npos);

    for (const char* bad : {"--sample 1", "--sample", "--sample x", "--sample -5", "--sample 5x", "extra"}) {
        const ToolRun run = RunTool(bad);
        EXPECT_EQ(run.status, 2) << bad << ": " << run.output;
        EXPECT_NE(run.output.find("Usage:"), std::string::npos) << bad;
    }
}

}  // namespace
