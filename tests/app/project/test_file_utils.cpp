#include "AppErrors.h"
#include "MFileUtils.h"
#include "ProjectTestSupport.h"

#include "ui/testing.h"

#include <fstream>

using namespace MFileUtils;

namespace {

TEST(PosixFileNames, PartsOfAnAbsolutePath) {
    long n = 0, e = 0, r = 0;
    GetDirExt("/home/ann/data.set.txp", n, e, r);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(n, 11);  // 'd'
    EXPECT_EQ(e, 19);  // the last '.'
    EXPECT_EQ(GetFileBase("/home/ann/data.set.txp"), "data.set");
    EXPECT_EQ(GetFileName("/home/ann/data.set.txp"), "data.set.txp");
    EXPECT_EQ(GetFileDir("/home/ann/data.set.txp"), "/home/ann/");
    EXPECT_EQ(FullPathOf("/home/ann/../bob/./x.txp"), "/home/bob/x.txp");
}

TEST(PosixFileNames, NoExtensionRootAndDotInFolder) {
    long n = 0, e = 0, r = 0;
    GetDirExt("/a.b/name", n, e, r);
    EXPECT_EQ(e, 10);  // Len + 1: the dot in the folder does not count
    EXPECT_EQ(n, 6);
    EXPECT_EQ(GetFileBase("/a.b/name"), "name");
    EXPECT_EQ(GetFileDir("/x.txp"), "/");
    EXPECT_EQ(GetFileName("/x.txp"), "x.txp");
    GetDirExt("/", n, e, r);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(e, 2);
}

TEST(PosixFileNames, RelativePathsAreMadeAbsolute) {
    const std::string cwd = std::filesystem::current_path().string();
    EXPECT_EQ(FullPathOf("p.txp"), cwd + "/p.txp");
    EXPECT_EQ(GetFileDir("p.txp"), cwd + "/");
    long n = 0, e = 0, r = 0;
    GetDirExt("rel/x.y", n, e, r);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(n, 5);
    EXPECT_EQ(e, 6);
}

TEST(PosixFileNames, EmptyPathsGiveEmptyText) {
    EXPECT_EQ(GetFileBase(""), "");
    EXPECT_EQ(GetFileName(""), "");
    EXPECT_EQ(GetFileDir(""), "");
    EXPECT_EQ(FullPathOf(""), "");
    EXPECT_EQ(GetLongFileName(""), "");
    EXPECT_FALSE(FileExists(""));
}

TEST(PosixFileNames, BadNameRaises52AfterTheBox) {
    ui::ScopedRecorder boxes;
    long n = 0, e = 0, r = 0;
    try {
        GetDirExt(std::string("/a\0b", 4), n, e, r);
        FAIL() << "no error";
    } catch (const app::RuntimeError& err) {
        EXPECT_EQ(err.Number(), 52);
    }
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].title, "Utilities::GetDirExt");
    EXPECT_EQ(boxes.calls[0].text, "Error: 52. \nBad file name or number");
}

TEST(PosixFileNames, ExistenceAndLongNames) {
    testsupport::TempDir dir;
    const std::string file = dir.File("Mixed Case.txp");
    EXPECT_FALSE(FileExists(file));
    std::ofstream(file) << "x";
    EXPECT_TRUE(FileExists(file));
    EXPECT_TRUE(FileExists(dir.Path().string()));  // folders answer too
    EXPECT_EQ(GetLongFileName(dir.Path().string() + "/"), dir.Path().string());
    EXPECT_EQ(GetLongFileName(file), file);
}

}  // namespace
