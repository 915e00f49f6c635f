// Files that replace existing ones are put in place in groups: a group due
// is flushed on the committer's own thread while the batch goes on, and the
// texts still come in the batch's order.
#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "batch/GroupedCommit.h"
#include "files/FileSystem.h"
#include "files/ReplacementFile.h"
#include "support/Files.h"
#include "support/TempDir.h"

TEST(GroupedCommit, FlushesOnItsOwnThreadAndEmitsInOrder) {
    TempDir dir;
    constexpr std::size_t kFiles = 7;
    constexpr std::size_t kFailed = 3;  // nothing to commit: its text waits its turn
    std::vector<std::size_t> order;
    std::map<std::size_t, std::thread::id> emittedOn;
    {
        Batch::GroupedCommit commits(
            [&](std::size_t index, Batch::FileResult&) {
                order.push_back(index);
                emittedOn[index] = std::this_thread::get_id();
            },
            2);
        for (std::size_t i = 0; i < kFiles; ++i) {
            Batch::FileResult result;
            if (i != kFailed) {
                const std::string target = dir / ("f" + std::to_string(i));
                WriteBytes(target, {1});
                Files::ReplacementFile file;
                ASSERT_TRUE(file.Open(target.c_str()));
                const std::uint8_t content[] = {2, static_cast<std::uint8_t>(i)};
                ASSERT_EQ(Files::WriteSome(file.Handle(), content, 2), 2);
                result.finished = file.Finish(2);
            }
            commits.Record(i, std::move(result));
        }
        commits.Finish();
    }
    EXPECT_EQ(order, (std::vector<std::size_t>{0, 1, 2, 3, 4, 5, 6}));
    // The second file filled the batch's allowance: its group went to the
    // committer, and the batch did not wait for the flush.
    EXPECT_NE(emittedOn[1], std::this_thread::get_id());
    for (std::size_t i = 0; i < kFiles; ++i) {
        if (i != kFailed) {
            EXPECT_EQ(ReadBytes(dir / ("f" + std::to_string(i))),
                      (Bytes{2, static_cast<std::uint8_t>(i)}));
        }
    }
}
