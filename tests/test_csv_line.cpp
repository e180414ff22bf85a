// The reading rules of one CSV line, without files.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "csv_line.h"

namespace {

using Values = std::array<int, 6>;

Values ValuesOf(const ImuSample& s)
{
    return Values{s.accX, s.accY, s.accZ, s.gyroX, s.gyroY, s.gyroZ};
}

bool Parse(const std::string& piece, bool micom, CsvRow* row)
{
    return ParseCsvLine(piece.data(), piece.size(), micom, row);
}

// Expects the piece to be kept with this row number and these values.
void ExpectRow(const std::string& piece, bool micom, int rowNumber, const Values& values)
{
    CsvRow row{};
    ASSERT_TRUE(Parse(piece, micom, &row)) << piece;
    EXPECT_EQ(row.rowNumber, rowNumber) << piece;
    EXPECT_EQ(ValuesOf(row.data), values) << piece;
}

void ExpectSkipped(const std::string& piece)
{
    CsvRow row{};
    EXPECT_FALSE(Parse(piece, false, &row)) << piece;
}

TEST(CsvLine, OnlyADigitOrAMinusSignStartsAKeptLine)
{
    for (const char* piece :
         {"", "\n", "\r\n", " 1,0,0,0,0,0,0", "\t1,0,0,0,0,0,0", "walk,0,0,0,0,0,0", "\"1\",0,0,0,0,0,0",
          "+1,0,0,0,0,0,0", "#1,0,0,0,0,0,0", ",1,0,0,0,0,0,0", "\xb9,0,0,0,0,0,0", "\xd9\xa1,0,0,0,0,0,0"}) {
        ExpectSkipped(piece);
    }
    ExpectRow("0,1,2,3,4,5,6", false, 0, {1, 2, 3, 4, 5, 6});
    ExpectRow("-,1,2,3,4,5,6", false, 0, {1, 2, 3, 4, 5, 6});
}

TEST(CsvLine, FieldsAreSplitLikeStrtokAndReadLikeAtoi)
{
    ExpectRow("130,0.98,-0.5,3.7,1.2,0,0", false, 130, {0, 0, 3, 1, 0, 0});
    ExpectRow("131,,5,,-5,0,0,0,0", false, 131, {5, -5, 0, 0, 0, 0});
    ExpectRow("132,1,2,3,4,5,6,extra,99", false, 132, {1, 2, 3, 4, 5, 6});
    ExpectRow("133,12abc,-3x, 4,\t-5,+6,\v7", false, 133, {12, -3, 4, -5, 6, 7});
    ExpectRow("1,- 5,--5,+-5,-,+,x", false, 1, {0, 0, 0, 0, 0, 0});
    ExpectRow("-1.5,0,0,0,0,0,0", false, kOffsetRowNumber, {0, 0, 0, 0, 0, 0});
    ExpectRow("-1abc,7,0,0,0,0,0", false, kOffsetRowNumber, {7, 0, 0, 0, 0, 0});
}

TEST(CsvLine, MicomScalesTheValuesButNotTheRowNumber)
{
    ExpectRow("3,1,0,0,2,0,0", true, 3, {100, 0, 0, 200, 0, 0});
    ExpectRow("-1,1,-2,0,0,0,0", true, kOffsetRowNumber, {100, -200, 0, 0, 0, 0});
    ExpectRow("5,0.98,1.5,-0.5,0,0,0", true, 5, {0, 100, 0, 0, 0, 0});
}

TEST(CsvLine, ShortLinesAreSkippedWhole)
{
    for (const char* piece : {"130,10,20", "130,5,-5,7", "1,2,3,4,5,6", "1,2,3,4,5,6\n", "1,,,,2,3,4,5,6,,,", "7"}) {
        ExpectSkipped(piece);
    }
}

TEST(CsvLine, LineEndsBelongToTheLastField)
{
    ExpectRow("1,2,3,4,5,6,7\n", false, 1, {2, 3, 4, 5, 6, 7});
    ExpectRow("1,2,3,4,5,6,7\r\n", false, 1, {2, 3, 4, 5, 6, 7});
    // A trailing comma leaves the line end as a seventh field, read as 0.
    ExpectRow("1,2,3,4,5,6,\r\n", false, 1, {2, 3, 4, 5, 6, 0});
}

TEST(CsvLine, OutOfRangeValuesKeepTheirLow16Bits)
{
    ExpectRow("134,40000,-40000,32768,-32769,65536,65537", false, 134, {-25536, 25536, -32768, 32767, 0, 1});
    // Clamped to the int range first: INT_MAX keeps 0xffff, INT_MIN 0x0000.
    ExpectRow("135,99999999999,-99999999999,2147483647,-2147483648,2147483648,1", false, 135, {-1, 0, -1, 0, -1, 1});
    ExpectRow("1,327,328,-328,21474837,99999999999,-99999999999", true, 1, {32700, -32736, 32736, 52, -100, 0});
    ExpectRow("99999999999,0,0,0,0,0,0", false, INT_MAX, {0, 0, 0, 0, 0, 0});
    ExpectRow("-99999999999,0,0,0,0,0,0", false, INT_MIN, {0, 0, 0, 0, 0, 0});
}

TEST(CsvLine, ReadsNoFurtherThanTheSizeOrAZeroByte)
{
    // No terminating zero: the sanitizers catch a read past the buffer.
    const std::string text = "1,2,3,4,5,6,78";
    std::vector<char> exact(text.begin(), text.end());
    CsvRow row{};
    ASSERT_TRUE(ParseCsvLine(exact.data(), exact.size(), false, &row));
    EXPECT_EQ(row.data.gyroZ, 78);
    ASSERT_TRUE(ParseCsvLine(exact.data(), exact.size() - 1, false, &row));
    EXPECT_EQ(row.data.gyroZ, 7);
    EXPECT_FALSE(ParseCsvLine(exact.data(), 5, false, &row));
    EXPECT_FALSE(ParseCsvLine(nullptr, 0, false, &row));

    ExpectSkipped(std::string("1,2,3,4,5,6\0,7", 14));
    ExpectRow(std::string("1,2,3,4,5,6,7\0009", 15), false, 1, {2, 3, 4, 5, 6, 7});
    ExpectSkipped(std::string("\0001,2,3,4,5,6,7", 14));
}

// The same rules built from the C library itself: strtok on ",", strtol
// clamped to the int range.
bool ReferenceParse(const std::string& bytes, bool micom, CsvRow* row)
{
    std::string text(bytes.c_str());
    if (text.empty() || !((text[0] >= '0' && text[0] <= '9') || text[0] == '-')) {
        return false;
    }
    std::vector<char> buf(text.begin(), text.end());
    buf.push_back('\0');
    long fields[7];
    int count = 0;
    for (char* tok = std::strtok(buf.data(), ","); tok != nullptr && count < 7; tok = std::strtok(nullptr, ",")) {
        const long v = std::strtol(tok, nullptr, 10);
        fields[count++] = v < INT_MIN ? INT_MIN : (v > INT_MAX ? INT_MAX : v);
    }
    if (count < 7) {
        return false;
    }
    row->rowNumber = static_cast<int>(fields[0]);
    int16_t* out[6] = {&row->data.accX,  &row->data.accY,  &row->data.accZ,
                       &row->data.gyroX, &row->data.gyroY, &row->data.gyroZ};
    for (int i = 0; i < 6; ++i) {
        const long long v = fields[i + 1] * (micom ? 100LL : 1LL);
        const unsigned bits = static_cast<unsigned>(static_cast<unsigned long long>(v) & 0xffffu);
        *out[i] = static_cast<int16_t>(bits >= 0x8000u ? static_cast<int>(bits) - 0x10000 : static_cast<int>(bits));
    }
    return true;
}

TEST(CsvLine, AgreesWithTheCLibraryOnRandomPieces)
{
    static const char kBytes[] = "0123456789-+,,,, \t\r\n.x\0\xff";
    const std::string alphabet(kBytes, sizeof kBytes - 1);
    std::mt19937 rng(12345);
    int kept = 0;
    for (int n = 0; n < 20000; ++n) {
        std::string piece(1, "0123456789-x"[rng() % 12]);
        const size_t length = rng() % 60;
        while (piece.size() < length) {
            // Mostly commas and short fields; long runs of nines reach the
            // clamping.
            const unsigned pick = rng() % 8;
            if (pick < 3) {
                piece += ',';
            } else if (pick == 3) {
                piece += std::string(1 + rng() % 12, '9');
            } else {
                piece += alphabet[rng() % alphabet.size()];
            }
        }
        const bool micom = rng() % 2 == 0;
        CsvRow got{};
        CsvRow want{};
        const bool gotKept = Parse(piece, micom, &got);
        ASSERT_EQ(gotKept, ReferenceParse(piece, micom, &want)) << piece;
        if (gotKept) {
            ++kept;
            ASSERT_EQ(got.rowNumber, want.rowNumber) << piece;
            ASSERT_EQ(ValuesOf(got.data), ValuesOf(want.data)) << piece;
        }
    }
    EXPECT_GT(kept, 1000);
}

TEST(CsvLine, OffsetIsAddedWithWrapAround)
{
    const ImuSample sum =
        AddOffset(ImuSample{30000, -30000, 1, -1, 32767, -32768}, ImuSample{10000, -10000, -1, 1, 1, -1});
    EXPECT_EQ(ValuesOf(sum), (Values{-25536, 25536, 0, 0, -32768, 32767}));
}

}  // namespace
