// The rules for the files a command reads and writes: what an output may
// replace, how it is replaced, and what text inputs are accepted. Devices
// are made with mknod in the test's own folder (skipped where that is not
// allowed); nothing outside it is touched.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>

#include "file_rules.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

// A character device like the system's null device, in dir; false when
// this process may not make one.
bool MakeNullDevice(const std::string& path)
{
    return mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
}

std::string Refusal(const std::vector<FilesOutput>& outputs, const FilesReads& reads = {})
{
    std::string error;
    EXPECT_FALSE(FilesCheckOutputs(outputs, reads, &error));
    return error;
}

TEST(FileRules, OutputsRefuseWhatIsNoRegularFile)
{
    TempDir dir;
    WriteFile(dir / "kept.json", "kept");
    fs::create_directory(dir / "folder");
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_symlink("fifo", dir / "to-fifo");
    fs::create_symlink("folder", dir / "to-folder");
    fs::create_symlink("missing", dir / "dangling");
    WriteFile(dir / "other.json", "other");
    fs::create_symlink("other.json", dir / "to-other");
    const std::pair<const char*, const char*> cases[] = {
        {"folder", ": is a folder; "},
        {"fifo", ": is a FIFO, not a regular file; "},
        {"to-fifo", ": is a link to a FIFO, not a regular file; "},
        {"to-folder", ": is a link to a folder; "},
        {"dangling", ": is a link to a missing file; "},
        {"nofolder/x.json", ": cannot be written (no writable folder "},
    };
    for (const auto& [name, message] : cases) {
        const std::string error = Refusal({{"--json", dir / name, true}});
        EXPECT_EQ(error.rfind("--json " + dir / name + message, 0), 0u) << error;
    }
    if (MakeNullDevice(dir / "null")) {
        EXPECT_NE(Refusal({{"--csv", dir / "null", true}}).find(": is a character device, not a regular file"),
                  std::string::npos);
        EXPECT_TRUE(fs::is_character_file(dir / "null"));
    } else {
        std::printf("no character device made here (mknod not permitted): that case is skipped\n");
    }
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = dir / "sock";
    if (sock >= 0 && socketPath.size() < sizeof address.sun_path) {
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
        if (bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            EXPECT_NE(Refusal({{"--html", socketPath, true}}).find("is a socket, not a regular file"),
                      std::string::npos);
        }
    }
    if (sock >= 0) {
        close(sock);
    }
    // A regular file, a link to one and a new name are fine.
    std::string error;
    EXPECT_TRUE(FilesCheckOutputs(
        {{"--json", dir / "kept.json", false}, {"--csv", dir / "to-other", true}, {"--html", dir / "new", true}}, {},
        &error))
        << error;
}

TEST(FileRules, OutputsRefuseInputsSearchedNamesAndEachOther)
{
    TempDir dir;
    fs::create_directories(dir / "data/sub");
    WriteFile(dir / "data/walk.bin", "x");
    WriteFile(dir / "m.csv", "path,label\n");
    fs::create_hard_link(dir / "m.csv", dir / "hard.csv");
    FilesReads reads;
    reads.files = {dir / "m.csv", dir / "data/walk.bin"};
    reads.folders = {dir / "data"};
    reads.patterns = {dir / "p*.csv"};
    EXPECT_NE(Refusal({{"--json", dir / "hard.csv", true}}, reads).find("which this command reads"), std::string::npos);
    EXPECT_NE(Refusal({{"--csv", dir / "data/./sub/../walk.bin", true}}, reads).find("which this command reads"),
              std::string::npos);
    // Names that a search of the same arguments would read as recordings.
    for (const std::string& name : {dir / "data/sub/new.csv", dir / "data/x.bin", dir / "p1.csv"}) {
        EXPECT_NE(Refusal({{"--csv", name, true}}, reads).find("would be read as one"), std::string::npos) << name;
    }
    std::string error;
    EXPECT_TRUE(
        FilesCheckOutputs({{"--json", dir / "data/report.json", true}, {"--csv", dir / "q1.csv", true}}, reads, &error))
        << error;
    // A folder to write into: a folder or nothing yet, outside the search.
    EXPECT_TRUE(FilesCheckOutputFolder("--traces", dir / "new/traces", reads, &error)) << error;
    EXPECT_FALSE(FilesCheckOutputFolder("--traces", dir / "data/sub/t", reads, &error));
    EXPECT_EQ(error, "--traces " + dir / "data/sub/t" + ": lies in " + dir / "data" +
                         ", which this command searches for recordings; choose a folder outside the recordings");
    EXPECT_FALSE(FilesCheckOutputFolder("--traces", dir / "m.csv", reads, &error));
    EXPECT_EQ(error, "--traces " + dir / "m.csv" + ": is a file, not a folder");
    // Two outputs on one file, standard output twice or where not allowed,
    // and an empty name.
    EXPECT_EQ(Refusal({{"--best", dir / "b", true}, {"--html", dir / "data/../b", true}}),
              "--html " + dir / "data/../b" + ": is also the file of --best; give each output its own file");
    EXPECT_EQ(Refusal({{"--json", "-", true}, {"--csv", "-", true}}),
              "--csv -: --json writes to standard output already; give one of them a file");
    EXPECT_EQ(Refusal({{"--out", "-", false}}), "--out -: needs a file (standard output is not possible here)");
    EXPECT_EQ(Refusal({{"--json", "", true}}), "--json: the file name is empty");
}

TEST(FileRules, WriterReplacesWholeOrNotAtAll)
{
    TempDir dir;
    WriteFile(dir / "r.json", "old");
    chmod((dir / "r.json").c_str(), 0640);
    fs::create_symlink("r.json", dir / "link.json");
    std::string error;
    // Through the link: the link stays, its target is replaced and keeps
    // its permissions.
    ASSERT_TRUE(FilesWriteWhole(dir / "link.json", "new", &error)) << error;
    EXPECT_TRUE(fs::is_symlink(dir / "link.json"));
    EXPECT_EQ(ReadFile(dir / "r.json"), "new");
    EXPECT_EQ(fs::status(dir / "r.json").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    // An abandoned output leaves neither a change nor a temporary file.
    FilesWriter writer;
    ASSERT_TRUE(FilesWriterOpen(&writer, dir / "r.json", &error));
    FilesWriterWrite(&writer, "half");
    FilesWriterAbandon(&writer);
    EXPECT_EQ(ReadFile(dir / "r.json"), "new");
    // A name that became a FIFO while the output was written is left alone.
    ASSERT_TRUE(FilesWriterOpen(&writer, dir / "later", &error));
    ASSERT_EQ(mkfifo((dir / "later").c_str(), 0600), 0);
    FilesWriterWrite(&writer, "text");
    EXPECT_FALSE(FilesWriterCommit(&writer, &error));
    EXPECT_NE(error.find("is a FIFO, not a regular file now; not replaced"), std::string::npos) << error;
    EXPECT_TRUE(fs::is_fifo(dir / "later"));
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path())) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"later", "link.json", "r.json"}));
    if (MakeNullDevice(dir / "full-like")) {
        // Writing into a device is no business of the writer: refused by
        // the checks before, and never renamed over.
        ASSERT_TRUE(FilesWriterOpen(&writer, dir / "full-like", &error));
        EXPECT_FALSE(FilesWriterCommit(&writer, &error));
        EXPECT_TRUE(fs::is_character_file(dir / "full-like"));
    }
}

TEST(FileRules, TextInputsAreRegularSaneAndWithoutMark)
{
    TempDir dir;
    std::string text;
    std::string reason;
    WriteFile(dir / "bom.csv", "\xEF\xBB\xBFpath,label\r\na.bin,fall\n");
    ASSERT_TRUE(FilesReadText(dir / "bom.csv", &text, &reason)) << reason;
    EXPECT_EQ(text, "path,label\r\na.bin,fall\n");

    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_FALSE(FilesReadText(dir / "fifo", &text, &reason));  // returns at once: never opened
    EXPECT_EQ(reason, "not a regular file (a FIFO)");
    fs::create_directory(dir / "folder");
    EXPECT_FALSE(FilesCheckInput(dir / "folder", &reason));
    EXPECT_EQ(reason, "not a regular file (a folder)");
    fs::create_symlink("missing", dir / "dangling");
    EXPECT_FALSE(FilesCheckInput(dir / "dangling", &reason));
    EXPECT_EQ(reason, "no such file (a link to a missing file)");

    // Beyond the limits: a sparse file larger than 64 MiB, a line over
    // 1 MiB, a zero byte.
    {
        FILE* big = std::fopen((dir / "big.csv").c_str(), "w");
        ASSERT_NE(big, nullptr);
        ASSERT_EQ(ftruncate(fileno(big), static_cast<off_t>(kTextMaxBytes + 1)), 0);
        std::fclose(big);
    }
    EXPECT_FALSE(FilesReadText(dir / "big.csv", &text, &reason));
    EXPECT_EQ(reason, "larger than 64 MiB, the limit for this file");
    WriteFile(dir / "line.csv", "path,label\n" + std::string(kTextMaxLine + 1, 'a') + "\n");
    EXPECT_FALSE(FilesReadText(dir / "line.csv", &text, &reason));
    EXPECT_EQ(reason, "line 2 is longer than 1 MiB, the limit for a line");
    WriteFile(dir / "zero.csv", std::string("path\0", 5));
    EXPECT_FALSE(FilesReadText(dir / "zero.csv", &text, &reason));
    EXPECT_EQ(reason, "holds a zero byte: not a text file");
}

TEST(FileRules, LinesComeWholeAndWithinTheLimit)
{
    TempDir dir;
    WriteFile(dir / "rows", "\xEF\xBB\xBF# head\n\nrow 1\ncut sho");
    FilesLineReader in;
    std::string reason;
    ASSERT_TRUE(FilesLinesOpen(&in, dir / "rows", &reason));
    std::vector<std::pair<std::string, bool>> lines;
    while (FilesLinesNext(&in, &reason) > 0) {
        lines.emplace_back(in.line, in.complete);
    }
    EXPECT_EQ(lines, (std::vector<std::pair<std::string, bool>>{
                         {"# head", true}, {"", true}, {"row 1", true}, {"cut sho", false}}));
    EXPECT_EQ(in.bytes, 3u + 7u + 1u + 6u);  // up to the end of the last complete line
    FilesLinesClose(&in);

    WriteFile(dir / "long", "ok\n" + std::string(kTextMaxLine + 1, 'x'));
    ASSERT_TRUE(FilesLinesOpen(&in, dir / "long", &reason));
    EXPECT_EQ(FilesLinesNext(&in, &reason), 1);
    EXPECT_EQ(FilesLinesNext(&in, &reason), -1);
    EXPECT_EQ(reason, "line 2 is longer than 1 MiB, the limit for a line");
    FilesLinesClose(&in);
}

}  // namespace
