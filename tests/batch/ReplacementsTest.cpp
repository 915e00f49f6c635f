// The files a dialog asks about before a batch writes over them: each file
// once, by whatever name the plan reaches it; originals told apart; a folder
// in the way not counted.
#include <gtest/gtest.h>

#include <filesystem>

#include "batch/Replacements.h"
#include "support/Files.h"
#include "support/TempDir.h"

TEST(FindReplacements, CountsEachExistingFileOnceAndTellsOriginals) {
    TempDir dir;
    WriteBytes(dir / "a.tga", Bytes(4, 1));
    WriteBytes(dir / "old.tga", Bytes(4, 2));
    std::filesystem::create_hard_link(dir / "old.tga", dir / "also-old.tga");
    std::filesystem::create_directory(dir / "folder.tga");
    Batch::BatchPlan plan;
    plan.jobs = {
        {dir / "a.tga", "a.tga", dir / "a.tga"},         // in place: an original
        {dir / "b.tga", "b.tga", dir / "old.tga"},       // an earlier file
        {dir / "c.tga", "c.tga", dir / "also-old.tga"},  // the same one again
        {dir / "d.tga", "d.tga", dir / "folder.tga"},    // a folder: its job fails
        {dir / "e.tga", "e.tga", dir / "new.tga"},       // nothing there
    };
    const Batch::Replacements found = Batch::FindReplacements(plan);
    EXPECT_EQ(found.count, 2u);
    EXPECT_EQ(found.originals, 1u);
}
