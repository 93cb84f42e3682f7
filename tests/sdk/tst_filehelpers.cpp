#include "filehelpers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Folder
{
    Folder()
        : path(fs::temp_directory_path() /
               ("filehelpers-" + std::to_string(std::random_device{}())))
    {
        fs::create_directories(path);
    }
    ~Folder() { fs::remove_all(path); }
    std::string file(const char* name) const { return (path / name).string(); }
    fs::path path;
};

std::string contents(const std::string& path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// The caps and the refusals every platform gives the same way.
TEST(FileHelpers, readsARegularFileWithinItsCap)
{
    Folder folder;
    const std::string path = folder.file("ten");
    std::ofstream(path, std::ios::binary) << "0123456789";
    const struct
    {
        size_t maxBytes;
        bool cut;
        FileResult result;
        const char* text;
    } rows[] = {
        {10, false, FileResult::Ok, "0123456789"},
        {9, false, FileResult::TooLarge, ""},
        {4, true, FileResult::Ok, "0123"},
    };
    for (const auto& row : rows) {
        ReadOptions options;
        options.maxBytes = row.maxBytes;
        options.cutAtLimit = row.cut;
        std::string text = "old";
        int code = 0;
        EXPECT_EQ(readRegularFile(path, options, text, code), row.result) << row.maxBytes;
        EXPECT_EQ(text, row.text);
    }
    ReadOptions options;
    options.maxBytes = 100;
    std::string text;
    int code = 0;
    EXPECT_EQ(readRegularFile(folder.file("missing"), options, text, code), FileResult::Failed);
    EXPECT_NE(fileErrorText(code), "");
    EXPECT_EQ(pathKind(path), PathKind::Regular);
    EXPECT_EQ(pathKind(folder.file("missing")), PathKind::Missing);
    EXPECT_EQ(pathKind(folder.path.string()), PathKind::Other);
    EXPECT_TRUE(isWritableFolder(folder.path.string()));
    EXPECT_FALSE(isWritableFolder(path));
}

TEST(FileHelpers, createsOnlyNewFilesAndAppendsWholeLines)
{
    Folder folder;
    const std::string path = folder.file("new");
    int code = 0;
    EXPECT_EQ(writeNewFile(path, "first", code), FileResult::Ok);
    EXPECT_EQ(writeNewFile(path, "second", code), FileResult::Exists);
    FileResult created = FileResult::Ok;
    EXPECT_EQ(createNewFile(path, created, code), nullptr);
    EXPECT_EQ(created, FileResult::Exists);
    EXPECT_EQ(contents(path), "first");

    // A file without a last line end gets one before the record; an empty
    // or new one gets the header first.
    EXPECT_EQ(appendRecord(path, "head\n", "a\n", code), FileResult::Ok);
    const std::string rows = folder.file("rows");
    EXPECT_EQ(appendRecord(rows, "head\n", "a\n", code), FileResult::Ok);
    EXPECT_EQ(appendRecord(rows, "head\n", "b\n", code), FileResult::Ok);
    EXPECT_EQ(contents(path), "first\na\n");
    EXPECT_EQ(contents(rows), "head\na\nb\n");
}

} // namespace
