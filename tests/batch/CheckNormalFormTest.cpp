// The normal-form check on the bundled samples and on the batch's output.
#include <gtest/gtest.h>

#include "batch/CheckNormalForm.h"
#include "batch/ConvertJobs.h"
#include "gfxstream/MappedFileInputStream.h"
#include "support/AppTestSupport.h"
#include "support/Jobs.h"

using namespace Batch;

namespace {

const std::string kSamples = std::string(TESSARY_SOURCE_DIR) + "/samples";

struct SampleCase {
    const char* file;
    std::vector<std::string> reasons;
};

class SampleCheckTest : public ::testing::TestWithParam<SampleCase> {};

TEST_P(SampleCheckTest, NamesWhyTheSampleNeedsRepairAndItsRepairIsNormal) {
    const SampleCase& c = GetParam();
    const std::string path = kSamples + "/" + c.file;
    const CheckResult before = CheckNormalForm(path.c_str(), false);
    ASSERT_EQ(before.outcome, CheckOutcome::NotNormal) << before.error;
    EXPECT_EQ(before.reasons, c.reasons);

    TempDir temp;
    RecordingLog log;
    ConvertJobs(log, JobsFor(kSamples, {c.file}, temp.Path()));
    const CheckResult after = CheckNormalForm((temp / c.file).c_str(), false);
    EXPECT_EQ(after.outcome, CheckOutcome::Normal) << log.text;
    EXPECT_TRUE(after.reasons.empty());
}

INSTANTIATE_TEST_SUITE_P(Samples, SampleCheckTest,
                         ::testing::Values(SampleCase{"run-length.tga", {"run-length"}},
                                           SampleCase{"top-down.tga", {"top-down"}},
                                           SampleCase{"right-to-left.tga", {"right-to-left"}},
                                           SampleCase{"image-id.tga", {"image ID"}},
                                           SampleCase{"colour-map-16bit.tga",
                                                      {"16-bit colour map"}},
                                           SampleCase{"greyscale.tga", {"greyscale"}},
                                           SampleCase{"footer.tga", {"footer"}},
                                           SampleCase{"run-length-top-right-16bit.tga",
                                                      {"run-length", "top-down", "right-to-left"}}),
                         [](const auto& testCase) {
                             std::string name = testCase.param.file;
                             name = name.substr(0, name.size() - 4);
                             for (char& ch : name) {
                                 if (ch == '-') {
                                     ch = '_';
                                 }
                             }
                             return name;
                         });

TEST(CheckNormalFormTest, StrayBytesAfterThePixelsAreCounted) {
    TempDir temp;
    Bytes bytes = ExpectedPlainTGA(2, 2);
    bytes.insert(bytes.end(), {1, 2, 3});
    WriteFileBytes(temp / "a.tga", bytes);

    const CheckResult result = CheckNormalForm((temp / "a.tga").c_str(), false);

    EXPECT_EQ(result.reasons, std::vector<std::string>{"3 bytes after the pixels"});
}

TEST(CheckNormalFormTest, DifferencesNoPartOfTheLayoutNamesAreHeaderFields) {
    TempDir temp;
    Bytes bytes = ExpectedPlainTGA(2, 2);
    bytes[5] = 4;  // a colour-map length left behind without a colour map
    WriteFileBytes(temp / "a.tga", bytes);

    const CheckResult result = CheckNormalForm((temp / "a.tga").c_str(), false);

    EXPECT_EQ(result.reasons, std::vector<std::string>{"header fields"});
}

TEST(CheckNormalFormTest, RunLengthPacketsAcrossRowsAreNamed) {
    TempDir temp;
    Bytes bytes = ExpectedPlainTGA(2, 2);
    bytes.resize(18);
    bytes[2] = 10;
    bytes[16] = 8;
    bytes.insert(bytes.end(), {0x82, 7, 0x00, 8});  // a run of 3 over 2 rows
    WriteFileBytes(temp / "a.tga", bytes);

    const CheckResult result = CheckNormalForm((temp / "a.tga").c_str(), false);

    EXPECT_EQ(result.reasons,
              (std::vector<std::string>{"run-length", "run-length packets cross rows"}));
}

TEST(CheckNormalFormTest, UnreadableFilesFailWithTheConversionsTexts) {
    TempDir temp;
    Bytes cut = ExpectedPlainTGA(4, 4);
    cut.resize(20);
    WriteFileBytes(temp / "cut.tga", cut);

    const CheckResult missing = CheckNormalForm((temp / "none.tga").c_str(), false);
    const CheckResult truncated = CheckNormalForm((temp / "cut.tga").c_str(), false);

    EXPECT_EQ(FormatCheckLine("none.tga", missing),
              "none.tga: Unable to open file (No such file or directory)\n");
    EXPECT_EQ(FormatCheckLine("cut.tga", truncated),
              "cut.tga: Error: ReadTGA: Unexpected end of input\n");
}

TEST(CheckNormalFormTest, LinesNameEveryReason) {
    CheckResult result;
    result.outcome = CheckOutcome::NotNormal;
    result.reasons = {"run-length", "footer"};
    EXPECT_EQ(FormatCheckLine("a.tga", result), "a.tga: not in normal form: run-length, footer\n");
    EXPECT_EQ(FormatCheckLine("a.tga", CheckResult{CheckOutcome::Normal, {}, {}}),
              "a.tga: normal form\n");
}

// The skip's look at header and colour map agrees with the whole check, which
// compares the pixels too, on the samples, their repairs, one byte more, and
// bit flips of the first 32; it leaves the file at its start for the
// conversion.
TEST(AlreadyNormalTest, AgreesWithTheWholeCheck) {
    TempDir temp;
    RecordingLog log;
    const auto agree = [](const std::string& path) {
        for (const bool keep : {false, true}) {
            GFXStream::MappedFileInputStream input;
            const bool probed = input.Open(path.c_str()) && AlreadyInNormalForm(input, keep);
            EXPECT_EQ(probed, CheckNormalForm(path.c_str(), keep).outcome == CheckOutcome::Normal)
                << path << (keep ? " keeping alpha bits" : "");
            EXPECT_EQ(input.Offset(), 0u) << path;
        }
    };
    for (const std::string& name : ListFolder(kSamples)) {
        agree(kSamples + "/" + name);
        ConvertJobs(log, JobsFor(kSamples, {name}, temp.Path()));
        Bytes repaired = ReadFileBytes(temp / name);
        for (std::size_t bit = 0; bit < 8 * std::min<std::size_t>(repaired.size(), 32); ++bit) {
            Bytes changed = repaired;
            changed[bit / 8] = static_cast<std::uint8_t>(changed[bit / 8] ^ (1u << (bit % 8)));
            WriteFileBytes(temp / "changed", changed);
            agree(temp / "changed");
        }
        repaired.push_back(0);
        WriteFileBytes(temp / "longer", repaired);
        agree(temp / "longer");
    }
}

}  // namespace
