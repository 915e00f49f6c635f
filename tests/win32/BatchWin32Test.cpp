// The batch in the Windows build: picker-shaped lists with backslashes, the
// log with "\", and rewriting files in place, which on Windows
// works only if the source is no longer mapped when it is replaced.
#include <gtest/gtest.h>

#include <string>

#include "Win32TestSupport.h"
#include "app/win32/ConvertFiles.h"
#include "batch/LogSink.h"
#include "support/PickerList.h"
#include "support/RecordingLog.h"

using namespace Batch;

namespace {

// The log with the system's reasons, " (...)" before each line break, left
// out: their wording is the system's own and differs between versions.
std::string WithoutReasons(std::string text) {
    for (std::size_t end = text.find(")\n"); end != std::string::npos;
         end = text.find(")\n", end)) {
        const std::size_t open = text.rfind(" (", end);
        text.erase(open, end + 1 - open);
        end = open;
    }
    return text;
}

}  // namespace

TEST(BatchWin32, FolderAndNamesAreLoggedWithBackslashesAndCarriageReturns) {
    TempFolder source;
    TempFolder destination;
    ASSERT_TRUE(WriteWholeFile(source / "a.tga", TopDownImage()));
    ASSERT_TRUE(WriteWholeFile(source / "bad.tga", UnsupportedImage()));
    ASSERT_TRUE(WriteWholeFile(source / "c.tga", TopDownImage()));
    RecordingLog log;
    log.text = "previous batch";

    const ConvertSummary summary = ConvertFiles(
        log, destination.Path().c_str(),
        PickerList(source.Path(), {"a.tga", "bad.tga", "missing.tga", "c.tga"}).c_str());

    const std::string dest = destination.Path();
    EXPECT_EQ(log.clears, 1);
    EXPECT_NE(log.text.find("missing.tga: Unable to open file ("), std::string::npos) << log.text;
    EXPECT_EQ(WithoutReasons(log.text), "a.tga->" + dest + "\\a.tga...Done\n" +
                                            "bad.tgaError: ReadTGA: Unsupported image type\n" +
                                            "missing.tga: Unable to open file\n" + "c.tga->" +
                                            dest + "\\c.tga...Done\n");
    EXPECT_EQ(summary.converted, 2u);
    EXPECT_EQ(summary.failed, 2u);
    EXPECT_TRUE(ReadWholeFile(destination / "a.tga") == TopDownImageRewritten());
    EXPECT_TRUE(ReadWholeFile(destination / "c.tga") == TopDownImageRewritten());
    EXPECT_FALSE(Exists(destination / "bad.tga"));
}

TEST(BatchWin32, SinglePathIsCutAtItsLastSeparatorOfEitherKind) {
    TempFolder source;
    TempFolder destination;
    ASSERT_TRUE(::CreateDirectoryA((source / "sub").c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(source / "sub\\one.tga", TopDownImage()));

    for (const std::string& path : {source / "sub\\one.tga", source.Path() + "\\sub/one.tga"}) {
        RecordingLog log;
        ConvertFiles(log, destination.Path().c_str(), PickerList(path).c_str());
        EXPECT_EQ(log.text, "one.tga->" + destination.Path() + "\\one.tga...Done\n") << path;
        EXPECT_TRUE(ReadWholeFile(destination / "one.tga") == TopDownImageRewritten());
        ::DeleteFileA((destination / "one.tga").c_str());
    }

    // A destination given with its own trailing backslash gets no second one.
    RecordingLog log;
    ConvertFiles(log, (destination.Path() + "\\").c_str(),
                 PickerList(source / "sub\\one.tga").c_str());
    EXPECT_EQ(log.text, "one.tga->" + destination.Path() + "\\one.tga...Done\n");
}

TEST(BatchWin32, DestinationEqualToSourceRewritesEachFileInPlace) {
    TempFolder folder;
    ASSERT_TRUE(WriteWholeFile(folder / "x.tga", TopDownImage()));
    ASSERT_TRUE(WriteWholeFile(folder / "y.tga", TopDownImage()));
    RecordingLog log;

    ConvertFiles(log, folder.Path().c_str(), PickerList(folder.Path(), {"x.tga", "y.tga"}).c_str());

    EXPECT_EQ(log.text, "x.tga->" + folder.Path() + "\\x.tga...Done\ny.tga->" + folder.Path() +
                            "\\y.tga...Done\n");
    EXPECT_TRUE(ReadWholeFile(folder / "x.tga") == TopDownImageRewritten());
    EXPECT_TRUE(ReadWholeFile(folder / "y.tga") == TopDownImageRewritten());
    EXPECT_EQ(folder.Entries().size(), 2u);  // no temporary file is left behind
}

TEST(BatchWin32, DestinationHeldOpenByAnotherProgramKeepsItsContent) {
    TempFolder source;
    TempFolder destination;
    ASSERT_TRUE(WriteWholeFile(source / "a.tga", TopDownImage()));
    ASSERT_TRUE(WriteWholeFile(source / "b.tga", TopDownImage()));
    const Bytes old = {'o', 'l', 'd'};
    ASSERT_TRUE(WriteWholeFile(destination / "a.tga", old));
    const HANDLE user =
        ::CreateFileA((destination / "a.tga").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(user, INVALID_HANDLE_VALUE);
    RecordingLog log;

    ConvertFiles(log, destination.Path().c_str(),
                 PickerList(source.Path(), {"a.tga", "b.tga"}).c_str());
    ::CloseHandle(user);

    EXPECT_EQ(WithoutReasons(log.text),
              "a.tga->" + destination.Path() +
                  "\\a.tga...Error: Unable to move the new file into place\nb.tga->" +
                  destination.Path() + "\\b.tga...Done\n");
    EXPECT_TRUE(ReadWholeFile(destination / "a.tga") == old);
    EXPECT_EQ(destination.Entries().size(), 2u);
}
