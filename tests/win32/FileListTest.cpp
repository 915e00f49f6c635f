// Both shapes of the picker's file list, and log formatting.
#include <gtest/gtest.h>

#include "app/win32/FileList.h"
#include "batch/AppendLog.h"

using namespace Batch;

namespace {

struct SplitCase {
    const char* label;
    std::string list;
    std::string folder;
    std::vector<std::string> names;
};

class SplitFileListTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitFileListTest, GivesFolderAndNames) {
    const SplitCase& c = GetParam();
    const SplitFileListResult split = SplitFileList(c.list.c_str());
    EXPECT_EQ(split.folder, c.folder);
    EXPECT_EQ(split.names, c.names);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Shapes, SplitFileListTest,
    ::testing::Values(SplitCase{"FullPath", "/home/u/pics/a.tga\0\0"s, "/home/u/pics", {"a.tga"}},
                      SplitCase{"CutAtLastSlash", "a/b/c.tga\0\0"s, "a/b", {"c.tga"}},
                      SplitCase{"FileAtTheRoot", "/x.tga\0\0"s, "/", {"x.tga"}},
                      SplitCase{"NoFolderPart", "x.tga\0\0"s, "", {"x.tga"}},
                      SplitCase{"TrailingSlashNamesNoFile", "dir/\0\0"s, "dir", {}},
                      SplitCase{"FolderAndNamesInListOrder",
                                "/p\0z.tga\0a.tga\0m.tga\0\0"s,
                                "/p",
                                {"z.tga", "a.tga", "m.tga"}},
                      SplitCase{
                          "RootFolderAndNames", "/\0a.tga\0b.tga\0\0"s, "/", {"a.tga", "b.tga"}},
                      SplitCase{"Empty", "\0\0"s, "", {}}),
    [](const auto& testCase) { return std::string(testCase.param.label); });

TEST(SplitFileListTest, NullListIsEmpty) {
    EXPECT_TRUE(SplitFileList(nullptr).names.empty());
}

TEST(JoinPathTest, PutsExactlyOneSlashBetween) {
    EXPECT_EQ(JoinPath("/out", "a.tga"), "/out/a.tga");
    EXPECT_EQ(JoinPath("/", "a.tga"), "/a.tga");
    EXPECT_EQ(JoinPath("out/", "a.tga"), "out/a.tga");
    EXPECT_EQ(JoinPath("", "a.tga"), "a.tga");
}

TEST(AppendLogTest, NeverCutsLongTexts) {
    const std::string longPath(5000, 'p');
    std::string text = "start ";
    AppendLog(text, "->%s/%s...", longPath.c_str(), "a.tga");
    EXPECT_EQ(text, "start ->" + longPath + "/a.tga...");
}

TEST(AppendLogTest, SinkReceivesTheFormattedText) {
    struct Sink : LogSink {
        void Clear() override {}
        void Append(std::string_view added) override { text += added; }
        std::string text;
    } sink;
    AppendLog(sink, "%s: %d\n", "n", 7);
    EXPECT_EQ(sink.text, "n: 7\n");
}

}  // namespace
