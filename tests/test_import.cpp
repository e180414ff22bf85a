// tumblewatch import: the shared raw data converted byte for byte, each
// dataset's quirks on small generated raw files, bad input, and the
// manifest as eval takes it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "dataset.h"
#include "import.h"
#include "labels.h"
#include "recording_reader.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

ImportSettings Settings(ImportDataset dataset, const std::string& raw, const std::string& out, int threads = 2)
{
    ImportSettings s{};
    s.dataset = dataset;
    s.rawDir = raw;
    s.outDir = out;
    s.format = ImportFormat::Bin;
    s.threads = threads;
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

std::vector<ImuSample> Samples(const std::string& path)
{
    std::vector<ImuSample> samples;
    std::string reason;
    RecordingFormat format{};
    EXPECT_TRUE(RecordingFormatOf(path, &format)) << path;
    EXPECT_EQ(RecordingLoad(path, format, false, &samples, &reason), 0) << path << ": " << reason;
    return samples;
}

// The files of a folder, by name.
std::vector<std::string> Names(const std::string& folder)
{
    std::vector<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(folder)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// One SisFall line: the accelerometer and gyroscope counts, the MMA8451Q
// columns zero, padded and ended as the dataset writes them.
std::string SisFallLine(int ax, int ay, int az, int gx, int gy, int gz)
{
    char line[96];
    std::snprintf(line, sizeof line, "%5d,%5d,%5d,%5d,%5d,%5d,    0,    0,    0;\r\n", ax, ay, az, gx, gy, gz);
    return line;
}

// A MobiFall sensor file: its '#' header, "@DATA", then "ns, x, y, z" lines.
std::string MobiFallFile(const std::vector<std::array<double, 4>>& rows)
{
    std::string text = "#Acceleration force along the x y z axes (including gravity).\r\n#timestamp(ns),x,y,z\r\n";
    text += "##########################################\r\n\r\n@DATA\r\n";
    for (const auto& r : rows) {
        char line[128];
        std::snprintf(line, sizeof line, "%.0f, %.9g, %.9g, %.9g\r\n", r[0], r[1], r[2], r[3]);
        text += line;
    }
    return text;
}

// Rows of a sensor at a steady rate: n samples from startNs, every
// periodNs, each the same values.
std::vector<std::array<double, 4>> Steady(double startNs, double periodNs, int n, double x, double y, double z)
{
    std::vector<std::array<double, 4>> rows;
    for (int i = 0; i < n; ++i) {
        rows.push_back({startNs + i * periodNs, x, y, z});
    }
    return rows;
}

constexpr double kG = 9.80665;

// A UMAFall file: the sensor header lines (waistId names WAIST unless it is
// negative), then lines of the given sensors at 20 Hz.
std::string UmaFallFile(int waistId, const std::map<int, std::array<double, 3>>& accBySensor,
                        const std::map<int, std::array<double, 3>>& gyroBySensor, int samples = 60)
{
    std::string text = "% Universidad de Malaga - ETSI de Telecomunicacion (Spain)                 \n";
    text += "% MAC Address; Sensor_ID; Position; Device Model                 \n";
    text += "%C4:BE:84:70:0E:80; 3; WRIST; SensorTag\n";
    if (waistId >= 0) {
        text += "%C4:BE:84:71:A5:02; " + std::to_string(waistId) + "; WAIST; SensorTag\n";
    }
    text += "                          \n% TimeStamp; Sample No; X-Axis; Y-Axis; Z-Axis; Sensor Type; Sensor ID;\n";
    for (int i = 0; i < samples; ++i) {
        for (int type = 0; type < 2; ++type) {
            for (const auto& [sensor, v] : type == 0 ? accBySensor : gyroBySensor) {
                char line[160];
                std::snprintf(line, sizeof line, "%d;%d;%.6f;%.6f;%.6f;%d;%d\n", 100 + i * 50, i, v[0], v[1], v[2],
                              type, sensor);
                text += line;
            }
        }
    }
    return text;
}

BenchRun Tumblewatch(const std::string& cwd, const std::vector<std::string>& args)
{
    return RunProgram(TUMBLEWATCH_PATH, cwd, args, 300);
}

}  // namespace

TEST(Import, SharedRawDataGivesTheSharedRecordingsByteForByte)
{
    const std::string raw = SHARED_DATA_DIR "/raw";
    const std::string real = SHARED_DATA_DIR "/real";
    if (!fs::is_directory(raw) || !fs::is_directory(real)) {
        GTEST_SKIP() << "no shared raw data at " << raw << ": the byte-for-byte import is not checked";
    }
    TempDir tmp;
    const std::map<std::string, std::pair<ImportDataset, std::size_t>> datasets{
        {"sisfall", {ImportDataset::SisFall, 0}},
        {"mobifall", {ImportDataset::MobiFall, 0}},
        {"umafall", {ImportDataset::UmaFall, 1}}};
    for (const auto& [name, expected] : datasets) {
        SCOPED_TRACE(name);
        ImportSettings s = Settings(expected.first, raw + "/" + name, tmp / name);
        s.format = ImportFormat::Both;
        ImportResult result;
        std::string error;
        const int status = ImportRun(s, &result, &error);
        EXPECT_EQ(status, expected.second == 0 ? kImportDone : kImportSomeSkipped) << error;
        ASSERT_EQ(result.skipped.size(), expected.second);
        std::size_t compared = 0;
        for (const fs::directory_entry& e : fs::directory_iterator(real + "/" + name)) {
            const std::string file = e.path().filename().string();
            if (e.path().extension() == ".bin") {
                ASSERT_TRUE(PathExists(tmp / name + "/" + file)) << file << " was not made";
                EXPECT_TRUE(ReadFile(e.path().string()) == ReadFile(tmp / name + "/" + file)) << file << " differs";
                ++compared;
            } else if (e.path().extension() == ".csv") {
                // The rows, byte for byte; the seven header lines say where the raw file was found.
                const std::vector<std::string> want = SplitLines(ReadFile(e.path().string()));
                const std::vector<std::string> got = SplitLines(ReadFile(tmp / name + "/" + file));
                ASSERT_EQ(want.size(), got.size()) << file;
                EXPECT_TRUE(std::equal(want.begin() + 7, want.end(), got.begin() + 7)) << file << " rows differ";
                EXPECT_EQ(got[3], want[3]) << "the conversion line of " << file;
                EXPECT_EQ(got[4], want[4]) << "the axes line of " << file;
            }
        }
        EXPECT_EQ(result.recordings.size(), compared);
    }
    EXPECT_NE(ReadFile(tmp / "umafall/import.json").find("UMAFall_Subject_09_ADL_Bending_1"), std::string::npos);

    // eval takes each manifest, with the expected counts.
    const std::map<std::string, std::string> counts{
        {"sisfall", "48 recordings (22 falls, 26 ADLs, 0 unlabelled, 0 unreadable)"},
        {"mobifall", "17 recordings (8 falls, 9 ADLs, 0 unlabelled, 0 unreadable)"},
        {"umafall", "14 recordings (6 falls, 8 ADLs, 0 unlabelled, 0 unreadable)"}};
    for (const auto& [name, line] : counts) {
        const BenchRun run = Tumblewatch(tmp.path(), {"eval", "--labels", name + "/manifest.csv", name});
        EXPECT_EQ(run.status, 0) << run.errors;
        EXPECT_NE(run.output.find("tumblewatch eval: " + line), std::string::npos) << run.output;
    }
}

TEST(Import, SisFallLinesAndBlocksOfFour)
{
    TempDir tmp;
    const std::string raw = tmp / "download/SisFall_dataset";
    // CRLF and ';', spaces, a blank line, an LF-only line, and nine samples:
    // two blocks of four and a part block that is dropped.
    std::string text = SisFallLine(1, -256, 0, 100, -50, 0) + SisFallLine(2, -256, 0, 101, -50, 0) + "\r\n" +
                       SisFallLine(3, -256, 0, 102, -50, 0) + "4,-256,0,103,-50,0,0,0,0;\n" +
                       SisFallLine(-4096, 256, 0, 0, 0, 0);
    for (int i = 0; i < 4; ++i) {
        text += SisFallLine(-4096, 256, 0, 0, 0, 0);
    }
    Write(raw + "/SA01/F01_SA01_R01.txt", text);
    Write(raw + "/SE06/D17_SE06_R02.txt", SisFallLine(0, -256, 0, 0, 0, 0) + SisFallLine(0, -256, 0, 0, 0, 0) +
                                              SisFallLine(0, -256, 0, 0, 0, 0) + SisFallLine(0, -256, 0, 0, 0, 0));
    Write(raw + "/Readme.txt", "not a trial\n");
    Write(raw + "/SA01/desktop.ini", "[.ShellClassInfo]\n");

    ImportResult result;
    std::string error;
    ASSERT_EQ(ImportRun(Settings(ImportDataset::SisFall, tmp / "download", tmp / "out"), &result, &error), kImportDone)
        << error;
    EXPECT_EQ(Names(tmp / "out"),
              (std::vector<std::string>{"adl_car_in_out_se06_r2.bin", "fall_forward_slip_sa01_r1.bin", "import.json",
                                        "manifest.csv"}));
    const std::vector<ImuSample> s = Samples(tmp / "out/fall_forward_slip_sa01_r1.bin");
    ASSERT_EQ(s.size(), 2u);
    // Accelerometer: 1/256 g per count, so 32 counts of ours; gyro: 4000/65536 deg/s per count.
    EXPECT_EQ(s[0].accX, 80);  // mean 2.5 counts
    EXPECT_EQ(s[0].accY, -8192);
    EXPECT_EQ(s[0].gyroX, 406);  // mean 101.5 counts
    EXPECT_EQ(s[0].gyroY, -200);
    EXPECT_EQ(s[1].accX, -32768);  // -16 g, clipped
    EXPECT_EQ(s[1].accY, 8192);
    EXPECT_EQ(result.recordings[0].clipped, 1);
    EXPECT_EQ(ReadFile(tmp / "out/manifest.csv"),
              "path,label,activity,subject,trial,dataset,source,samples,description,take,fall_start,fall_end,"
              "alert_start,alert_end\n"
              "fall_forward_slip_sa01_r1.bin,fall,F01,sa01,1,sisfall,SisFall_dataset/SA01/F01_SA01_R01.txt,2,"
              "fall forward while walking caused by a slip,1,,,,\n"
              "adl_car_in_out_se06_r2.bin,adl,D17,se06,2,sisfall,SisFall_dataset/SE06/D17_SE06_R02.txt,1,"
              "\"standing, get into a car, remain seated and get out of the car\",1,,,,\n");
}

TEST(Import, MobiFallPairsFilesTurnsUpsideDownPhonesAndDropsRepeatedTimes)
{
    TempDir tmp;
    const std::string adl = tmp / "raw/sub3/ADL";
    const std::string falls = tmp / "raw/sub3/FALLS";
    // Accelerometer at 100 Hz (block means of 2), gyroscope at 200 Hz
    // (block means of 4), the times half a period off the block bounds.
    const double t0 = 1913880219000.0 + 2.5e6;
    auto acc = [&](double y) { return Steady(t0, 1e7, 200, 0.0, y, 0.0); };
    const auto gyro = Steady(t0 + 1.25e6, 5e6, 400, 0.5, 0.0, 0.0);  // 0.5 rad/s about x
    Write(adl + "/WAL/WAL_acc_3_1.txt", MobiFallFile(acc(-kG)));     // upright
    Write(adl + "/WAL/WAL_gyro_3_1.txt", MobiFallFile(gyro));
    Write(adl + "/WAL/WAL_ori_3_1.txt", MobiFallFile(gyro));       // unused
    Write(falls + "/FOL/FOL_acc_3_1.txt", MobiFallFile(acc(kG)));  // upside down
    Write(falls + "/FOL/FOL_gyro_3_1.txt", MobiFallFile(gyro));
    // Stepping out of a car begins seated (y about 0) and ends upright: the
    // reference is the last second.
    auto seated = Steady(t0, 1e7, 200, 0.0, 0.0, kG);
    for (int i = 100; i < 200; ++i) {
        seated[i] = {seated[i][0], 0.0, kG, 0.0};
    }
    Write(adl + "/CSO/CSO_acc_3_1.txt", MobiFallFile(seated));
    Write(adl + "/CSO/CSO_gyro_3_1.txt", MobiFallFile(gyro));
    // A repeated and a backward time stamp with wild values are dropped.
    auto repeated = acc(-kG);
    repeated.insert(repeated.begin() + 50, {repeated[49][0], 99.0, 99.0, 99.0});
    repeated.insert(repeated.begin() + 80, {repeated[10][0], 99.0, 99.0, 99.0});
    Write(adl + "/STD/STD_acc_3_1.txt", MobiFallFile(repeated));
    Write(adl + "/STD/STD_gyro_3_1.txt", MobiFallFile(gyro));
    // A trial without its gyroscope file.
    Write(adl + "/JOG/JOG_acc_3_1.txt", MobiFallFile(acc(-kG)));

    ImportResult result;
    std::string error;
    ASSERT_EQ(ImportRun(Settings(ImportDataset::MobiFall, tmp / "raw", tmp / "out"), &result, &error),
              kImportSomeSkipped)
        << error;
    ASSERT_EQ(result.skipped.size(), 1u);
    EXPECT_EQ(result.skipped[0].source, "sub3/ADL/JOG/JOG_acc_3_1.txt");
    EXPECT_EQ(result.skipped[0].reason, "no gyroscope file JOG_gyro_3_1.txt beside it");

    std::map<std::string, ImportRecording> made;
    for (const ImportRecording& r : result.recordings) {
        made[r.path] = r;
    }
    ASSERT_EQ(made.size(), 4u);
    EXPECT_EQ(made["adl_walking_s03_r1.bin"].axes, "x,y,z");
    EXPECT_EQ(made["fall_forward_lying_s03_r1.bin"].axes, "-x,-y,z");
    EXPECT_EQ(made["adl_car_step_out_s03_r1.bin"].axes, "-x,-y,z");
    EXPECT_EQ(made["adl_walking_s03_r1.bin"].conversion,
              "accel block mean (100.0 Hz, ratio 2), gyro block mean (200.0 Hz, ratio 4)");
    EXPECT_EQ(made["adl_walking_s03_r1.bin"].sources,
              (std::vector<std::string>{"sub3/ADL/WAL/WAL_acc_3_1.txt", "sub3/ADL/WAL/WAL_gyro_3_1.txt"}));

    const std::vector<ImuSample> walk = Samples(tmp / "out/adl_walking_s03_r1.bin");
    ASSERT_EQ(walk.size(), 99u);  // the accelerometer's 1.99 s, the earlier end
    EXPECT_EQ(walk[0].accY, -8192);
    EXPECT_EQ(walk[0].gyroX, 1877);  // 0.5 rad/s = 28.648 deg/s
    const std::vector<ImuSample> fall = Samples(tmp / "out/fall_forward_lying_s03_r1.bin");
    EXPECT_EQ(fall[0].accY, -8192);
    EXPECT_EQ(fall[0].gyroX, -1877);
    const std::vector<ImuSample> out = Samples(tmp / "out/adl_car_step_out_s03_r1.bin");
    EXPECT_EQ(out.back().accY, -8192);
    EXPECT_TRUE(ReadFile(tmp / "out/adl_standing_s03_r1.bin") == ReadFile(tmp / "out/adl_walking_s03_r1.bin"));
}

TEST(Import, UmaFallTakesTheWaistSensorItsHeaderNames)
{
    TempDir tmp;
    const std::string raw = tmp / "download/UMAFall_Dataset";
    // The waist is ID 4 here; sensor 2 (the usual waist) reads otherwise.
    Write(raw + "/UMAFall_Subject_01_ADL_Aplausing_1_2017-04-14_23-38-23.csv",
          UmaFallFile(4, {{2, {0.0, 0.0, 1.0}}, {4, {1.0, 0.0, 0.0}}}, {{2, {0, 0, 0}}, {4, {0.0, 10.0, 0.0}}}));
    // No header line names the waist: ID 2.
    Write(raw + "/UMAFall_Subject_02_Fall_forwardFall_3_2016-06-13_20-43-52.csv",
          UmaFallFile(-1, {{2, {1.0, 0.0, 0.0}}}, {{2, {0, 0, 0}}}));
    // The waist sensor sent no gyroscope samples.
    Write(raw + "/UMAFall_Subject_09_ADL_Bending_1_2016-06-04_21-22-51.csv",
          UmaFallFile(2, {{2, {1.0, 0.0, 0.0}}}, {{3, {0, 0, 0}}}));

    ImportResult result;
    std::string error;
    ASSERT_EQ(ImportRun(Settings(ImportDataset::UmaFall, tmp / "download", tmp / "out"), &result, &error),
              kImportSomeSkipped)
        << error;
    ASSERT_EQ(result.recordings.size(), 2u);
    EXPECT_EQ(result.recordings[0].path, "adl_clapping_s01_r1.bin");
    EXPECT_EQ(result.recordings[0].activity, "ADL_Aplausing");
    EXPECT_EQ(result.recordings[1].path, "fall_forward_s02_r3.bin");
    EXPECT_EQ(result.recordings[1].conversion,
              "accel linear interpolation (20.0 Hz), gyro linear interpolation (20.0 Hz)");
    ASSERT_EQ(result.skipped.size(), 1u);
    EXPECT_EQ(result.skipped[0].reason,
              "the waist sensor (ID 2) has 60 accelerometer and 0 gyroscope samples: fewer than two of each");

    // Axes y,-x,z: the sensor's x (up) becomes -y.
    const std::vector<ImuSample> s = Samples(tmp / "out/adl_clapping_s01_r1.bin");
    ASSERT_EQ(s.size(), 147u);  // 2.95 s of samples every 50 ms
    EXPECT_EQ(s[10].accY, -8192);
    EXPECT_EQ(s[10].accZ, 0);
    EXPECT_EQ(s[10].gyroX, 655);  // 10 deg/s about the sensor's y
}

TEST(Import, CsvFilesOfAnyLayoutWithLabelsFromTheirPaths)
{
    TempDir tmp;
    const std::string raw = tmp / "logger";
    // Semicolons, a header line, columns in another order, m/s^2 and rad/s,
    // 100 Hz uniform: blocks of two.
    std::string uniform = "gz;gy;gx;az;ay;ax\n";
    for (int i = 0; i < 10; ++i) {
        uniform += "0;0;" + std::to_string(i % 2 == 0 ? 0.0 : 0.2) + ";0;-9.80665;0\n";
    }
    Write(raw + "/S06/T21_R01.csv", uniform);
    Write(raw + "/S06/T01_R02.csv", uniform);
    Write(raw + "/S06/notes.txt", "ignored\n");
    Write(raw + "/S07/T99_R01.csv", uniform);  // neither a fall nor an ADL

    ImportSettings s = Settings(ImportDataset::Csv, raw, tmp / "out");
    std::string error;
    ASSERT_TRUE(ImportParseColumns("gz=1,gy=2,gx=3,az=4,ay=5,ax=6", &s.csv, &error)) << error;
    ASSERT_TRUE(ImportParseAccelUnit("m/s2", &s.csv, &error));
    ASSERT_TRUE(ImportParseGyroUnit("rad/s", &s.csv, &error));
    s.csv.delimiter = ';';
    s.csv.skipLines = 1;
    s.csv.rateHz = 100;
    s.csv.fallGlobs = {"*/T2?_*"};
    s.csv.adlGlobs = {"*/T0?_*"};
    s.csv.subjectRegex = "S(\\d+)/";
    s.csv.trialRegex = "_R(\\d+)";
    s.csv.activityRegex = "/(T\\d+)_";
    ImportResult result;
    ASSERT_EQ(ImportRun(s, &result, &error), kImportDone) << error;
    ASSERT_EQ(result.recordings.size(), 3u);
    EXPECT_EQ(result.recordings[0].path, "adl_t01_s06_r2.bin");
    EXPECT_EQ(result.recordings[1].path, "fall_t21_s06_r1.bin");
    EXPECT_EQ(result.recordings[2].path, "unlabelled_t99_s07_r1.bin");
    EXPECT_EQ(result.recordings[1].conversion, "accel block mean of 2, gyro block mean of 2");
    const std::vector<ImuSample> v = Samples(tmp / "out/fall_t21_s06_r1.bin");
    ASSERT_EQ(v.size(), 5u);
    EXPECT_EQ(v[0].accY, -8192);
    EXPECT_EQ(v[0].gyroX, 375);  // mean 0.1 rad/s = 5.73 deg/s

    // Timed (ms) at 25 Hz: interpolated; counts:K units; an axis map.
    std::string timed;
    for (int i = 0; i < 26; ++i) {
        timed += std::to_string(1000 + i * 40) + ",4096,0,0,0,0," + std::to_string(i * 10) + "\n";
    }
    Write(tmp / "one.csv", timed);
    ImportSettings t = Settings(ImportDataset::Csv, tmp / "one.csv", tmp / "out2");
    ASSERT_TRUE(ImportParseColumns("t=1,ax=2,ay=3,az=4,gx=5,gy=6,gz=7", &t.csv, &error));
    ASSERT_TRUE(ImportParseAccelUnit("counts:4096", &t.csv, &error));
    ASSERT_TRUE(ImportParseGyroUnit("counts:10", &t.csv, &error));
    ASSERT_TRUE(ImportParseTimeUnit("ms", &t.csv, &error));
    t.axesGiven = ImportAxesParse("-y,x,z", &t.axes, &error);
    ASSERT_EQ(ImportRun(t, &result, &error), kImportDone) << error;
    ASSERT_EQ(result.recordings.size(), 1u);
    EXPECT_EQ(result.recordings[0].path, "unlabelled_one.bin");
    const std::vector<ImuSample> w = Samples(tmp / "out2/unlabelled_one.bin");
    ASSERT_EQ(w.size(), 50u);
    EXPECT_EQ(w[0].accY, 8192);  // +1 g along the file's x
    EXPECT_EQ(w[0].gyroZ, 16);   // at 10 ms: 0.25 of the way to 1 deg/s
}

TEST(Import, BadLinesSkipTheirTrialAndNameTheFileTheLineAndTheReason)
{
    TempDir tmp;
    const std::string raw = tmp / "download/SisFall_dataset/SA01";
    const std::string good = SisFallLine(0, -256, 0, 0, 0, 0);
    const std::string four = good + good + good + good;
    Write(raw + "/D01_SA01_R01.txt", four);
    Write(raw + "/D01_SA01_R02.txt", four + "1,2,3,4,5,6,7,8;\r\n");
    Write(raw + "/D01_SA01_R03.txt", four + four + "1,2,3,4,5,6,7,8,x;\r\n");
    Write(raw + "/D01_SA01_R04.txt", good + "1,2,3,4,5,6,7,8,40000;\r\n");
    Write(raw + "/D01_SA01_R05.txt", good + std::string("1,2,3,\0,5,6,7,8,9;\r\n", 21));
    Write(raw + "/D01_SA01_R06.txt", good + std::string(3 * 1024 * 1024, '1') + "\n");
    Write(raw + "/D01_SA01_R07.txt", "");
    Write(raw + "/D01_SA01_R08.txt", good + good);
    Write(raw + "/D01_SA01_R09.txt", four);
    fs::create_directory(raw + "/D01_SA01_R10.txt");  // a folder of a trial's name is no file: ignored
    fs::create_symlink(raw + "/missing", raw + "/D01_SA01_R11.txt");
    const bool root = geteuid() == 0;
    if (!root) {
        chmod((raw + "/D01_SA01_R09.txt").c_str(), 0);
    }

    ImportResult result;
    std::string error;
    ASSERT_EQ(ImportRun(Settings(ImportDataset::SisFall, tmp / "download", tmp / "out"), &result, &error),
              kImportSomeSkipped)
        << error;
    std::map<std::string, std::pair<int64_t, std::string>> skipped;
    for (const ImportSkip& s : result.skipped) {
        skipped[fs::path(s.source).filename().string()] = {s.line, s.reason};
    }
    const std::map<std::string, std::pair<int64_t, std::string>> expected{
        {"D01_SA01_R02.txt", {5, "8 fields where 9 are expected"}},
        {"D01_SA01_R03.txt", {9, "field 9 not an integer: 'x'"}},
        {"D01_SA01_R04.txt", {2, "field 9 out of range: '40000'"}},
        {"D01_SA01_R05.txt", {2, "a zero byte (NUL) in the line"}},
        {"D01_SA01_R06.txt", {2, "the line is longer than 65536 bytes"}},
        {"D01_SA01_R07.txt", {0, "the file is empty"}},
        {"D01_SA01_R08.txt", {0, "fewer than 4 data lines: not one output sample"}},
        {"D01_SA01_R11.txt", {0, "no such file (a link to a missing file)"}}};
    for (const auto& [file, want] : expected) {
        ASSERT_EQ(skipped.count(file), 1u) << file << " was not skipped";
        EXPECT_EQ(skipped[file], want) << file;
    }
    if (!root) {
        EXPECT_EQ(skipped["D01_SA01_R09.txt"].second.compare(0, 20, "cannot be opened: Pe"), 0)
            << skipped["D01_SA01_R09.txt"].second;
    }
    EXPECT_EQ(result.skipped.size(), expected.size() + (root ? 0 : 1));
    ASSERT_EQ(result.recordings.size(), root ? 2u : 1u);
    EXPECT_EQ(result.recordings[0].path, "adl_walk_slow_sa01_r1.bin");

    // Every skipped file is in import.json with its line and reason.
    const nlohmann::json report = nlohmann::json::parse(ReadFile(tmp / "out/import.json"));
    EXPECT_EQ(report["skipped"].size(), result.skipped.size());
    EXPECT_EQ(report["skipped"][0]["source"], "SisFall_dataset/SA01/D01_SA01_R02.txt");
    EXPECT_EQ(report["skipped"][0]["line"], 5);
    EXPECT_EQ(report["summary"]["recordings"], result.recordings.size());
}

TEST(Import, MobiFallSensorsThatNeverOverlapAreSkipped)
{
    TempDir tmp;
    Write(tmp / "raw/sub1/FALLS/SDL/SDL_acc_1_1.txt", MobiFallFile(Steady(1e9, 1e7, 100, 0, -kG, 0)));
    Write(tmp / "raw/sub1/FALLS/SDL/SDL_gyro_1_1.txt", MobiFallFile(Steady(5e9, 5e6, 100, 0, 0, 0)));
    Write(tmp / "raw/sub1/FALLS/BSC/BSC_acc_1_1.txt", "#no data section\r\n1,2,3,4\r\n");
    Write(tmp / "raw/sub1/FALLS/BSC/BSC_gyro_1_1.txt", MobiFallFile(Steady(1e9, 5e6, 100, 0, 0, 0)));
    ImportResult result;
    std::string error;
    ASSERT_EQ(ImportRun(Settings(ImportDataset::MobiFall, tmp / "raw", tmp / "out"), &result, &error),
              kImportSomeSkipped);
    ASSERT_EQ(result.skipped.size(), 2u);
    EXPECT_EQ(result.skipped[0].reason, "no @DATA line: not a MobiFall sensor file");
    EXPECT_EQ(result.skipped[1].source, "sub1/FALLS/SDL/SDL_acc_1_1.txt");
    EXPECT_EQ(result.skipped[1].reason, "the accelerometer and the gyroscope do not overlap in time");
    // The trials that failed leave nothing; the manifest holds no row.
    EXPECT_EQ(Names(tmp / "out"), (std::vector<std::string>{"import.json", "manifest.csv"}));
    EXPECT_EQ(ReadFile(tmp / "out/manifest.csv"),
              "path,label,activity,subject,trial,dataset,source,samples,description,take,fall_start,fall_end,"
              "alert_start,alert_end\n");
}

TEST(Import, RefusedFoldersChangeNothing)
{
    TempDir tmp;
    const std::string raw = tmp / "raw";
    Write(raw + "/SA01/F01_SA01_R01.txt", SisFallLine(0, -256, 0, 0, 0, 0) + SisFallLine(0, -256, 0, 0, 0, 0) +
                                              SisFallLine(0, -256, 0, 0, 0, 0) + SisFallLine(0, -256, 0, 0, 0, 0));
    Write(tmp / "full/keep.txt", "mine");
    Write(tmp / "other/Readme.txt", "no trial here");
    struct Case {
        std::string raw;
        std::string out;
        ImportDataset dataset;
        const char* message;
    };
    const std::vector<Case> cases{
        {tmp / "missing", tmp / "out1", ImportDataset::SisFall, "no such folder"},
        {tmp / "other", tmp / "out2", ImportDataset::SisFall, "holds none of the files of sisfall"},
        {raw, tmp / "out3", ImportDataset::MobiFall, "holds none of the files of mobifall"},
        {raw, tmp / "full", ImportDataset::SisFall, "is not empty"},
        {raw, raw, ImportDataset::SisFall, "is RAW_DIR"},
        {raw, raw + "/SA01/out", ImportDataset::SisFall, "lies inside RAW_DIR"},
        {raw, raw + "/../raw/new", ImportDataset::SisFall, "lies inside RAW_DIR"},
        {raw, tmp / "full/keep.txt", ImportDataset::SisFall, "is not a folder"},
    };
    for (const Case& c : cases) {
        ImportResult result;
        std::string error;
        EXPECT_EQ(ImportRun(Settings(c.dataset, c.raw, c.out), &result, &error), kImportRefused) << c.out;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.out << ": " << error;
    }
    for (const char* absent : {"out1", "out2", "out3", "raw/SA01/out", "raw/new"}) {
        EXPECT_FALSE(PathExists(tmp / absent)) << absent << " was created";
    }
    EXPECT_EQ(Names(tmp / "full"), std::vector<std::string>{"keep.txt"});
    EXPECT_EQ(Names(raw), std::vector<std::string>{"SA01"});

    // An empty OUT_DIR is fine.
    fs::create_directory(tmp / "empty");
    ImportResult result;
    std::string error;
    EXPECT_EQ(ImportRun(Settings(ImportDataset::SisFall, raw, tmp / "empty"), &result, &error), kImportDone) << error;
}

TEST(Import, ResultsDoNotDependOnTheNumberOfThreads)
{
    TempDir tmp;
    for (int i = 1; i <= 12; ++i) {
        std::string text;
        for (int k = 0; k < 40 * i; ++k) {
            text += SisFallLine(k % 7, -256 + k % 5, i, k, -k, i * 3);
        }
        char name[64];
        std::snprintf(name, sizeof name, "raw/SA%02d/D%02d_SA%02d_R01.txt", i, i, i);
        Write(tmp / name, text);
    }
    ImportResult one;
    ImportResult three;
    std::string error;
    ASSERT_EQ(ImportRun(Settings(ImportDataset::SisFall, tmp / "raw", tmp / "a", 1), &one, &error), kImportDone);
    ASSERT_EQ(ImportRun(Settings(ImportDataset::SisFall, tmp / "raw", tmp / "b", 3), &three, &error), kImportDone);
    EXPECT_EQ(Names(tmp / "a"), Names(tmp / "b"));
    for (const std::string& name : Names(tmp / "a")) {
        EXPECT_TRUE(ReadFile(tmp / "a/" + name) == ReadFile(tmp / "b/" + name)) << name;
    }
}

TEST(ImportProgram, ImportThenEvalWithTheManifest)
{
    TempDir tmp;
    const std::string four = SisFallLine(0, -256, 0, 0, 0, 0) + SisFallLine(0, -256, 0, 0, 0, 0) +
                             SisFallLine(0, -256, 0, 0, 0, 0) + SisFallLine(0, -256, 0, 0, 0, 0);
    Write(tmp / "raw/SA01/F01_SA01_R01.txt", four);
    Write(tmp / "raw/SA01/F02_SA01_R01.txt", four);
    Write(tmp / "raw/SA02/D01_SA02_R01.txt", four);
    Write(tmp / "raw/SA02/D02_SA02_R01.txt", "1,2,3;\r\n");

    BenchRun run = Tumblewatch(tmp.path(), {"import", "sisfall", "raw", "out", "--format", "both", "-j", "2"});
    EXPECT_EQ(run.status, 3) << run.errors;
    EXPECT_NE(run.output.find("tumblewatch import sisfall: 3 recordings (2 falls, 1 ADLs, 0 unlabelled), 1 file "
                              "skipped"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(run.errors, "tumblewatch: skipped SA02/D02_SA02_R01.txt, line 1: 3 fields where 9 are expected\n");
    EXPECT_EQ(Names(tmp / "out").size(), 3u * 2 + 2);
    EXPECT_NE(ReadFile(tmp / "out/fall_forward_slip_sa01_r1.csv")
                  .find("# activity: F01 fall forward while walking caused by a slip (subject sa01, trial 1)"),
              std::string::npos);

    // The manifest among the recordings is no recording; descriptions show beside the codes.
    run = Tumblewatch(tmp.path(), {"eval", "--labels", "out/manifest.csv", "out"});
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_NE(run.output.find("tumblewatch eval: 3 recordings (2 falls, 1 ADLs, 0 unlabelled, 0 unreadable)"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("  fall  F01 fall forward while walking caused by a slip "), std::string::npos)
        << run.output;
    run = Tumblewatch(tmp.path(), {"eval", "--labels", "out/manifest.csv", "--json", "eval.json", "-q"});
    EXPECT_EQ(run.status, 0) << run.errors;
    const nlohmann::json report = nlohmann::json::parse(ReadFile(tmp / "eval.json"));
    EXPECT_EQ(report["by_activity"][0]["description"], "fall forward while walking caused by a slip");
    EXPECT_EQ(report["recordings"][0]["description"], "walking slowly");

    // Usage errors: exit 2, nothing written.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"import", "kfall", "raw", "new"},
          std::vector<std::string>{"import", "sisfall", "raw", "new", "--axes", "y,x,z"},
          std::vector<std::string>{"import", "sisfall", "raw", "new", "--rate", "100"},
          std::vector<std::string>{"import", "csv", "raw", "new", "--columns", "ax=1,ay=2,az=3,gx=4,gy=5,gz=6"},
          std::vector<std::string>{"import", "csv", "raw", "new", "--columns", "ax=1,ay=2,az=3,gx=4,gy=5,gz=6",
                                   "--rate", "100", "--subject", "S\\d+"},
          std::vector<std::string>{"import", "sisfall", "raw", "out"}}) {
        run = Tumblewatch(tmp.path(), args);
        EXPECT_EQ(run.status, 2) << args[1] << " " << args.back() << ": " << run.errors;
        EXPECT_FALSE(run.errors.empty());
        EXPECT_FALSE(PathExists(tmp / "new"));
    }
}
