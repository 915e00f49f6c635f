#include "batch/CheckNormalForm.h"

#include <exception>
#include <new>

#include "batch/ConvertOneFile.h"
#include "batch/ShownName.h"
#include "codec/NormalForm.h"
#include "gfxstream/Exception.h"
#include "gfxstream/MappedFileInputStream.h"

namespace Batch {

namespace {

// Opens `path` for reading, or says in `result` why it cannot be.
bool OpenForCheck(GFXStream::MappedFileInputStream& file, const char* path, CheckResult& result) {
    if (file.Open(path)) {
        return true;
    }
    const std::string& reason = file.WhyNot();
    result.error = kUnableToOpenText;
    if (!reason.empty()) {
        result.error += " (" + reason + ")";
    }
    return false;
}

CheckResult Check(const char* path, bool keepAlphaBits) {
    CheckResult result;
    GFXStream::MappedFileInputStream file;
    if (!OpenForCheck(file, path, result)) {
        return result;
    }
    Codec::NormalFormCheck check(file, keepAlphaBits);
    if (!check.HeaderIsNormal()) {
        check.NameReasons();
    } else {
        // The file looks normal: it is read once more, from the start, to
        // compare it with what the writer makes of it.
        GFXStream::MappedFileInputStream again;
        if (!OpenForCheck(again, path, result)) {
            return result;
        }
        check.Compare(again);
    }
    result.reasons = check.Reasons();
    result.outcome = result.reasons.empty() ? CheckOutcome::Normal : CheckOutcome::NotNormal;
    return result;
}

}  // namespace

CheckResult CheckNormalForm(const char* path, bool keepAlphaBits) noexcept {
    try {
        return Check(path, keepAlphaBits);
    } catch (const GFXStream::Exception& caught) {
        CheckResult failed;
        failed.error = caught.Text();
        return failed;
    } catch (const std::bad_alloc&) {
        CheckResult failed;
        failed.error = std::string("ReadTGA: ") + kOutOfMemoryText;
        return failed;
    } catch (const std::exception& caught) {
        CheckResult failed;
        failed.error = caught.what();
        return failed;
    }
}

bool AlreadyInNormalForm(GFXStream::ByteRangeInputStream& input, bool keepAlphaBits) noexcept {
    const std::uint64_t start = input.Offset();
    bool normal = false;
    try {
        normal = Codec::NormalFormCheck(input, keepAlphaBits).HeaderIsNormal();
    } catch (...) {
        // The conversion reads the file again and says what is wrong with it.
    }
    try {
        input.Seek(start);
    } catch (...) {
        return false;
    }
    return normal;
}

std::string FormatCheckLine(const std::string& name, const CheckResult& result) {
    std::string line = ShownName(name);
    switch (result.outcome) {
        case CheckOutcome::Normal:
            line += ": normal form\n";
            break;
        case CheckOutcome::NotNormal:
            line += ": not in normal form:";
            for (std::size_t i = 0; i < result.reasons.size(); ++i) {
                line += i == 0 ? " " : ", ";
                line += result.reasons[i];
            }
            line += "\n";
            break;
        case CheckOutcome::Failed:
            line += result.error.rfind(kUnableToOpenText, 0) == 0 ? ": " : ": Error: ";
            line += result.error;
            line += "\n";
            break;
    }
    return line;
}

}  // namespace Batch
