// The binary dataset reader and the binary replay.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "bench.h"
#include "dataset.h"
#include "test_support.h"

namespace {

const ImuSample kRest{0, -8192, 0, 0, 0, 0};

std::vector<ImuSample> ReadAll(const std::string& path)
{
    std::vector<ImuSample> out;
    DataSet* ds = DataSetOpen(path.c_str());
    if (ds == nullptr) {
        ADD_FAILURE() << "not opened: " << path;
        return out;
    }
    ImuSample s;
    while (DataSetRead(ds, &s, 1) == 1) {
        out.push_back(s);
    }
    DataSetClose(ds);
    return out;
}

size_t LineCount(const std::string& text)
{
    return SplitLines(text).size();
}

TEST(DataSet, RecordsAreLittleEndianInt16)
{
    TempDir dir;
    std::string bytes = DataSetBytes({});
    bytes += std::string("\x34\x12\xff\xff\x00\x80\xff\x7f\x01\x00\xfe\xff", 12);
    WriteFile(dir / "a.bin", bytes);
    const auto records = ReadAll(dir / "a.bin");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].accX, 0x1234);
    EXPECT_EQ(records[0].accY, -1);
    EXPECT_EQ(records[0].accZ, -32768);
    EXPECT_EQ(records[0].gyroX, 32767);
    EXPECT_EQ(records[0].gyroY, 1);
    EXPECT_EQ(records[0].gyroZ, -2);
}

TEST(DataSet, MagicIsComparedWithItsZeroByteOnly)
{
    TempDir dir;
    std::string bytes = DataSetBytes({kRest});
    bytes[18] = 'x';
    bytes[19] = '\x7f';
    WriteFile(dir / "any.bin", bytes);
    EXPECT_EQ(ReadAll(dir / "any.bin").size(), 1u);

    bytes[17] = '1';
    WriteFile(dir / "long.bin", bytes);
    EXPECT_EQ(DataSetOpen((dir / "long.bin").c_str()), nullptr);
    bytes[17] = '\0';
    bytes[0] = 'q';
    WriteFile(dir / "case.bin", bytes);
    EXPECT_EQ(DataSetOpen((dir / "case.bin").c_str()), nullptr);
}

TEST(DataSet, RefusesAShortHeaderANegativePositionAndAMissingFile)
{
    TempDir dir;
    const std::string bytes = DataSetBytes({});
    WriteFile(dir / "short.bin", bytes.substr(0, 22));
    EXPECT_EQ(DataSetOpen((dir / "short.bin").c_str()), nullptr);
    WriteFile(dir / "magic_only.bin", bytes.substr(0, 18));
    EXPECT_EQ(DataSetOpen((dir / "magic_only.bin").c_str()), nullptr);
    WriteFile(dir / "negative.bin", DataSetBytes({kRest}, -12));
    EXPECT_EQ(DataSetOpen((dir / "negative.bin").c_str()), nullptr);
    EXPECT_EQ(DataSetOpen((dir / "missing.bin").c_str()), nullptr);
    DataSetClose(nullptr);
}

TEST(DataSet, PositionChoosesTheFirstRecord)
{
    TempDir dir;
    // Above 24: the bytes in between are skipped.
    WriteFile(dir / "gap.bin", DataSetBytes({ImuSample{1, 2, 3, 4, 5, 6}}, 31));
    const auto gap = ReadAll(dir / "gap.bin");
    ASSERT_EQ(gap.size(), 1u);
    EXPECT_EQ(gap[0].accX, 1);
    EXPECT_EQ(gap[0].gyroZ, 6);

    // Below 24: the first record overlaps the header.
    WriteFile(dir / "overlap.bin", DataSetBytes({ImuSample{7, 8, 9, 10, 11, 12}}, 12));
    const auto overlap = ReadAll(dir / "overlap.bin");
    ASSERT_EQ(overlap.size(), 2u);
    EXPECT_EQ(overlap[0].accX, '1' | ('.' << 8));  // offset 12 of the magic text
    EXPECT_EQ(overlap[1].accX, 7);
}

TEST(DataSet, TrailingPieceIsNotARecord)
{
    TempDir dir;
    for (int r = 1; r < 12; ++r) {
        std::string bytes = DataSetBytes(std::vector<ImuSample>(5, kRest));
        bytes.append(static_cast<size_t>(r), '\x11');
        WriteFile(dir / "t.bin", bytes);
        EXPECT_EQ(ReadAll(dir / "t.bin").size(), 5u) << r;
    }
}

TEST(DataSet, ReadsSeveralRecordsAtOnce)
{
    TempDir dir;
    WriteDataSet(dir / "m.bin", {ImuSample{1, 0, 0, 0, 0, 0}, ImuSample{2, 0, 0, 0, 0, 0}, kRest});
    DataSet* ds = DataSetOpen((dir / "m.bin").c_str());
    ASSERT_NE(ds, nullptr);
    ImuSample buf[4];
    EXPECT_EQ(DataSetRead(ds, buf, 2), 2);
    EXPECT_EQ(buf[1].accX, 2);
    EXPECT_EQ(DataSetRead(ds, buf, 4), 1);
    EXPECT_EQ(DataSetRead(ds, buf, 4), 0);
    DataSetClose(ds);
}

// The reader reads ahead in blocks of 4096 records: records on both sides
// of a block's end, requests that span blocks, a trailing piece after
// several blocks and reads past the end all come out as one record at a
// time would.
TEST(DataSet, RecordsAcrossReadAheadBlocksComeOutInOrder)
{
    TempDir dir;
    std::vector<ImuSample> samples;
    for (int i = 0; i < 3 * 4096 + 5; ++i) {
        const auto v = static_cast<int16_t>(i * 7 - 30000);
        samples.push_back(
            ImuSample{v, static_cast<int16_t>(-v), static_cast<int16_t>(i), 1, 2, static_cast<int16_t>(i % 300)});
    }
    std::string bytes = DataSetBytes(samples, 31);  // records from byte 31
    bytes.append(11, '\x7f');                       // and a trailing piece
    WriteFile(dir / "long.bin", bytes);

    DataSet* ds = DataSetOpen((dir / "long.bin").c_str());
    ASSERT_NE(ds, nullptr);
    std::vector<ImuSample> read;
    std::vector<ImuSample> buf(5000);
    int request = 1;
    int n;
    while ((n = DataSetRead(ds, buf.data(), request)) > 0) {
        read.insert(read.end(), buf.begin(), buf.begin() + n);
        request = request * 3 % 5000 + 1;  // 1, 4, 13, ... 4000-odd: within and across blocks
    }
    EXPECT_EQ(DataSetRead(ds, buf.data(), 1), 0);
    EXPECT_EQ(DataSetRead(ds, buf.data(), 5000), 0);
    DataSetClose(ds);

    ASSERT_EQ(read.size(), samples.size());
    for (size_t i = 0; i < samples.size(); ++i) {
        ASSERT_EQ(ValuesOf(read[i]), ValuesOf(samples[i])) << "record " << i;
    }
    EXPECT_EQ(ReadAll(dir / "long.bin").size(), samples.size());
}

TEST(ReplayBin, WritesOneTraceLinePerRecordBesideTheInput)
{
    TempDir dir;
    WriteDataSet(dir / "walk.bin", std::vector<ImuSample>(70, kRest));
    EXPECT_EQ(ReplayBinFile((dir / "walk.bin").c_str()), 0);
    EXPECT_EQ(LineCount(ReadFile(dir / "walk.txt")), 70u);
    EXPECT_EQ(fpTrace, nullptr);
}

TEST(ReplayBin, PositionAtOrPastTheEndGivesAnEmptyTrace)
{
    TempDir dir;
    std::string bytes = DataSetBytes({});
    WriteFile(dir / "end.bin", bytes);
    EXPECT_EQ(ReplayBinFile((dir / "end.bin").c_str()), 0);
    EXPECT_EQ(ReadFile(dir / "end.txt"), "");

    WriteFile(dir / "past.bin", DataSetBytes({kRest}, 4000).substr(0, 30));
    EXPECT_EQ(ReplayBinFile((dir / "past.bin").c_str()), 0);
    EXPECT_EQ(ReadFile(dir / "past.txt"), "");
}

TEST(ReplayBin, RefusedInputCreatesNoTrace)
{
    TempDir dir;
    std::string bytes = DataSetBytes({kRest});
    bytes[17] = '!';
    WriteFile(dir / "bad.bin", bytes);
    EXPECT_EQ(ReplayBinFile((dir / "bad.bin").c_str()), -1);
    EXPECT_FALSE(PathExists(dir / "bad.txt"));
    EXPECT_EQ(ReplayBinFile((dir / "missing.bin").c_str()), -1);
    EXPECT_FALSE(PathExists(dir / "missing.txt"));
}

TEST(ReplayBin, TraceThatCannotBeCreatedFailsTheReplay)
{
    TempDir dir;
    WriteDataSet(dir / "a.bin", {kRest});
    std::filesystem::create_directory(dir / "a.txt");  // the trace's name is taken by a folder
    EXPECT_EQ(ReplayBinFile((dir / "a.bin").c_str()), -1);
    EXPECT_EQ(fpTrace, nullptr);
}

TEST(ReplayBin, ReplayingAgainOverwritesTheTrace)
{
    TempDir dir;
    WriteDataSet(dir / "r.bin", std::vector<ImuSample>(50, kRest));
    ASSERT_EQ(ReplayBinFile((dir / "r.bin").c_str()), 0);
    const std::string first = ReadFile(dir / "r.txt");
    WriteDataSet(dir / "r.bin", std::vector<ImuSample>(45, kRest));
    ASSERT_EQ(ReplayBinFile((dir / "r.bin").c_str()), 0);
    const std::string second = ReadFile(dir / "r.txt");
    EXPECT_EQ(LineCount(second), 45u);
    EXPECT_EQ(first.substr(0, second.size()), second);
}

TEST(ReplayBin, AnInputIsNeverOverwrittenByItsOwnTrace)
{
    TempDir dir;
    WriteDataSet(dir / "odd.txt", {kRest});
    const std::string before = ReadFile(dir / "odd.txt");
    EXPECT_EQ(ReplayBinFile((dir / "odd.txt").c_str()), -1);
    EXPECT_EQ(ReadFile(dir / "odd.txt"), before);
}

}  // namespace
