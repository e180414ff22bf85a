// The arithmetic and the line parsers of the importers: counts, axis maps,
// resampling, and what each dataset's lines may hold.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "import.h"
#include "import_datasets.h"
#include "import_text.h"

namespace {

std::string Reason(ImportLineKind kind, const std::string& reason)
{
    return kind == ImportLineKind::Bad ? reason : std::string("(not bad)");
}

}  // namespace

TEST(ImportCounts, RoundHalfAwayFromZeroAndCountClipping)
{
    int64_t clipped = 0;
    EXPECT_EQ(ImportCount(1.5 / 8192, 8192, &clipped), 2);
    EXPECT_EQ(ImportCount(-1.5 / 8192, 8192, &clipped), -2);
    EXPECT_EQ(ImportCount(2.5 / 8192, 8192, &clipped), 3);  // not to even
    EXPECT_EQ(ImportCount(-0.5 / 8192, 8192, &clipped), -1);
    EXPECT_EQ(ImportCount(1.49 / 8192, 8192, &clipped), 1);
    EXPECT_EQ(ImportCount(-4.0, 8192, &clipped), -32768);  // the limit itself is not clipped
    EXPECT_EQ(clipped, 0);
    EXPECT_EQ(ImportCount(4.0, 8192, &clipped), 32767);
    EXPECT_EQ(ImportCount(-4.1, 8192, &clipped), -32768);
    EXPECT_EQ(ImportCount(1e300, 65.536, &clipped), 32767);
    EXPECT_EQ(clipped, 3);
}

TEST(ImportAxes, OnlyProperRotationsAreMaps)
{
    ImportAxes a{};
    std::string error;
    for (const char* text : {"x,y,z", "y,-x,z", "-x,-y,z", "z,x,y", "-y,x,z", "+x,-z,y"}) {
        EXPECT_TRUE(ImportAxesParse(text, &a, &error)) << text << ": " << error;
    }
    ASSERT_TRUE(ImportAxesParse("y,-x,z", &a, &error));
    EXPECT_EQ(ImportAxesText(a), "y,-x,z");
    const ImportVec3 v = ImportAxesApply(a, ImportVec3{1.0, 2.0, 3.0});
    EXPECT_EQ(v.x, 2.0);
    EXPECT_EQ(v.y, -1.0);
    EXPECT_EQ(v.z, 3.0);
    for (const char* text :
         {"y,x,z", "-x,y,z", "-x,-y,-z", "x,x,z", "x,y", "x,y,z,", "a,b,c", "", "x,y,w", "--x,y,z"}) {
        EXPECT_FALSE(ImportAxesParse(text, &a, &error)) << text;
    }
    EXPECT_FALSE(ImportAxesParse("x,z,y", &a, &error));
    EXPECT_NE(error.find("determinant is -1"), std::string::npos) << error;
}

TEST(ImportResampling, BlockMeansDropTheTrailingPartBlock)
{
    std::vector<ImportSample> in;
    for (int i = 0; i < 9; ++i) {
        in.push_back(ImportSample{{static_cast<double>(i), 0, 0}, {0, 0, -static_cast<double>(i)}});
    }
    const std::vector<ImportSample> out = ImportBlockMeans(in, 4);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].acc.x, 1.5);
    EXPECT_EQ(out[1].acc.x, 5.5);
    EXPECT_EQ(out[1].gyro.z, -5.5);
    EXPECT_TRUE(ImportBlockMeans(std::vector<ImportSample>(3), 4).empty());
}

TEST(ImportResampling, TimedStreamsMeanOrInterpolateOnTheCommonGrid)
{
    // A 200 Hz stream (ratio 4: block means), its times half a period away
    // from the block bounds, and a 20 Hz one (interpolated).
    std::vector<ImportTimed> fast;
    for (int i = 0; i <= 400; ++i) {
        fast.push_back(ImportTimed{10.0025 + i * 0.005, {static_cast<double>(i), 0, 0}});
    }
    std::vector<ImportTimed> slow;
    for (int i = 0; i <= 40; ++i) {
        slow.push_back(ImportTimed{10.1 + i * 0.05, {static_cast<double>(i), 0, 0}});
    }
    const ImportStreamPlan fastPlan = ImportPlanStream(fast);
    const ImportStreamPlan slowPlan = ImportPlanStream(slow);
    EXPECT_EQ(fastPlan.ratio, 4);
    EXPECT_EQ(slowPlan.ratio, 0);
    EXPECT_EQ(ImportStreamPlanText(fastPlan), "block mean (200.0 Hz, ratio 4)");
    EXPECT_EQ(ImportStreamPlanText(slowPlan), "linear interpolation (20.0 Hz)");

    ImportGrid grid{};
    std::string error;
    ASSERT_TRUE(ImportGridOf(fast, slow, &grid, &error)) << error;
    EXPECT_EQ(grid.start, 10.1);  // the later first time
    EXPECT_EQ(grid.count, 95);    // (12.0025 - 10.1) * 50, to the earlier last time
    std::vector<ImportVec3> f;
    std::vector<ImportVec3> s;
    ImportResample(fast, fastPlan, grid, &f);
    ImportResample(slow, slowPlan, grid, &s);
    ASSERT_EQ(f.size(), 95u);
    // Block 0 is [10.10, 10.12): samples 20..23 of the fast stream, the
    // centre 10.11.
    EXPECT_NEAR(f[0].x, 21.5, 1e-9);
    // Centre of block 0 is 10.11: 0.2 of the way from the slow sample 0 to 1.
    EXPECT_NEAR(s[0].x, 0.2, 1e-9);
    EXPECT_NEAR(s[94].x, 37.8, 1e-9);

    // An irregular 95 Hz stream is no block-mean ratio; 196 Hz is (within 2 %).
    std::vector<ImportTimed> odd{{0.0, {}}, {1.0 / 95, {}}, {2.0 / 95, {}}};
    EXPECT_EQ(ImportPlanStream(odd).ratio, 0);
    std::vector<ImportTimed> near{{0.0, {}}, {1.0 / 196, {}}, {2.0 / 196, {}}};
    EXPECT_EQ(ImportPlanStream(near).ratio, 4);
}

// Found by the mobifall_line fuzz target: times 1e-70 s apart gave a rate
// whose multiple of 50 Hz no int holds, and converting it was undefined.
TEST(ImportResampling, RateBeyondEveryIntMultipleIsInterpolated)
{
    std::vector<ImportTimed> hair{{0.0, {}}, {1e-70, {}}, {2e-70, {}}};
    EXPECT_EQ(ImportPlanStream(hair).ratio, 0);
    std::vector<ImportTimed> fastest{{0.0, {}}, {1.0 / (50.0 * 2e9), {}}, {2.0 / (50.0 * 2e9), {}}};
    EXPECT_EQ(ImportPlanStream(fastest).ratio, 2000000000);
}

TEST(ImportResampling, RepeatedTimesAreDroppedAndDisjointStreamsRefused)
{
    std::vector<ImportTimed> s{{1.0, {1, 0, 0}}, {1.0, {9, 0, 0}}, {0.5, {9, 0, 0}}, {1.5, {2, 0, 0}}};
    ImportKeepIncreasing(&s);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[1].v.x, 2.0);

    ImportGrid grid{};
    std::string error;
    const std::vector<ImportTimed> early{{0.0, {}}, {1.0, {}}};
    const std::vector<ImportTimed> late{{2.0, {}}, {3.0, {}}};
    EXPECT_FALSE(ImportGridOf(early, late, &grid, &error));
    EXPECT_NE(error.find("do not overlap"), std::string::npos) << error;
    const std::vector<ImportTimed> brief{{0.99, {}}, {1.005, {}}};
    EXPECT_FALSE(ImportGridOf(early, brief, &grid, &error));  // 10 ms: less than one sample
    const std::vector<ImportTimed> years{{0.0, {}}, {1e9, {}}};
    EXPECT_FALSE(ImportGridOf(years, years, &grid, &error));
    EXPECT_NE(error.find("more than"), std::string::npos) << error;
    // Three samples over a minute: a jump in the time stamps, not 3,000 samples to make up.
    const std::vector<ImportTimed> jump{{0.0, {}}, {0.5, {}}, {60.0, {}}};
    EXPECT_FALSE(ImportGridOf(jump, jump, &grid, &error));
    EXPECT_NE(error.find("the time stamps jump"), std::string::npos) << error;
    const std::vector<ImportTimed> slow{{0.0, {}}, {1.0, {}}, {2.0, {}}};  // 1 Hz is still taken
    EXPECT_TRUE(ImportGridOf(slow, slow, &grid, &error)) << error;
}

TEST(ImportNumbers, IntegersAndDecimalsAreReadExactlyOrRefused)
{
    int64_t i = 0;
    std::string reason;
    EXPECT_TRUE(ImportParseInt("  -257 ", -32768, 32767, &i, &reason));
    EXPECT_EQ(i, -257);
    EXPECT_TRUE(ImportParseInt("+9223372036854775807", INT64_MIN, INT64_MAX, &i, &reason));
    EXPECT_TRUE(ImportParseInt("-9223372036854775808", INT64_MIN, INT64_MAX, &i, &reason));
    EXPECT_EQ(i, INT64_MIN);
    EXPECT_FALSE(ImportParseInt("9223372036854775808", INT64_MIN, INT64_MAX, &i, &reason));
    EXPECT_FALSE(ImportParseInt("32768", -32768, 32767, &i, &reason));
    EXPECT_EQ(reason, "out of range: '32768'");
    for (const char* bad : {"", " ", "-", "1.5", "12a", "0x10", "1 2"}) {
        EXPECT_FALSE(ImportParseInt(bad, INT64_MIN, INT64_MAX, &i, &reason)) << bad;
    }

    double d = 0;
    EXPECT_TRUE(ImportParseNumber(" 0.90021986", &d, &reason));
    EXPECT_EQ(d, 0.90021986);
    EXPECT_TRUE(ImportParseNumber("+1.5e-3\r", &d, &reason));
    EXPECT_EQ(d, 1.5e-3);
    EXPECT_TRUE(ImportParseNumber("-.5", &d, &reason));
    EXPECT_EQ(d, -0.5);
    EXPECT_TRUE(ImportParseNumber("1e-400", &d, &reason));  // underflows to zero, as strtod reads it
    EXPECT_EQ(d, 0.0);
    EXPECT_FALSE(ImportParseNumber("1e400", &d, &reason));
    EXPECT_EQ(reason, "out of range: '1e400'");
    for (const char* bad : {"", "inf", "nan", "0x1p3", "1,5", "--1", "+-1", "1e", "."}) {
        EXPECT_FALSE(ImportParseNumber(bad, &d, &reason)) << bad;
    }
}

TEST(ImportLines, LinesOfAnySizeUpToTheLimitAndNoFurther)
{
    const std::string text = std::string("\xEF\xBB\xBF") + "a\r\n\nlast";
    ImportLines lines(text.data(), text.size());
    std::string_view line;
    ASSERT_TRUE(lines.Next(&line));
    EXPECT_EQ(line, "a\r");
    ASSERT_TRUE(lines.Next(&line));
    EXPECT_EQ(line, "");
    ASSERT_TRUE(lines.Next(&line));
    EXPECT_EQ(line, "last");
    EXPECT_EQ(lines.number(), 3);
    EXPECT_FALSE(lines.Next(&line));
    EXPECT_TRUE(lines.failure().empty());

    // From a file read in blocks: a line of exactly the limit passes, one
    // byte more stops the reading with the line's number.
    for (const std::size_t length : {kImportMaxLineBytes, kImportMaxLineBytes + 1}) {
        const std::string big = "1\n" + std::string(length, 'x') + "\n2\n";
        FILE* f = fmemopen(const_cast<char*>(big.data()), big.size(), "r");
        ASSERT_NE(f, nullptr);
        ImportLines fromFile(f);
        int count = 0;
        while (fromFile.Next(&line)) {
            ++count;
        }
        std::fclose(f);
        if (length == kImportMaxLineBytes) {
            EXPECT_EQ(count, 3);
            EXPECT_TRUE(fromFile.failure().empty());
        } else {
            EXPECT_EQ(count, 1);
            EXPECT_EQ(fromFile.failureLine(), 2);
            EXPECT_NE(fromFile.failure().find("longer than"), std::string::npos);
        }
    }
}

TEST(ImportLineParsers, SisFallLines)
{
    ImportSisFallRow row{};
    std::string reason;
    ASSERT_EQ(ImportParseSisFallLine("  -9, -257,  -25,   84,  247,   27, -120, -987,   63;\r", &row, &reason),
              ImportLineKind::Data);
    EXPECT_EQ(row.counts[0], -9);
    EXPECT_EQ(row.counts[8], 63);
    EXPECT_EQ(ImportParseSisFallLine("1,2,3,4,5,6,7,8,9", &row, &reason), ImportLineKind::Data);  // no ';', LF
    EXPECT_EQ(ImportParseSisFallLine(" \r", &row, &reason), ImportLineKind::Other);
    EXPECT_EQ(Reason(ImportParseSisFallLine("1,2,3,4,5,6,7,8;", &row, &reason), reason),
              "8 fields where 9 are expected");
    EXPECT_EQ(Reason(ImportParseSisFallLine("1,2,3,4,5,6,7,8,9,10;", &row, &reason), reason),
              "10 fields where 9 are expected");
    EXPECT_EQ(Reason(ImportParseSisFallLine("1,2,x3,4,5,6,7,8,9;", &row, &reason), reason),
              "field 3 not an integer: 'x3'");
    EXPECT_EQ(Reason(ImportParseSisFallLine("1,2,3,4,5,99999,7,8,9;", &row, &reason), reason),
              "field 6 out of range: '99999'");
    EXPECT_EQ(Reason(ImportParseSisFallLine(std::string_view("1,2,3\0,4,5,6,7,8,9;", 19), &row, &reason), reason),
              "a zero byte (NUL) in the line");
}

TEST(ImportLineParsers, MobiFallUmaFallAndCsvLines)
{
    ImportTimedRow timed{};
    std::string reason;
    ASSERT_EQ(ImportParseMobiFallLine("1913880219000, 0.90021986, -9.557653, -1.4939818\r", &timed, &reason),
              ImportLineKind::Data);
    EXPECT_EQ(timed.time, 1913880219000.0);
    EXPECT_EQ(timed.v.y, -9.557653);
    EXPECT_EQ(Reason(ImportParseMobiFallLine("1913880219000, 0.9, -9.5", &timed, &reason), reason),
              "3 fields where 4 are expected (timestamp_ns,x,y,z)");
    EXPECT_EQ(Reason(ImportParseMobiFallLine("-5, 1, 2, 3", &timed, &reason), reason),
              "field 1 out of range: a negative time stamp");

    ImportUmaFallRow uma{};
    ASSERT_EQ(ImportParseUmaFallLine("109;0;0.981201171875;0.09423828125;0.263671875;0;2", &uma, &reason),
              ImportLineKind::Data);
    EXPECT_EQ(uma.time, 109.0);
    EXPECT_EQ(uma.sensor, 2);
    EXPECT_EQ(uma.type, 0);
    EXPECT_EQ(ImportParseUmaFallLine("% TimeStamp; Sample No; X-Axis;", &uma, &reason), ImportLineKind::Other);
    EXPECT_EQ(Reason(ImportParseUmaFallLine("109;0;0.98;0.09;0.26;zero;2", &uma, &reason), reason),
              "field 6 not an integer: 'zero'");
    int64_t waist = 0;
    EXPECT_TRUE(ImportUmaFallWaist("%C4:BE:84:71:A5:02; 2; WAIST; SensorTag      ", &waist));
    EXPECT_EQ(waist, 2);
    EXPECT_FALSE(ImportUmaFallWaist("%C4:BE:84:70:64:8A; 1; CHEST; SensorTag", &waist));
    EXPECT_FALSE(ImportUmaFallWaist("% MAC Address; Sensor_ID; Position; Device Model", &waist));

    ImportCsvSettings csv = ImportCsvDefaults();
    std::string error;
    ASSERT_TRUE(ImportParseColumns("t=1,ax=3,ay=4,az=5,gx=6,gy=7,gz=8", &csv, &error)) << error;
    csv.delimiter = ';';
    ImportCsvRow row{};
    ASSERT_EQ(ImportParseCsvLine("0.01;7;1;2;3;4;5;6;extra;", csv, &row, &reason), ImportLineKind::Data);
    EXPECT_EQ(row.values[kImportT], 0.01);
    EXPECT_EQ(row.values[kImportGz], 6.0);
    EXPECT_EQ(Reason(ImportParseCsvLine("0.01;7;1;2;3;4;5", csv, &row, &reason), reason),
              "7 fields where at least 8 are expected");
    EXPECT_EQ(Reason(ImportParseCsvLine("0.01;7;1;2;3;4;5;six", csv, &row, &reason), reason),
              "field 8 (gz) not a number: 'six'");
    for (const char* bad :
         {"ax=1,ay=2,az=3,gx=4,gy=5", "ax=1,ay=2,az=3,gx=4,gy=5,gz=6,ax=7", "ax=0,ay=2,az=3,gx=4,gy=5,gz=6",
          "x=1,ay=2,az=3,gx=4,gy=5,gz=6", "ax=1,ay=2,az=3,gx=4,gy=5,gz="}) {
        EXPECT_FALSE(ImportParseColumns(bad, &csv, &error)) << bad;
    }
    EXPECT_TRUE(ImportParseAccelUnit("counts:4096", &csv, &error));
    EXPECT_EQ(csv.accelCountsPerG, 4096.0);
    EXPECT_FALSE(ImportParseAccelUnit("counts:0", &csv, &error));
    EXPECT_FALSE(ImportParseGyroUnit("deg/s", &csv, &error));
    EXPECT_FALSE(ImportParseTimeUnit("min", &csv, &error));
}

TEST(ImportNames, NamesFollowTheWorkbenchNameRules)
{
    EXPECT_EQ(ImportTrialName("fall", "forward_slip", "sa01", "1"), "fall_forward_slip_sa01_r1");
    EXPECT_EQ(ImportTrialName("adl", "Walking Fast!", "", ""), "adl_walking_fast");
    EXPECT_EQ(ImportTrialName("", "", "s06", "2"), "unlabelled_recording_s06_r2");
    EXPECT_EQ(ImportWords("Sitting_GettingUpOnAChair"), "sitting getting up on a chair");
    EXPECT_EQ(ImportNumberText("007"), "7");
    EXPECT_EQ(ImportNumberText("000"), "0");
}
