// The Win32 streams against what the system itself can refuse: missing and
// empty files, folders and devices, files held open by someone else, a full
// device, files beyond 4 GiB, and a replacement whose target is in use.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

#include "Win32TestSupport.h"
#include "gfxstream/Exception.h"
#include "gfxstream/FileOutputStream.h"
#include "gfxstream/MappedFileInputStream.h"
#include "support/MessageOf.h"
#include "support/Replacing.h"

using namespace Files;

using GFXStream::FileOutputStream;
using GFXStream::MappedFileInputStream;

namespace {

DWORD HandleCount() {
    DWORD count = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &count);
    return count;
}

HANDLE Hold(const std::string& path, DWORD access, DWORD share) {
    return ::CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
}

}  // namespace

TEST(MappedFileInputStreamWin32, RefusesWhatCannotBeMappedAndReleasesEverything) {
    TempFolder folder;
    ASSERT_TRUE(WriteWholeFile(folder / "empty.tga", {}));
    ASSERT_TRUE(WriteWholeFile(folder / "one.tga", {0x5A}));
    const DWORD before = HandleCount();
    MappedFileInputStream in;
    EXPECT_FALSE(in.Open((folder / "missing.tga").c_str()));
    EXPECT_FALSE(in.Open((folder / "empty.tga").c_str()));  // a mapping of 0 bytes is refused
    EXPECT_FALSE(in.Open(folder.Path().c_str()));
    EXPECT_FALSE(in.Open("NUL"));
    EXPECT_FALSE(in.IsOpen());
    EXPECT_EQ(HandleCount(), before);
    in.Close();

    ASSERT_TRUE(in.Open((folder / "one.tga").c_str()));
    EXPECT_FALSE(in.Open((folder / "one.tga").c_str()));  // already open: nothing changes
    EXPECT_EQ(in.ReadByte(), 0x5A);
    EXPECT_EQ(MessageOf([&] { in.ReadByte(); }), GFXStream::kUnexpectedEndText);
    in.Close();
    in.Close();
    EXPECT_EQ(HandleCount(), before);
}

TEST(MappedFileInputStreamWin32, SharesTheFileWithReadersOnly) {
    TempFolder folder;
    const std::string path = folder / "image.tga";
    ASSERT_TRUE(WriteWholeFile(path, {1, 2, 3, 4}));
    MappedFileInputStream in;

    // Held by someone else: without any sharing, or by a writer.
    for (const auto& [access, share] : {std::pair<DWORD, DWORD>{GENERIC_READ, 0},
                                        {GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE}}) {
        const HANDLE other = Hold(path, access, share);
        ASSERT_NE(other, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(in.Open(path.c_str()));
        ::CloseHandle(other);
    }
    // Another reader does not stand in the way.
    const HANDLE reader = Hold(path, GENERIC_READ, FILE_SHARE_READ);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(in.Open(path.c_str()));
    ::CloseHandle(reader);

    // While the stream maps the file, nobody may write it; reading is fine.
    const HANDLE writer = Hold(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    if (writer != INVALID_HANDLE_VALUE) {
        ::CloseHandle(writer);
    }
    const HANDLE secondReader = Hold(path, GENERIC_READ, FILE_SHARE_READ);
    EXPECT_NE(secondReader, INVALID_HANDLE_VALUE);
    ::CloseHandle(secondReader);
    EXPECT_EQ(in.ReadDword(), 0x04030201u);
    in.Close();

    // Once closed, the file is free again: it can be replaced.
    EXPECT_TRUE(WriteWholeFile(path, {9}));
}

TEST(MappedFileInputStreamWin32, MapsFilesOf4GiBAndMoreWhole) {
    TempFolder folder;
    const std::string path = folder / "sparse.tga";
    const LONGLONG size = (LONGLONG{1} << 32) + 6;
    {
        const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD unused = 0;
        ::DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &unused, nullptr);
        const auto writeAt = [&](LONGLONG offset, const void* data, DWORD n) {
            LARGE_INTEGER at;
            at.QuadPart = offset;
            DWORD written = 0;
            return ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
                   ::WriteFile(file, data, n, &written, nullptr) && written == n;
        };
        const std::uint8_t across[4] = {1, 2, 3, 4};  // straddles offset 2^32
        const std::uint8_t tail[2] = {0xEE, 0xFF};
        const bool ok = writeAt((LONGLONG{1} << 32) - 2, across, 4) && writeAt(size - 2, tail, 2);
        ::CloseHandle(file);
        if (!ok) {
            GTEST_SKIP() << "no room for a sparse 4 GiB file here";
        }
    }
    MappedFileInputStream in;
    ASSERT_TRUE(in.Open(path.c_str()));
    EXPECT_EQ(in.Size(), static_cast<std::uint64_t>(size));
    EXPECT_EQ(in.Skip(UINT32_MAX), UINT32_MAX);
    EXPECT_EQ(in.SkipBack(0, 1), 1u);
    EXPECT_EQ(in.ReadDword(), 0x04030201u);
    EXPECT_EQ(in.Remaining(), 4u);
    EXPECT_EQ(in.Skip(2), 2u);
    EXPECT_EQ(in.ReadWord(), 0xFFEE);
}

TEST(FileOutputStreamWin32, OpenFailsOnFilesHeldWithoutSharingAndSharesWithReaders) {
    TempFolder folder;
    const std::string path = folder / "out.tga";
    ASSERT_TRUE(WriteWholeFile(path, {1}));
    FileOutputStream out;
    const HANDLE other = Hold(path, GENERIC_READ, 0);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(out.Open(path.c_str(), true));
    Files::ReplacementFile replacement;
    EXPECT_FALSE(replacement.Open((folder / "missing\\out.tga").c_str()));
    ::CloseHandle(other);
    EXPECT_TRUE(ReadWholeFile(path) == Bytes{1});  // nothing was emptied

    ASSERT_TRUE(out.Open(path.c_str(), false));
    out.Write("23", 2);
    out.Flush();
    const HANDLE reader = Hold(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    ::CloseHandle(reader);
    EXPECT_EQ(Hold(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE), INVALID_HANDLE_VALUE);
    out.Close();
    EXPECT_TRUE(ReadWholeFile(path) == (Bytes{1, '2', '3'}));
}

TEST(FileOutputStreamWin32, ReplacementLeavesTheTargetWholeUntilCommitAndWhenCommitFails) {
    TempFolder folder;
    const std::string target = folder / "image.tga";
    const Bytes original = {'o', 'l', 'd'};
    ASSERT_TRUE(WriteWholeFile(target, original));

    // The target is in use by a process that lets nobody delete or rename
    // it: the move fails, the old content stays, the temporary file goes.
    {
        Replacing replacing;
        ASSERT_TRUE(replacing.Open(target.c_str()));
        replacing.out.Write("new", 3);
        EXPECT_EQ(folder.Entries().size(), 2u);
        const HANDLE user = Hold(target, GENERIC_READ, FILE_SHARE_READ);
        ASSERT_NE(user, INVALID_HANDLE_VALUE);
        EXPECT_EQ(MessageOf([&] { replacing.Commit(); }), std::string(Files::kUnableToRenameText));
        ::CloseHandle(user);
        replacing.Discard();
        EXPECT_TRUE(ReadWholeFile(target) == original);
        EXPECT_EQ(folder.Entries(), std::vector<std::string>{"image.tga"});
    }

    // Free again: the new content replaces the old in one move.
    Replacing replacing;
    ASSERT_TRUE(replacing.Open(target.c_str()));
    replacing.out.Write("new", 3);
    EXPECT_TRUE(ReadWholeFile(target) == original);
    replacing.Commit();
    EXPECT_TRUE(ReadWholeFile(target) == (Bytes{'n', 'e', 'w'}));
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"image.tga"});

    // A folder, or a file marked read-only, is never replaced.
    ::CreateDirectoryA((folder / "sub.tga").c_str(), nullptr);
    EXPECT_FALSE(replacing.Open((folder / "sub.tga").c_str()));
    ::SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(replacing.Open(target.c_str()));
    EXPECT_EQ(folder.Entries().size(), 2u);
}
