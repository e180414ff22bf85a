// The readers over bytes in memory (what the fuzz targets use) against the
// same readers over a file with those bytes: the same acceptance, the same
// reasons, the same samples, text and lines. And a refused input leaves
// what the caller passed in as it was: configurations, grids, ranges,
// manifests and the state of a resumed sweep.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../fuzz/sweep_fixture.h"
#include "config.h"
#include "dataset.h"
#include "file_rules.h"
#include "labels.h"
#include "recording_reader.h"
#include "sweep_output.h"
#include "sweep_space.h"
#include "test_support.h"

namespace {

const unsigned char* Bytes(const std::string& s)
{
    return reinterpret_cast<const unsigned char*>(s.data());
}

bool SameSamples(const std::vector<ImuSample>& a, const std::vector<ImuSample>& b)
{
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof a[0]) == 0);
}

// The samples of bytes read from memory; false with the reason on refusal.
bool FromMemory(const std::string& bytes, RecordingFormat format, bool micom, std::vector<ImuSample>* samples,
                std::string* reason)
{
    RecordingReader reader{};
    if (RecordingOpenMemory(&reader, Bytes(bytes), bytes.size(), format, micom, reason) != 0) {
        return false;
    }
    const bool read = RecordingReadAll(&reader, samples, reason) == 0;
    RecordingClose(&reader);
    return read;
}

std::vector<ImuSample> Ramp(int n)
{
    std::vector<ImuSample> samples;
    for (int i = 0; i < n; ++i) {
        const auto v = static_cast<int16_t>(i * 997 - 30000);
        samples.push_back(ImuSample{v, static_cast<int16_t>(-v), 3, 4, static_cast<int16_t>(i), -6});
    }
    return samples;
}

}  // namespace

TEST(FromMemory, DataSetsReadAsFromTheirFile)
{
    TempDir dir;
    const std::string valid = DataSetBytes(Ramp(5000));  // more than one block of the reader
    std::string far = DataSetBytes(Ramp(2));
    const int32_t farPosition = 1 << 30;  // past the end (little-endian, as the header holds it)
    std::memcpy(&far[20], &farPosition, sizeof farPosition);
    const std::vector<std::pair<const char*, std::string>> images = {
        {"valid", valid},
        {"torn last record", valid.substr(0, valid.size() - 5)},
        {"gap before the records", DataSetBytes(Ramp(3), 40)},
        {"position past the end", far},
        {"negative position", DataSetBytes(Ramp(2), -12)},
        {"header cut short", valid.substr(0, 23)},
        {"empty", ""},
        {"wrong magic", "QX DataSet V1.0.1" + valid.substr(17)},
    };
    for (const auto& [what, bytes] : images) {
        SCOPED_TRACE(what);
        WriteFile(dir / "d.bin", bytes);
        std::vector<ImuSample> fromFile;
        std::vector<ImuSample> fromMemory;
        std::string fileReason;
        std::string memoryReason;
        const int file = RecordingLoad(dir / "d.bin", RecordingFormat::DataSet, false, &fromFile, &fileReason);
        const bool memory = FromMemory(bytes, RecordingFormat::DataSet, false, &fromMemory, &memoryReason);
        EXPECT_EQ(file == 0, memory);
        EXPECT_EQ(fileReason, memoryReason);
        EXPECT_TRUE(SameSamples(fromFile, fromMemory));
    }
    std::string reason;
    DataSet* none = DataSetOpenMemory(nullptr, 0, &reason);
    EXPECT_EQ(none, nullptr);
    EXPECT_FALSE(reason.empty());
}

TEST(FromMemory, CsvRecordingsReadAsFromTheirFile)
{
    TempDir dir;
    const std::string longLine(1500, '7');
    const std::vector<std::pair<const char*, std::string>> files = {
        {"default layout", CsvOf(Ramp(40))},
        {"offset rows", "h\nh\nh\nh\nh\nh\nh\n0,1,2,3,4,5,6\n-1,10,10,10,10,10,10\n1,1,2,3,4,5,6\n"},
        {"a line longer than a read", "row\n" + longLine + ",1,2,3,4,5,6\n3,1,2,3,4,5,6\n"},
        {"zero byte and CR-only ends", std::string("h\n0,1,2,3,") + '\0' + "4,5,6\r1,1,1,1,1,1,1\r\n2,2,2,2,2,2,2"},
        {"header only", "only a header\n"},
        {"empty", ""},
    };
    for (const auto& [what, bytes] : files) {
        for (const bool micom : {false, true}) {
            SCOPED_TRACE(std::string(what) + (micom ? ", micom" : ", default"));
            WriteFile(dir / "r.csv", bytes);
            std::vector<ImuSample> fromFile;
            std::vector<ImuSample> fromMemory;
            std::string reason;
            ASSERT_EQ(RecordingLoad(dir / "r.csv", RecordingFormat::Csv, micom, &fromFile, &reason), 0) << reason;
            ASSERT_TRUE(FromMemory(bytes, RecordingFormat::Csv, micom, &fromMemory, &reason)) << reason;
            EXPECT_TRUE(SameSamples(fromFile, fromMemory));
        }
    }
}

TEST(FromMemory, TextHasTheLimitsOfAFile)
{
    TempDir dir;
    const std::vector<std::pair<const char*, std::string>> texts = {
        {"plain", "a = 1\nb = 2"},
        {"mark dropped",
         "\xef\xbb\xbf"
         "a = 1\n"},
        {"zero byte", std::string("a = ") + '\0'},
        {"line too long", std::string(kTextMaxLine + 1, 'x') + "\n"},
        {"longest line", std::string(kTextMaxLine, 'x')},
        {"empty", ""},
    };
    for (const auto& [what, bytes] : texts) {
        SCOPED_TRACE(what);
        WriteFile(dir / "t.txt", bytes);
        std::string fileText;
        std::string memoryText;
        std::string fileReason;
        std::string memoryReason;
        const bool file = FilesReadText(dir / "t.txt", &fileText, &fileReason);
        EXPECT_EQ(FilesTextFromMemory(bytes, &memoryText, &memoryReason), file);
        EXPECT_EQ(fileReason, memoryReason);
        if (file) {
            EXPECT_EQ(fileText, memoryText);
        }
    }
}

TEST(FromMemory, LinesComeAsFromTheirFile)
{
    TempDir dir;
    for (const std::string& bytes : {std::string("one\ntwo\r\nthree"), std::string("one\n\n"), std::string()}) {
        WriteFile(dir / "l.txt", bytes);
        FilesLineReader file{};
        FilesLineReader memory{};
        std::string reason;
        ASSERT_TRUE(FilesLinesOpen(&file, dir / "l.txt", &reason));
        ASSERT_TRUE(FilesLinesOpenMemory(&memory, bytes, &reason));
        for (;;) {
            const int a = FilesLinesNext(&file, &reason);
            const int b = FilesLinesNext(&memory, &reason);
            ASSERT_EQ(a, b);
            EXPECT_EQ(file.line, memory.line);
            EXPECT_EQ(file.complete, memory.complete);
            EXPECT_EQ(file.bytes, memory.bytes);
            if (a != 1) {
                break;
            }
        }
        FilesLinesClose(&file);
        FilesLinesClose(&memory);
    }
}

TEST(RefusedInput, LeavesTheConfigurationAsItWas)
{
    TempDir dir;
    TumblewatchConfig before;
    TumblewatchDefault(&before);
    TumblewatchConfig cfg = before;
    std::string error;
    // The good first line must not stay applied when a later one is refused.
    WriteFile(dir / "c.toml", "fallWindow = 30\nnoSuchParameter = 1\n");
    EXPECT_FALSE(ConfigApplyTomlFile(dir / "c.toml", &cfg, &error));
    EXPECT_EQ(std::memcmp(&cfg, &before, sizeof cfg), 0) << error;
    EXPECT_FALSE(ConfigApplyToml("fallWindow = 30\nquietMagnitude = 1.5\n", "c.toml", &cfg, &error));
    EXPECT_EQ(std::memcmp(&cfg, &before, sizeof cfg), 0) << error;
    EXPECT_FALSE(ConfigApplySettings({"fallWindow=30", "fallWindow=31"}, &cfg, &error));
    EXPECT_EQ(std::memcmp(&cfg, &before, sizeof cfg), 0) << error;
    EXPECT_FALSE(ConfigApplySettings({"fallWindow=30", "quietMagnitude=x"}, &cfg, &error));
    EXPECT_EQ(std::memcmp(&cfg, &before, sizeof cfg), 0) << error;
}

TEST(RefusedInput, LeavesTheGridAndRangeAsTheyWere)
{
    SweepGrid grid{3, {1, 2}};
    std::string error;
    EXPECT_FALSE(SweepParseGrid("fallWindow=1,2,x", &grid, &error));
    EXPECT_FALSE(SweepParseGrid("fallWindow=5:1:1", &grid, &error));
    EXPECT_EQ(grid.param, 3);
    EXPECT_EQ(grid.values, (std::vector<int32_t>{1, 2}));
    SweepRange range{3, 1, 2};
    EXPECT_FALSE(SweepParseRange("fallWindow=9:1", &range, &error));
    EXPECT_FALSE(SweepParseRange("fallWindow=1:x", &range, &error));
    EXPECT_EQ(range.param, 3);
    EXPECT_EQ(range.low, 1);
    EXPECT_EQ(range.high, 2);
}

TEST(RefusedInput, LeavesTheManifestAsItWas)
{
    TempDir dir;
    WriteFile(dir / "a.csv", "");
    WriteFile(dir / "good.manifest", "path,label\na.csv,fall\n");
    WriteFile(dir / "bad.manifest", "path,label\na.csv,adl\nmissing.csv,fall\n");
    Manifest manifest;
    std::string error;
    ASSERT_TRUE(ManifestRead(dir / "good.manifest", &manifest, &error)) << error;
    EXPECT_FALSE(ManifestRead(dir / "bad.manifest", &manifest, &error));
    EXPECT_EQ(manifest.path, dir / "good.manifest");
    ASSERT_EQ(manifest.files.size(), 1u);
    ASSERT_NE(ManifestFind(manifest, dir / "a.csv"), nullptr);
    EXPECT_EQ(ManifestFind(manifest, dir / "a.csv")->label, Label::Fall);
}

TEST(RefusedInput, LeavesTheResumeStateAsItWas)
{
    const SweepPlan plan = fuzz::SweepFixturePlan(0);
    const std::string whole = fuzz::SweepFixtureText(0, 6);
    SweepResumeState state{};
    std::string error;
    ASSERT_TRUE(SweepResumeReadText("s.csv", whole, plan, &state, &error)) << error;
    ASSERT_FALSE(state.rows.empty());
    const size_t rows = state.rows.size();
    // The same rows with the last one's configuration number changed: refused
    // after the earlier rows were taken.
    const size_t lastRow = whole.rfind('\n', whole.size() - 2) + 1;
    const std::string wrong = whole.substr(0, lastRow) + "9" + whole.substr(lastRow);
    EXPECT_FALSE(SweepResumeReadText("s.csv", wrong, plan, &state, &error));
    EXPECT_EQ(state.rows.size(), rows) << error;
    EXPECT_EQ(state.keep, whole.size());
    // A torn last line is no row: the complete lines are kept.
    SweepResumeState torn{};
    ASSERT_TRUE(SweepResumeReadText("s.csv", whole + "20,10,5", plan, &torn, &error)) << error;
    EXPECT_EQ(torn.rows.size(), rows);
    EXPECT_EQ(torn.keep, whole.size());
}

// Found by the sweep_resume fuzz target: a first line of the mark alone
// ("# tumblewatch sweep", without the identifier) threw out of the reader
// and ended the program.
TEST(SweepFile, TheMarkAloneIsNoSweepAndNoCrash)
{
    const SweepPlan plan = fuzz::SweepFixturePlan(0);
    for (const std::string& text :
         {std::string("# tumblewatch sweep\n3,10,44\n"), std::string("# tumblewatch sweep")}) {
        SweepLayout layout{};
        uint64_t keep = 0;
        std::string error;
        EXPECT_FALSE(SweepReadText(
            "s.csv", text, &layout, [](const SweepRecord&, std::string*) { return true; }, &keep, &error));
        SweepResumeState state{};
        EXPECT_FALSE(SweepResumeReadText("s.csv", text, plan, &state, &error));
        EXPECT_FALSE(error.empty());
    }
}

// Found by the values fuzz target: a name with a zero byte after a
// parameter's name set that parameter a second time, unnoticed.
TEST(RefusedInput, ANameWithAZeroByteNamesNoParameter)
{
    const std::string zeroed = std::string("fallWindow") + '\0';
    EXPECT_EQ(ConfigParamIndex(zeroed), -1);
    TumblewatchConfig cfg;
    TumblewatchDefault(&cfg);
    std::string error;
    EXPECT_FALSE(ConfigApplySettings({"fallWindow=30", zeroed + "=31"}, &cfg, &error));
    EXPECT_FALSE(ConfigApplyToml("fallWindow = 30\n\"fallWindow\\u0000\" = 31\n", "c.toml", &cfg, &error));
    SweepGrid grid{};
    EXPECT_FALSE(SweepParseGrid(zeroed + "=1,2", &grid, &error));
}
