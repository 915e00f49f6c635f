// The normal form is written from the file a window and a row at a time:
// a picture larger than the whole address space the process may take
// converts, byte-exact, in every layout that is read differently, and
// --check answers for the file and its output just as well.
#include <gtest/gtest.h>

#include "HardeningSupport.h"

namespace {

TEST(MemoryBound, PictureLargerThanTheAddressSpaceLimitConverts) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit cannot be combined with the address sanitizer";
#else
    constexpr std::uint64_t kLimit = std::uint64_t{48} << 20;  // the picture takes 64 MiB
    const struct {
        const char* name;
        std::uint8_t imageType;
        std::uint8_t descriptor;
    } layouts[] = {
        {"bottom-up.tga", 2, 0x00},
        {"top-down-right-to-left.tga", 2, 0x30},
        {"run-length-top-down.tga", 10, 0x20},
    };
    ScratchDir scratch;
    for (const auto& layout : layouts) {
        SCOPED_TRACE(layout.name);
        TgaSpec spec;
        spec.imageType = layout.imageType;
        spec.descriptor = layout.descriptor;
        spec.width = spec.height = 4096;
        spec.depth = 32;
        const Bytes file = MakeTga(spec);
        WriteBytes(scratch / layout.name, file);
        ProcessOptions options;
        options.addressSpaceLimit = kLimit;
        const ProcessResult run =
            RunCli({"-j", "1", "-o", scratch / "out", scratch / layout.name}, options);
        EXPECT_EQ(run.exitStatus, 0) << run.output;
        EXPECT_TRUE(ReadBytes(scratch / (std::string("out/") + layout.name)) == NormalForm(file));
        const ProcessResult check = RunCli(
            {"--check", scratch / layout.name, scratch / (std::string("out/") + layout.name)},
            options);
        EXPECT_NE(check.output.find("out/" + std::string(layout.name) + ": normal form\n"),
                  std::string::npos)
            << check.output;
        EXPECT_NE(check.output.find(", 0 failed\n"), std::string::npos) << check.output;
    }
#endif
}

}  // namespace
