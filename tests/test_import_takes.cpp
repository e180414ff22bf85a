// tumblewatch import on what the whole downloads hold: takes of one trial,
// duplicates and stray copies, rows of empty fields, SisFall's per-sample
// annotation; and the output folder claimed, interrupted imports, hostile
// names, regular expressions and rates.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "import.h"
#include "import_datasets.h"
#include "import_regex.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

ImportSettings Settings(ImportDataset dataset, const std::string& raw, const std::string& out)
{
    ImportSettings s{};
    s.dataset = dataset;
    s.rawDir = raw;
    s.outDir = out;
    s.format = ImportFormat::Bin;
    s.threads = 2;
    s.axesGiven = false;
    s.axes = ImportAxesIdentity();
    s.progress = false;
    s.csv = ImportCsvDefaults();
    return s;
}

void Write(const std::string& path, const std::string& text)
{
    fs::create_directories(fs::path(path).parent_path());
    WriteFile(path, text);
}

std::vector<std::string> Names(const std::string& folder)
{
    std::vector<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(folder)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// n SisFall lines whose first count is value.
std::string SisFall(int n, int value)
{
    std::string text;
    for (int i = 0; i < n; ++i) {
        char line[96];
        std::snprintf(line, sizeof line, "%5d, -256,    0,   %d,    0,    0,    0,    0,    0;\r\n", value, i);
        text += line;
    }
    return text;
}

// A UMAFall file with the waist sensor (ID 2) at 20 Hz; extra goes before
// the data lines.
std::string UmaFall(double x, const std::string& extra = "")
{
    std::string text = "% Universidad de Malaga\n% MAC Address; Sensor_ID; Position; Device Model ;;;;\n";
    text += "%C4:BE:84:71:A5:02;2; WAIST; SensorTag ;;;;\n" + extra;
    text += "% TimeStamp; Sample No; X-Axis; Y-Axis; Z-Axis; Sensor Type; Sensor ID;\n";
    for (int i = 0; i < 60; ++i) {
        for (int type = 0; type < 2; ++type) {
            char line[160];
            std::snprintf(line, sizeof line, "%d;%d;%.3f;0.5;0.25;%d;2\n", 100 + i * 50, i, x, type);
            text += line;
        }
    }
    return text;
}

// The manifest's rows as fields (quoted fields hold no line ends in these tests).
std::vector<std::vector<std::string>> Rows(const std::string& manifest)
{
    std::vector<std::vector<std::string>> rows;
    for (const std::string& line : SplitLines(ReadFile(manifest))) {
        std::vector<std::string> fields(1);
        bool quoted = false;
        for (std::size_t i = 0; i < line.size(); ++i) {
            const char c = line[i];
            if (c == '"' && quoted && i + 1 < line.size() && line[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = !quoted;
            } else if (c == ',' && !quoted) {
                fields.emplace_back();
            } else {
                fields.back() += c;
            }
        }
        rows.push_back(fields);
    }
    return rows;
}

std::string Column(const std::vector<std::vector<std::string>>& rows, std::size_t row, const std::string& name)
{
    for (std::size_t i = 0; i < rows[0].size(); ++i) {
        if (rows[0][i] == name) {
            return rows.at(row).at(i);
        }
    }
    ADD_FAILURE() << "no column " << name;
    return "";
}

BenchRun Tumblewatch(const std::string& cwd, const std::vector<std::string>& args)
{
    return RunProgram(TUMBLEWATCH_PATH, cwd, args, 60);
}

}  // namespace

TEST(ImportTakes, SharedQuirksGiveTheirExpectedRecordings)
{
    const std::string quirks = SHARED_DATA_DIR "/raw/quirks";
    if (!fs::is_directory(quirks + "/expected")) {
        GTEST_SKIP() << "no shared quirks at " << quirks << ": the whole downloads' quirks are not checked";
    }
    TempDir tmp;
    std::map<std::string, std::string> made;  // raw file name: recording made from it
    for (const auto& [name, dataset] : {std::pair<std::string, ImportDataset>{"sisfall", ImportDataset::SisFall},
                                        {"umafall", ImportDataset::UmaFall},
                                        {"mobifall", ImportDataset::MobiFall}}) {
        SCOPED_TRACE(name);
        ImportResult result;
        std::string error;
        const int status = ImportRun(Settings(dataset, quirks + "/" + name, tmp / name), &result, &error);
        for (const ImportRecording& r : result.recordings) {
            made[fs::path(r.sources[0]).stem().string()] = tmp / name + "/" + r.path;
        }
        if (dataset == ImportDataset::SisFall) {
            // The stray copy in SA15/ is passed over with a note; the subject's own files are imported.
            EXPECT_EQ(status, kImportDone) << error;
            ASSERT_EQ(result.notes.size(), 1u);
            EXPECT_EQ(result.notes[0].source, "SisFall_dataset/SA15/D17_SE15_R01.txt");
            EXPECT_NE(result.notes[0].reason.find("a stray copy"), std::string::npos) << result.notes[0].reason;
            ASSERT_EQ(result.recordings.size(), 2u);
        } else if (dataset == ImportDataset::UmaFall) {
            // Three takes of one trial by time stamp; three files without waist data, each for that reason.
            EXPECT_EQ(status, kImportSomeSkipped) << error;
            ASSERT_EQ(result.recordings.size(), 3u);
            EXPECT_EQ(result.recordings[0].path, "adl_opening_door_s01_r1.bin");
            EXPECT_EQ(result.recordings[1].path, "adl_opening_door_s01_r1_t2.bin");
            EXPECT_EQ(result.recordings[2].path, "adl_opening_door_s01_r1_t3.bin");
            for (int k = 0; k < 3; ++k) {
                EXPECT_EQ(result.recordings[k].take, k + 1);
                EXPECT_EQ(result.recordings[k].trial, "1");
            }
            ASSERT_EQ(result.skipped.size(), 3u);
            for (const ImportSkip& s : result.skipped) {
                EXPECT_EQ(s.line, 0) << s.source;
                EXPECT_NE(s.reason.find("the waist sensor (ID 2) has 0 accelerometer and 0 gyroscope samples"),
                          std::string::npos)
                    << s.source << ": " << s.reason;
            }
            const std::vector<std::vector<std::string>> rows = Rows(tmp / name + "/manifest.csv");
            ASSERT_EQ(rows.size(), 4u);
            EXPECT_EQ(Column(rows, 3, "take"), "3");
            EXPECT_EQ(Column(rows, 3, "trial"), "1");
        } else {
            // 866 intervals, the middle two 10.200 and 10.205 ms: their mean is within 2 % of 100 Hz.
            EXPECT_EQ(status, kImportDone) << error;
            ASSERT_EQ(result.recordings.size(), 1u);
            EXPECT_EQ(result.recordings[0].conversion.rfind("accel block mean (98.0 Hz, ratio 2)", 0), 0u)
                << result.recordings[0].conversion;
        }
    }
    for (const fs::directory_entry& e : fs::directory_iterator(quirks + "/expected")) {
        const std::string stem = e.path().stem().string();
        ASSERT_EQ(made.count(stem), 1u) << stem << " was not imported";
        EXPECT_TRUE(ReadFile(e.path().string()) == ReadFile(made[stem])) << stem << " differs from its expected file";
    }
}

TEST(ImportTakes, TakesDuplicatesAndStrayCopies)
{
    TempDir tmp;
    const std::string raw = tmp / "raw";
    // SisFall: the subject's own file, a byte-identical copy reached again, and a different stray copy.
    Write(raw + "/SisFall_dataset/SA01/F01_SA01_R01.txt", SisFall(8, 10));
    Write(raw + "/copy/SA01/F01_SA01_R01.txt", SisFall(8, 10));
    Write(raw + "/SisFall_dataset/SA02/F01_SA01_R01.txt", SisFall(8, 99));
    ImportResult result;
    std::string error;
    ASSERT_EQ(ImportRun(Settings(ImportDataset::SisFall, raw, tmp / "sis"), &result, &error), kImportDone) << error;
    ASSERT_EQ(result.recordings.size(), 1u);
    EXPECT_EQ(result.recordings[0].sources[0], "SisFall_dataset/SA01/F01_SA01_R01.txt");
    ASSERT_EQ(result.notes.size(), 2u);
    EXPECT_EQ(result.notes[0].source, "SisFall_dataset/SA02/F01_SA01_R01.txt");
    EXPECT_NE(result.notes[0].reason.find("stray copy in subject SA02's folder"), std::string::npos);
    EXPECT_EQ(result.notes[1].source, "copy/SA01/F01_SA01_R01.txt");
    EXPECT_EQ(result.notes[1].reason,
              "the same bytes as SisFall_dataset/SA01/F01_SA01_R01.txt: a duplicate, passed over");

    // UMAFall: takes in the order of their time stamps, whichever folder holds them; a take that
    // fails leaves its number unused, and no message names a recording that was not made.
    const std::string name = "UMAFall_Subject_04_Fall_forwardFall_2_";
    Write(raw + "/b/" + name + "2016-06-13_20-40-00.csv", UmaFall(0.1));
    Write(raw + "/a/" + name + "2016-06-13_20-45-00.csv", UmaFall(0.2));
    Write(raw + "/a/" + name + "2016-06-13_20-43-00.csv", "% nothing of the waist\n");
    Write(raw + "/c/" + name + "2016-06-13_20-40-00.csv", UmaFall(0.1));
    ASSERT_EQ(ImportRun(Settings(ImportDataset::UmaFall, raw, tmp / "uma"), &result, &error), kImportSomeSkipped);
    ASSERT_EQ(result.recordings.size(), 2u);
    EXPECT_EQ(result.recordings[0].path, "fall_forward_s04_r2_t3.bin");  // 20-45-00, first in byte order
    EXPECT_EQ(result.recordings[0].take, 3);
    EXPECT_EQ(result.recordings[1].path, "fall_forward_s04_r2.bin");  // 20-40-00
    EXPECT_EQ(result.recordings[1].take, 1);
    ASSERT_EQ(result.skipped.size(), 1u);
    EXPECT_EQ(result.skipped[0].source, "a/" + name + "2016-06-13_20-43-00.csv");
    EXPECT_EQ(result.skipped[0].reason.find("would make"), std::string::npos);
    ASSERT_EQ(result.notes.size(), 1u);
    EXPECT_EQ(result.notes[0].source, "c/" + name + "2016-06-13_20-40-00.csv");
    EXPECT_EQ(Names(tmp / "uma"), (std::vector<std::string>{"fall_forward_s04_r2.bin", "fall_forward_s04_r2_t3.bin",
                                                            "import.json", "manifest.csv"}));
    const nlohmann::json report = nlohmann::json::parse(ReadFile(tmp / "uma/import.json"));
    EXPECT_EQ(report["recordings"][0]["take"], 3);
    EXPECT_EQ(report["notes"].size(), 1u);
    EXPECT_EQ(report["summary"]["recordings"], 2);
    EXPECT_EQ(report["summary"]["skipped"], 1);

    // csv: files that subjects and trials do not tell apart are still refused, saying why.
    Write(tmp / "csv/x/a.csv", "1,2,3,4,5,6\n1,2,3,4,5,6\n");
    Write(tmp / "csv/y/a.csv", "1,2,3,4,5,7\n1,2,3,4,5,6\n");
    ImportSettings csv = Settings(ImportDataset::Csv, tmp / "csv", tmp / "csvout");
    ASSERT_TRUE(ImportParseColumns("ax=1,ay=2,az=3,gx=4,gy=5,gz=6", &csv.csv, &error));
    csv.csv.rateHz = 50;
    ASSERT_EQ(ImportRun(csv, &result, &error), kImportSomeSkipped) << error;
    ASSERT_EQ(result.skipped.size(), 1u);
    EXPECT_EQ(result.skipped[0].source, "y/a.csv");
    EXPECT_NE(result.skipped[0].reason.find("give each file its own subject and trial"), std::string::npos);
}

TEST(ImportTakes, UmaFallRowsOfEmptyFieldsAndOtherSensorsBadLines)
{
    TempDir tmp;
    // A spreadsheet's empty row in the header, and a phone's spoilt numbers (sensor 0): passed over.
    Write(tmp / "raw/UMAFall_Subject_13_ADL_Bending_1_2016-06-06_16-37-56.csv",
          UmaFall(0.3, "   ;;;;;;;\n% Sensor_Type:  ;;;;;;;\n194;14;0.06;1.012.598.156.929.010;0.25;0;0;\n"));
    // A bad line of the waist sensor itself still skips the file, with its line.
    Write(tmp / "raw/UMAFall_Subject_13_ADL_Bending_2_2016-06-06_16-40-00.csv",
          UmaFall(0.3, "194;14;0.06;1.012.598;0.25;0;2;\n"));
    ImportResult result;
    std::string error;
    ASSERT_EQ(ImportRun(Settings(ImportDataset::UmaFall, tmp / "raw", tmp / "out"), &result, &error),
              kImportSomeSkipped);
    ASSERT_EQ(result.recordings.size(), 1u);
    EXPECT_EQ(result.recordings[0].path, "adl_bending_s13_r1.bin");
    ASSERT_EQ(result.skipped.size(), 1u);
    EXPECT_EQ(result.skipped[0].line, 4);
    EXPECT_EQ(result.skipped[0].reason, "field 4 not a number: '1.012.598'");

    std::string reason;
    ImportUmaFallRow row{};
    EXPECT_EQ(ImportParseUmaFallLine("   ;;;;;;;", &row, &reason), ImportLineKind::Other);
    EXPECT_EQ(ImportParseUmaFallLine(" ; ;\t;;\r", &row, &reason), ImportLineKind::Other);
    EXPECT_EQ(ImportParseUmaFallLine(";;;x;;;;", &row, &reason), ImportLineKind::Bad);
}

TEST(ImportAnnotation, LinesAndPhases)
{
    int label = -1;
    std::string reason;
    EXPECT_EQ(ImportParseAnnotationLine("2", &label, &reason), ImportLineKind::Data);
    EXPECT_EQ(label, 2);
    EXPECT_EQ(ImportParseAnnotationLine(" 1\r", &label, &reason), ImportLineKind::Data);
    EXPECT_EQ(label, 1);
    for (const std::string& bad : {std::string("3"), std::string("-1"), std::string(""), std::string("0 0"),
                                   std::string("1.0"), std::string("0\0", 2)}) {
        reason.clear();
        EXPECT_EQ(ImportParseAnnotationLine(bad, &label, &reason), ImportLineKind::Bad) << bad;
        EXPECT_FALSE(reason.empty()) << bad;
    }

    // 50 Hz sample i takes the highest of labels 4i..4i+3: alert 1..4, fall 2..3, the part block dropped.
    const std::string labels = "0\n0\n0\n0\n0\n0\n0\n1\n1\n2\n0\n0\n0\n0\n2\n0\n1\n0\n0\n0\n0\n0\n0\n0\n1\n1\n";
    ImportLines lines(labels.data(), labels.size());
    ImportPhases phases{};
    ImportFault fault{0, 0, ""};
    ASSERT_TRUE(ImportReadAnnotation(&lines, 26, -1, &phases, &fault)) << fault.reason;
    EXPECT_EQ(phases.alertStart, 1);
    EXPECT_EQ(phases.fallStart, 2);
    EXPECT_EQ(phases.fallEnd, 3);
    EXPECT_EQ(phases.alertEnd, 4);
    ImportLines again(labels.data(), labels.size());
    EXPECT_FALSE(ImportReadAnnotation(&again, 25, -1, &phases, &fault));
    EXPECT_EQ(fault.reason, "26 labels where the raw file has 25 samples");
    ImportLines byBlocks(labels.data(), labels.size());
    EXPECT_TRUE(ImportReadAnnotation(&byBlocks, -1, 6, &phases, &fault)) << fault.reason;
}

TEST(ImportAnnotation, AnnotatedImportNamesEveryFaultAndKeepsTheRecording)
{
    TempDir tmp;
    const std::string raw = tmp / "raw";
    const std::string ann = raw + "/annotation";  // below RAW_DIR: left out of the search
    auto labels = [](int n, int from, int to) {
        std::string text;
        for (int i = 0; i < n; ++i) {
            text += i >= from && i <= to ? "2\n" : "0\n";
        }
        return text;
    };
    const std::map<std::string, std::string> annotations{
        {"F01_SA01_R01.txt", labels(40, 9, 14)},
        {"F02_SA01_R01.txt", labels(39, 0, 0)},
        {"F03_SA01_R01.txt", labels(40, 0, 0).replace(12, 1, "3")},
        {"F04_SA01_R01.txt", std::string("0\n0\n0\0\n0\n", 9)},
        {"F05_SA01_R01.txt", "0\n" + std::string(70000, '0') + "\n"},
    };
    for (const char* trial : {"F01", "F02", "F03", "F04", "F05", "F06", "F07"}) {
        const std::string file = std::string(trial) + "_SA01_R01.txt";
        Write(raw + "/SisFall_dataset/SA01/" + file, SisFall(40, 1));
        if (annotations.count(file) > 0) {
            Write(ann + "/SA01/" + file, annotations.at(file));
        }
    }
    ASSERT_EQ(mkfifo((ann + "/SA01/F07_SA01_R01.txt").c_str(), 0600), 0);  // never opened, so never waited on
    ImportSettings s = Settings(ImportDataset::SisFall, raw, tmp / "out");
    s.annotationDir = ann;
    ImportResult result;
    std::string error;
    ASSERT_EQ(ImportRun(s, &result, &error), kImportSomeSkipped) << error;
    EXPECT_TRUE(result.skipped.empty());
    EXPECT_TRUE(result.notes.empty());
    ASSERT_EQ(result.recordings.size(), 7u);
    const ImportPhases& p = result.recordings[0].phases;
    EXPECT_EQ(p.fallStart, 2);
    EXPECT_EQ(p.fallEnd, 3);
    EXPECT_EQ(p.alertStart, -1);
    ASSERT_EQ(result.unannotated.size(), 6u);
    const std::vector<std::pair<int64_t, std::string>> faults{{0, "39 labels where the raw file has 40 samples"},
                                                              {7, "line 7: label '3' is not 0, 1 or 2"},
                                                              {3, "line 3: a zero byte"},
                                                              {2, "line 2: the line is longer than"},
                                                              {0, "no annotation file"},
                                                              {0, "not a regular file (a FIFO)"}};
    for (std::size_t i = 0; i < faults.size(); ++i) {
        const ImportSkip& u = result.unannotated[i];
        EXPECT_EQ(u.line, faults[i].first) << u.reason;
        EXPECT_NE(u.reason.find(faults[i].second), std::string::npos) << u.reason;
        EXPECT_NE(u.reason.find("made without the fall's timing"), std::string::npos) << u.reason;
        EXPECT_EQ(result.recordings[i + 1].phases.fallStart, -1);
    }
    const std::vector<std::vector<std::string>> rows = Rows(tmp / "out/manifest.csv");
    EXPECT_EQ(Column(rows, 1, "fall_start"), "2");
    EXPECT_EQ(Column(rows, 1, "fall_end"), "3");
    EXPECT_EQ(Column(rows, 1, "alert_start"), "");
    EXPECT_EQ(Column(rows, 2, "fall_start"), "");

    // The same afterwards, on the import's manifest (lengths checked against its samples).
    ImportAnnotated annotated;
    ASSERT_EQ(ImportAnnotateManifest(tmp / "out/manifest.csv", ann, tmp / "annotated.csv", &annotated, &error),
              kImportSomeSkipped)
        << error;
    EXPECT_EQ(annotated.annotated, 1);
    ASSERT_EQ(annotated.unannotated.size(), 6u);
    EXPECT_NE(annotated.unannotated[0].reason.find("39 labels (9 samples at 50 Hz) where the recording has 10"),
              std::string::npos)
        << annotated.unannotated[0].reason;
    // Beside the old manifest the new one is the same text; in another
    // folder its paths reach the same recordings from there.
    ASSERT_EQ(ImportAnnotateManifest(tmp / "out/manifest.csv", ann, tmp / "out/annotated.csv", &annotated, &error),
              kImportSomeSkipped)
        << error;
    EXPECT_EQ(ReadFile(tmp / "out/annotated.csv"), ReadFile(tmp / "out/manifest.csv"));
    const std::vector<std::vector<std::string>> moved = Rows(tmp / "annotated.csv");
    ASSERT_EQ(moved.size(), rows.size());
    for (std::size_t r = 1; r < moved.size(); ++r) {
        EXPECT_EQ(Column(moved, r, "path"), "out/" + Column(rows, r, "path"));
        EXPECT_TRUE(fs::is_regular_file(tmp / Column(moved, r, "path")));
    }
    EXPECT_EQ(Column(moved, 1, "fall_start"), "2");
    // The manifest itself is never the output.
    EXPECT_EQ(ImportAnnotateManifest(tmp / "out/manifest.csv", ann, tmp / "out/manifest.csv", &annotated, &error),
              kImportRefused);
}

TEST(ImportAnnotation, SharedSisFallAnnotatedWithTheExpectedColumns)
{
    const std::string raw = SHARED_DATA_DIR "/raw";
    if (!fs::is_directory(raw + "/sisfall_enhanced") || !fs::is_directory(raw + "/sisfall")) {
        GTEST_SKIP() << "no shared SisFall annotation at " << raw << ": the annotated import is not checked";
    }
    TempDir tmp;
    ImportSettings s = Settings(ImportDataset::SisFall, raw + "/sisfall", tmp / "out");
    s.annotationDir = raw + "/sisfall_enhanced";
    ImportResult result;
    std::string error;
    ASSERT_EQ(ImportRun(s, &result, &error), kImportDone) << error;
    ASSERT_EQ(result.recordings.size(), 48u);
    // F01_SA01_R01: 1,373 background, 32 alert, 77 fall, 35 alert samples at 200 Hz.
    const std::vector<std::vector<std::string>> rows = Rows(tmp / "out/manifest.csv");
    int falls = 0;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        if (Column(rows, i, "source") == "SisFall_dataset/SA01/F01_SA01_R01.txt") {
            EXPECT_EQ(Column(rows, i, "fall_start"), "351");
            EXPECT_EQ(Column(rows, i, "fall_end"), "370");
            EXPECT_EQ(Column(rows, i, "alert_start"), "343");
            EXPECT_EQ(Column(rows, i, "alert_end"), "379");
        }
        const bool fall = Column(rows, i, "label") == "fall";
        falls += fall ? 1 : 0;
        EXPECT_EQ(Column(rows, i, "fall_start").empty(), !fall) << Column(rows, i, "path");
    }
    EXPECT_EQ(falls, 22);

    // RAW_DIR above the annotation and the quirks: the annotation's files are never raw trials.
    ImportSettings above = Settings(ImportDataset::SisFall, raw, tmp / "above");
    ASSERT_NE(ImportRun(above, &result, &error), kImportRefused) << error;
    for (const ImportRecording& r : result.recordings) {
        EXPECT_EQ(r.sources[0].find("sisfall_enhanced"), std::string::npos) << r.sources[0];
        EXPECT_EQ(r.sources[0].find("SA15/D17_SE15"), std::string::npos) << r.sources[0];
    }
    std::size_t annotationNotes = 0;
    for (const ImportSkip& n : result.notes) {
        annotationNotes += n.reason.find("a per-sample annotation") != std::string::npos ? 1 : 0;
    }
    EXPECT_GT(annotationNotes, 4000u);
    EXPECT_TRUE(result.skipped.empty());
}

TEST(ImportAnnotation, SharedPublicManifestAnnotatedAfterwards)
{
    const std::string manifest = SHARED_DATA_DIR "/public/sisfall/manifest.csv";
    const std::string ann = SHARED_DATA_DIR "/raw/sisfall_enhanced";
    if (!fs::is_regular_file(manifest) || !fs::is_directory(ann)) {
        GTEST_SKIP() << "no shared public SisFall import or annotation: annotating an import afterwards is not checked";
    }
    TempDir tmp;
    ImportAnnotated result;
    std::string error;
    const int status = ImportAnnotateManifest(manifest, ann, tmp / "annotated.csv", &result, &error);
    ASSERT_NE(status, kImportRefused) << error;
    const std::vector<std::string> before = SplitLines(ReadFile(manifest));
    const std::vector<std::string> after = SplitLines(ReadFile(tmp / "annotated.csv"));
    ASSERT_EQ(before.size(), after.size());
    EXPECT_EQ(after[0], before[0] + ",fall_start,fall_end,alert_start,alert_end");
    EXPECT_GT(result.annotated, 3500);
    for (const ImportSkip& u : result.unannotated) {
        EXPECT_NE(u.reason.find("annotation "), std::string::npos) << u.source << ": " << u.reason;
    }
}

TEST(ImportOutput, TheFolderIsClaimedAndAnInterruptedImportSaysWhatItLeft)
{
    TempDir tmp;
    for (int i = 1; i <= 30; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "raw/SA%02d/D01_SA%02d_R01.txt", i, i);
        Write(tmp / name, SisFall(400, i));
    }
    // An import under way (its claim in the folder) refuses a second one, which changes nothing.
    Write(tmp / "busy/.tumblewatch-import", "an import is writing into this folder\n");
    ImportResult result;
    std::string error;
    EXPECT_EQ(ImportRun(Settings(ImportDataset::SisFall, tmp / "raw", tmp / "busy"), &result, &error), kImportRefused);
    EXPECT_NE(error.find("another import is writing into it"), std::string::npos) << error;
    EXPECT_EQ(Names(tmp / "busy"), std::vector<std::string>{".tumblewatch-import"});

    // Two at once into one new folder: one wins, the other is refused; the winner's files are whole.
    for (int round = 0; round < 3; ++round) {
        const std::string out = tmp / ("race" + std::to_string(round));
        int statuses[2] = {-1, -1};
        ImportResult results[2];
        std::string errors[2];
        std::thread other([&] {
            statuses[1] = ImportRun(Settings(ImportDataset::SisFall, tmp / "raw", out), &results[1], &errors[1]);
        });
        statuses[0] = ImportRun(Settings(ImportDataset::SisFall, tmp / "raw", out), &results[0], &errors[0]);
        other.join();
        EXPECT_EQ((statuses[0] == kImportDone) + (statuses[1] == kImportDone), 1) << errors[0] << errors[1];
        EXPECT_EQ((statuses[0] == kImportRefused) + (statuses[1] == kImportRefused), 1);
        EXPECT_EQ(Names(out).size(), 32u);
        EXPECT_EQ(SplitLines(ReadFile(out + "/manifest.csv")).size(), 31u);
    }

    // Stopped: whole recordings, no manifest, no temporary file, no claim; a new import says what is there.
    std::atomic<bool> stop{false};
    ImportSettings s = Settings(ImportDataset::SisFall, tmp / "raw", tmp / "stopped");
    s.threads = 1;
    s.stop = &stop;
    std::thread stopper([&] {
        // Stopped once the first recording is there.
        for (bool any = false; !any; std::this_thread::sleep_for(std::chrono::microseconds(50))) {
            std::error_code ec;
            for (fs::directory_iterator it(tmp / "stopped", ec); !ec && it != fs::directory_iterator(); ++it) {
                any = any || it->path().extension() == ".bin";
            }
        }
        stop = true;
    });
    const int status = ImportRun(s, &result, &error);
    stopper.join();
    ASSERT_EQ(status, kImportStopped) << error;
    EXPECT_LT(result.made, 30);
    const std::vector<std::string> left = Names(tmp / "stopped");
    EXPECT_EQ(left.size(), static_cast<std::size_t>(result.made));
    for (const std::string& name : left) {
        EXPECT_EQ(fs::path(name).extension(), ".bin") << name;
        EXPECT_EQ(fs::file_size(tmp / "stopped/" + name), fs::file_size(tmp / "race0/" + name)) << name;
    }
    EXPECT_EQ(ImportRun(Settings(ImportDataset::SisFall, tmp / "raw", tmp / "stopped"), &result, &error),
              kImportRefused);
    EXPECT_NE(error.find("no manifest.csv: an import that did not finish"), std::string::npos) << error;
}

TEST(ImportOutput, HostileNamesAreQuotedInTheManifest)
{
    TempDir tmp;
    const std::string folder = "S\nA\r01 \"x\",y\xff";
    Write(tmp / "raw/" + folder + "/F01_SA01_R01.txt", SisFall(8, 1));
    ImportResult result;
    std::string error;
    ASSERT_EQ(ImportRun(Settings(ImportDataset::SisFall, tmp / "raw", tmp / "out"), &result, &error), kImportDone)
        << error;
    const std::string manifest = ReadFile(tmp / "out/manifest.csv");
    EXPECT_NE(manifest.find(",\"S\nA\r01 \"\"x\"\",y\xff/F01_SA01_R01.txt\","), std::string::npos) << manifest;
    // import.json stays valid JSON.
    EXPECT_TRUE(nlohmann::json::accept(ReadFile(tmp / "out/import.json")));
}

TEST(ImportOptions, RegularExpressionsRunInLinearTime)
{
    ImportRegex re;
    std::string error;
    ASSERT_TRUE(re.Compile("--subject", "(a+)+b", &error)) << error;
    const std::string path = std::string(4000, 'a');
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(re.FirstGroup(path), "");
    ASSERT_TRUE(re.Compile("--subject", "(a|aa)*c", &error));
    EXPECT_EQ(re.FirstGroup(path + "c"), "a");
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 0.5);
    ASSERT_TRUE(re.Compile("--subject", "S(\\d+)T", &error));
    EXPECT_EQ(re.FirstGroup("sub/S07T03R1.csv"), "07");
    for (const char* bad : {"(", "[z-a]", "a{99999999999}", "(a{1000}){1000}"}) {
        EXPECT_FALSE(re.Compile("--subject", bad, &error)) << bad;
        EXPECT_NE(error.find("--subject '"), std::string::npos) << error;
    }
    EXPECT_FALSE(re.Compile("--trial", "no groups", &error));
    EXPECT_NE(error.find("needs a group in parentheses"), std::string::npos);
}

TEST(ImportProgram, RatesAndFullDisks)
{
    TempDir tmp;
    Write(tmp / "c/a.csv", "1,2,3,4,5,6\n1,2,3,4,5,6\n");
    for (const char* rate : {"0", "nan", "-50", "1e308", "inf"}) {
        const BenchRun run = Tumblewatch(
            tmp.path(), {"import", "csv", "c", "o", "--columns", "ax=1,ay=2,az=3,gx=4,gy=5,gz=6", "--rate", rate});
        EXPECT_EQ(run.status, 2) << rate << ": " << run.errors;
        EXPECT_NE(run.errors.find("--rate"), std::string::npos) << rate << ": " << run.errors;
        EXPECT_EQ(run.errors.find("exactly one of"), std::string::npos) << rate << ": " << run.errors;
        EXPECT_FALSE(PathExists(tmp / "o"));
    }

    // A file size limit stands in for a full disk: the recordings fit, import.json does not.
    for (int i = 1; i <= 40; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "raw/SA%02d/D01_SA%02d_R01.txt", i, i);
        Write(tmp / name, SisFall(4, i));
    }
    const BenchRun run = RunProgram(
        "/bin/sh", tmp.path(),
        {"-c", std::string("trap '' XFSZ; ulimit -f 8; exec '") + TUMBLEWATCH_PATH + "' import sisfall raw full -j 2"},
        60);
    EXPECT_EQ(run.status, 2) << run.errors;
    EXPECT_NE(run.output.find("40 .bin files (import.json and manifest.csv could not be written)"), std::string::npos)
        << run.output;
    EXPECT_EQ(run.output.find("manifest.csv, import.json"), std::string::npos) << run.output;
    EXPECT_NE(run.errors.find("import.json: cannot be written"), std::string::npos) << run.errors;
    EXPECT_FALSE(PathExists(tmp / "full/manifest.csv"));
    for (const std::string& name : Names(tmp / "full")) {
        EXPECT_EQ(name.find(".part"), std::string::npos) << name;
    }
}

TEST(ImportProgram, ThreadsThatCannotStartLeaveTheWorkToTheOthers)
{
#if defined(__SANITIZE_THREAD__)
    constexpr bool kThreadSanitized = true;
#else
    constexpr bool kThreadSanitized = false;
#endif
    if (kSanitizedBuild || kThreadSanitized) {
        GTEST_SKIP() << "the sanitizers' shadow memory does not fit an address-space limit: not checked here";
    }
    TempDir tmp;
    for (int i = 0; i < 300; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "raw/SA%02d/D%02d_SA%02d_R%02d.txt", i % 30 + 1, i / 30 % 19 + 1, i % 30 + 1,
                      i / 570 + 1);
        Write(tmp / name, SisFall(4, i));
    }
    // 2 GB of address space holds fewer than 300 threads' stacks beside the allocator's arenas.
    const BenchRun run = RunProgram(
        "/bin/sh", tmp.path(),
        {"-c", std::string("ulimit -v 2000000; exec '") + TUMBLEWATCH_PATH + "' import sisfall raw out -j 1024"}, 60);
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.errors.find("terminate"), std::string::npos) << run.errors;
    EXPECT_NE(run.output.find("300 recordings"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("on 1024 threads"), std::string::npos) << run.output;
}

TEST(ImportProgram, NotesAnnotationsAndTheirStatuses)
{
    TempDir tmp;
    Write(tmp / "raw/SA01/F01_SA01_R01.txt", SisFall(8, 1));
    for (int i = 0; i < 25; ++i) {
        Write(tmp / ("raw/copy" + std::to_string(100 + i) + "/SA01/F01_SA01_R01.txt"), SisFall(8, 1));
    }
    Write(tmp / "ann/SA01/F01_SA01_R01.txt", "0\n0\n0\n0\n1\n2\n2\n1\n");
    BenchRun run = Tumblewatch(tmp.path(), {"import", "sisfall", "raw", "out", "--annotations", "ann"});
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_NE(run.output.find("1 recording (1 falls, 0 ADLs, 0 unlabelled), 0 files skipped, 25 files passed over"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("1 annotated, 0 without the annotation's timing"), std::string::npos) << run.output;
    EXPECT_NE(run.errors.find("tumblewatch: passed over copy100/SA01/F01_SA01_R01.txt: the same bytes as "
                              "SA01/F01_SA01_R01.txt: a duplicate, passed over\n"),
              std::string::npos)
        << run.errors;
    EXPECT_NE(run.errors.find("tumblewatch: passed over 5 more files (import.json lists them)\n"), std::string::npos)
        << run.errors;
    EXPECT_NE(ReadFile(tmp / "out/manifest.csv").find(",1,1,1,,\n"), std::string::npos);

    // Annotated afterwards: a missing annotation is named, exit 3; the import's manifest is left alone.
    fs::remove(tmp / "ann/SA01/F01_SA01_R01.txt");
    run = Tumblewatch(tmp.path(),
                      {"import", "sisfall", "out/manifest.csv", "again.csv", "--annotations", "ann", "--annotate"});
    EXPECT_EQ(run.status, 3) << run.errors;
    EXPECT_NE(run.errors.find("not annotated fall_forward_slip_sa01_r1.bin: annotation ann/SA01/F01_SA01_R01.txt: "
                              "no annotation file"),
              std::string::npos)
        << run.errors;
    EXPECT_NE(ReadFile(tmp / "again.csv").find(",1,,,,\n"), std::string::npos);

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"import", "umafall", "raw", "new", "--annotations", "ann"},
          std::vector<std::string>{"import", "sisfall", "raw", "new", "--annotations", "missing"},
          std::vector<std::string>{"import", "sisfall", "out/manifest.csv", "out/manifest.csv", "--annotations", "ann",
                                   "--annotate"}}) {
        run = Tumblewatch(tmp.path(), args);
        EXPECT_EQ(run.status, 2) << args[1] << " " << args.back() << ": " << run.errors;
        EXPECT_FALSE(PathExists(tmp / "new"));
    }
}
