// The workbench's inputs: parameters by name, configurations from TOML and
// settings, labels from manifests and file names, requirements.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>

#include "config.h"
#include "labels.h"
#include "load_inputs.h"
#include "params.h"
#include "require.h"
#include "test_support.h"

namespace {

TEST(Params, TableCoversEveryFieldInOrder)
{
    // Each entry addresses its own field: setting it through the table
    // moves exactly one int32 of the record, the next one each time.
    for (int i = 0; i < kTumblewatchParamCount; ++i) {
        TumblewatchConfig cfg{};
        TumblewatchParamSet(&cfg, i, 12345);
        const auto* words = reinterpret_cast<const int32_t*>(&cfg);
        for (int k = 0; k < kTumblewatchParamCount; ++k) {
            EXPECT_EQ(words[k], k == i ? 12345 : 0) << TumblewatchParams()[i].name;
        }
        EXPECT_EQ(TumblewatchParamIndex(TumblewatchParams()[i].name), i);
    }
    EXPECT_EQ(TumblewatchParamIndex("fallwindow"), -1);

    std::set<int> unread;
    for (int i = 0; i < kTumblewatchParamCount; ++i) {
        if (!TumblewatchParams()[i].read) {
            unread.insert(i);
            EXPECT_STREQ(TumblewatchParams()[i].unit, "-");
        }
    }
    EXPECT_EQ(unread, (std::set<int>{7, 9, 10, 13, 14, 15, 16, 23, 24, 34}));
}

TEST(Params, CheckNamesWhatTheSetUpRefuses)
{
    TumblewatchConfig cfg;
    TumblewatchDefault(&cfg);
    int index = -1;
    EXPECT_EQ(TumblewatchCheck(&cfg, &index), nullptr);
    for (const int32_t window : {0, 64, -5}) {
        cfg.fallWindow = window;
        EXPECT_NE(TumblewatchCheck(&cfg, &index), nullptr);
        EXPECT_STREQ(TumblewatchParams()[index].name, "fallWindow");
    }
    cfg.fallWindow = 63;
    cfg.tiltLimit = 15;
    EXPECT_NE(TumblewatchCheck(&cfg, &index), nullptr);
    EXPECT_STREQ(TumblewatchParams()[index].name, "tiltLimit");
}

TEST(Config, Int32ParsingIsStrict)
{
    int32_t v = 0;
    EXPECT_TRUE(ConfigParseInt32("2147483647", &v));
    EXPECT_EQ(v, 2147483647);
    EXPECT_TRUE(ConfigParseInt32("-2147483648", &v));
    EXPECT_EQ(v, INT32_MIN);
    EXPECT_TRUE(ConfigParseInt32("+7", &v));
    EXPECT_EQ(v, 7);
    for (const char* bad : {"2147483648", "-2147483649", "", "-", "1.5", "1e3", " 7", "7 ", "0x10", "ten"}) {
        EXPECT_FALSE(ConfigParseInt32(bad, &v)) << bad;
    }
}

// The message of a configuration that is refused.
std::string Refusal(const ConfigSource& source)
{
    TumblewatchConfig cfg;
    std::string error;
    EXPECT_FALSE(ConfigBuild(source, &cfg, &error));
    return error;
}

TEST(Config, SettingsApplyAfterTheFile)
{
    TempDir dir;
    WriteFile(dir / "c.toml", "# tuned\nfallWindow = 10\nimpactSoftSum = -3\n");
    TumblewatchConfig cfg;
    std::string error;
    ASSERT_TRUE(ConfigBuild(ConfigSource{dir / "c.toml", {"fallWindow=12", "repeatPeak=350"}}, &cfg, &error)) << error;
    EXPECT_EQ(cfg.fallWindow, 12);
    EXPECT_EQ(cfg.impactSoftSum, -3);
    EXPECT_EQ(cfg.repeatPeak, 350);
    EXPECT_EQ(cfg.tiltLimit, 35);
    EXPECT_EQ(ConfigChanges(cfg), (std::vector<std::string>{"fallWindow=12", "impactSoftSum=-3", "repeatPeak=350"}));

    // The whole configuration written as TOML reads back the same.
    WriteFile(dir / "all.toml", ConfigToToml(cfg, "best of a sweep\nsecond line"));
    TumblewatchConfig again;
    ASSERT_TRUE(ConfigBuild(ConfigSource{dir / "all.toml", {}}, &again, &error)) << error;
    EXPECT_EQ(std::memcmp(&cfg, &again, sizeof cfg), 0);
}

TEST(Config, EveryProblemNamesTheParameter)
{
    EXPECT_EQ(Refusal({"", {"fallWindo=3"}}),
              "--set fallWindo=3: unknown parameter 'fallWindo' (did you mean fallWindow?)");
    EXPECT_EQ(Refusal({"", {"fallWindow=3.5"}}), "--set fallWindow=3.5: fallWindow: '3.5' is not a 32-bit integer");
    EXPECT_EQ(Refusal({"", {"fallWindow=4294967296"}}),
              "--set fallWindow=4294967296: fallWindow: '4294967296' is not a 32-bit integer");
    EXPECT_EQ(Refusal({"", {"fallWindow=3", "fallWindow=4"}}), "--set fallWindow=4: fallWindow is set twice");
    EXPECT_EQ(Refusal({"", {"fallWindow"}}), "--set fallWindow: expected NAME=VALUE");
    EXPECT_EQ(Refusal({"", {"fallWindow=64"}}), "fallWindow = 64: the detector refuses it: must lie in 1..63");
    EXPECT_EQ(Refusal({"", {"tiltLimit=15"}}),
              "tiltLimit = 15: the detector refuses it: must not be 15 (tiltLimit - 15 is a divisor)");

    TempDir dir;
    WriteFile(dir / "syntax.toml", "fallWindow = 10\nquietMagnitude = = 3\n");
    EXPECT_EQ(Refusal({dir / "syntax.toml", {}}).rfind(dir / "syntax.toml" + ", line 2: ", 0), 0u);
    WriteFile(dir / "twice.toml", "fallWindow = 10\nfallWindow = 11\n");
    EXPECT_NE(Refusal({dir / "twice.toml", {}}).find(", line 2: "), std::string::npos);
    WriteFile(dir / "float.toml", "fallWindow = 10\nrepeatPeak = 4.5\n");
    EXPECT_EQ(Refusal({dir / "float.toml", {}}),
              dir / "float.toml" + ", line 2: repeatPeak: the value is not a 32-bit integer");
    WriteFile(dir / "big.toml", "repeatPeak = 3000000000\n");
    EXPECT_EQ(Refusal({dir / "big.toml", {}}),
              dir / "big.toml" + ", line 1: repeatPeak: the value is not a 32-bit integer");
    WriteFile(dir / "unknown.toml", "\n[detector]\nfallWindow = 3\n");
    EXPECT_EQ(Refusal({dir / "unknown.toml", {}}),
              dir / "unknown.toml" + ", line 2: unknown parameter 'detector' (tumblewatch params lists them)");
    EXPECT_NE(Refusal({dir / "missing.toml", {}}).find("missing.toml"), std::string::npos);
}

TEST(Labels, FromTheFileName)
{
    struct Case {
        const char* path;
        Label label;
        const char* activity;
        const char* subject;
    };
    const Case cases[] = {
        {"data/fall_forward_slip_sa01_r1.bin", Label::Fall, "forward_slip", "sa01"},
        {"adl_walking_s03_r1.csv", Label::Adl, "walking", "s03"},
        {"x/adl_car_step_in_s10_r1.bin", Label::Adl, "car_step_in", "s10"},
        {"F05_SA01_R01.bin", Label::Fall, "F05", "SA01"},
        {"D17_SE06_R01.csv", Label::Adl, "D17", "SE06"},
        {"fall_forward.bin", Label::Fall, "forward", ""},
        {"adl_walk_s2.bin", Label::Adl, "walk", "s2"},
        {"double_fall.bin", Label::None, "", ""},
        {"falling_s01_r1.bin", Label::None, "", ""},
    };
    for (const Case& c : cases) {
        const RecordingLabels l = LabelsFromName(c.path);
        EXPECT_EQ(l.label, c.label) << c.path;
        EXPECT_EQ(l.activity, c.activity) << c.path;
        EXPECT_EQ(l.subject, c.subject) << c.path;
        EXPECT_EQ(l.impactSample, -1) << c.path;
    }
}

TEST(Labels, ManifestLinesAreCheckedOneByOne)
{
    TempDir dir;
    WriteDataSet(dir / "a.bin", {kUpright});
    WriteDataSet(dir / "b, c.bin", {kUpright});
    WriteFile(dir / "m.csv",
              "# labels\nsubject,path,label,impact_sample\n"
              "s1,a.bin,fall,120\n\n\"s2\",\"b, c.bin\",,\n");
    Manifest m;
    std::string error;
    ASSERT_TRUE(ManifestRead(dir / "m.csv", &m, &error)) << error;
    ASSERT_EQ(m.files.size(), 2u);
    const RecordingLabels& a = m.entries.at(ManifestKey(dir / "a.bin"));
    EXPECT_EQ(a.label, Label::Fall);
    EXPECT_EQ(a.subject, "s1");
    EXPECT_EQ(a.impactSample, 120);
    const RecordingLabels& b = m.entries.at(ManifestKey(dir / "sub/../b, c.bin"));
    EXPECT_EQ(b.label, Label::None);
    EXPECT_EQ(b.impactSample, -1);

    const std::pair<const char*, const char*> bad[] = {
        {"path,label\na.bin,fall,extra\n", "line 2: 3 fields where the header names 2"},
        {"path,label\na.bin,Fall\n", "line 2: label 'Fall' is neither fall nor adl"},
        {"path,label\n\nmissing.bin,adl\n", "line 3: recording "},
        {"path,label,impact_sample\na.bin,fall,-4\n", "line 2: impact_sample '-4' is not a sample number"},
        {"path,label,impact\n", "line 1: unknown column 'impact'"},
        {"path,activity\n", "line 1: the header must name the columns path and label"},
        {"path,label\na.bin,fall\na.bin,fall\n", "line 3: recording a.bin is listed twice"},
        {"path,label\n\"a.bin,fall\n", "line 2: a quoted field is not closed"},
        {"# nothing\n", "no header line"},
    };
    for (const auto& [text, message] : bad) {
        WriteFile(dir / "bad.csv", text);
        EXPECT_FALSE(ManifestRead(dir / "bad.csv", &m, &error)) << text;
        EXPECT_NE(error.find(message), std::string::npos) << error;
    }
}

TEST(Labels, ManifestOfAnImportCarriesDescriptions)
{
    // The columns tumblewatch import writes: the description is kept, the
    // others are accepted and do not label.
    TempDir dir;
    WriteDataSet(dir / "fall_forward_slip_sa01_r1.bin", {kUpright});
    WriteFile(dir / "manifest.csv",
              "path,label,activity,subject,trial,dataset,source,samples,description\n"
              "fall_forward_slip_sa01_r1.bin,fall,F01,sa01,1,sisfall,SA01/F01_SA01_R01.txt,1,"
              "\"fall forward while walking, caused by a slip\"\n");
    Manifest m;
    std::string error;
    ASSERT_TRUE(ManifestRead(dir / "manifest.csv", &m, &error)) << error;
    const RecordingLabels& l = m.entries.at(ManifestKey(dir / "fall_forward_slip_sa01_r1.bin"));
    EXPECT_EQ(l.label, Label::Fall);
    EXPECT_EQ(l.activity, "F01");
    EXPECT_EQ(l.subject, "sa01");
    EXPECT_EQ(l.description, "fall forward while walking, caused by a slip");
    EXPECT_EQ(l.impactSample, -1);
    WriteFile(dir / "bad.csv", "path,label,trials\n");
    EXPECT_FALSE(ManifestRead(dir / "bad.csv", &m, &error));
    EXPECT_NE(error.find("unknown column 'trials'"), std::string::npos) << error;
}

TEST(Labels, ManifestAmongItsRecordingsIsNoRecording)
{
    // A manifest named like a CSV recording, in the folder it describes:
    // with --labels it is the manifest, whether the folder or only the
    // manifest names the recordings.
    TempDir dir;
    WriteDataSet(dir / "fall_x_s1_r1.bin", {kUpright});
    WriteDataSet(dir / "adl_y_s2_r1.bin", {kUpright});
    WriteFile(dir / "manifest.csv", "path,label\nfall_x_s1_r1.bin,fall\nadl_y_s2_r1.bin,adl\n");
    for (const bool byFolder : {true, false}) {
        InputOptions options;
        if (byFolder) {
            options.paths = {dir.path()};
        }
        options.labels = dir / "manifest.csv";
        TumblewatchConfig config;
        Manifest manifest;
        InputSet inputs{};
        std::string error;
        ASSERT_TRUE(InputsLoad(options, &config, &manifest, &inputs, &error)) << error;
        ASSERT_EQ(inputs.recordings.size(), 2u) << byFolder;
        for (const InputRecording& in : inputs.recordings) {
            EXPECT_EQ(in.path.find("manifest.csv"), std::string::npos);
        }
    }
    // Without --labels it is still no recording: its header names path and
    // label, so the search passes it over and says so.
    InputOptions options;
    options.paths = {dir.path()};
    TumblewatchConfig config;
    Manifest manifest;
    InputSet inputs{};
    std::string error;
    ASSERT_TRUE(InputsLoad(options, &config, &manifest, &inputs, &error)) << error;
    EXPECT_EQ(inputs.recordings.size(), 2u);
    ASSERT_EQ(inputs.skipped.size(), 1u);
    EXPECT_EQ(inputs.skipped[0].path, dir / "manifest.csv");
    EXPECT_FALSE(inputs.skipped[0].failed);
}

TEST(Require, ParsedAndChecked)
{
    Requirement r;
    std::string error;
    ASSERT_TRUE(RequireParse(" sensitivity >= 0.9 ", &r, &error)) << error;
    EXPECT_EQ(r.metric, "sensitivity");
    EXPECT_EQ(r.op, ">=");
    Metrics m{};
    m.sensitivity = 0.9;
    double value = 0.0;
    EXPECT_TRUE(RequireMet(r, m, &value));
    m.sensitivity = 0.89;
    EXPECT_FALSE(RequireMet(r, m, &value));
    m.sensitivity = std::nan("");
    EXPECT_FALSE(RequireMet(r, m, &value));  // undefined meets nothing

    ASSERT_TRUE(RequireParse("fp==0", &r, &error));
    EXPECT_TRUE(RequireMet(r, Metrics{}, &value));
    EXPECT_FALSE(RequireParse("sensitivty>=0.9", &r, &error));
    EXPECT_NE(error.find("unknown metric 'sensitivty'"), std::string::npos);
    EXPECT_FALSE(RequireParse("f1=>0.5", &r, &error));
    EXPECT_FALSE(RequireParse("f1>=", &r, &error));
    EXPECT_FALSE(RequireParse("f1 0.5", &r, &error));
}

}  // namespace
