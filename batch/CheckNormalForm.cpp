#include "batch/CheckNormalForm.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>

#include "batch/AppendLog.h"
#include "batch/ConvertOneFile.h"
#include "batch/ShownName.h"
#include "codec/ReadTGA.h"
#include "codec/RunLengthRows.h"
#include "codec/TGAHeader.h"
#include "codec/WriteTGA.h"
#include "files/SystemReason.h"
#include "gfxstream/ComparingOutputStream.h"
#include "gfxstream/Exception.h"
#include "gfxstream/MappedFileInputStream.h"
#include "gfxstream/OutputStream.h"

using namespace Codec;
using namespace Files;

namespace Batch {

namespace {

constexpr char kFooterSignature[] = "TRUEVISION-XFILE.";  // and its NUL: 18 bytes

std::string Format(const char* format, unsigned long long value) {
    std::string text;
    AppendLog(text, format, value);
    return text;
}

// Whether a run-length packet carries on from one stored row into the next,
// which many tools cannot read. `pixels` is the file, at its start; the
// file has already been read whole.
bool PacketsCrossRows(const TGAHeader& header, GFXStream::InputStream& pixels) {
    pixels.Skip(static_cast<std::uint32_t>(TGAHeader::kSize + header.idLength +
                                           ColourMapOf(header).regionBytes));
    std::vector<std::uint8_t> row(std::size_t{header.width} * header.BytesPerPixel());
    PacketCarry carry;
    for (std::uint32_t y = 0; y < header.height; ++y) {
        ReadRunLengthRow(row.data(), pixels, header.width, header.BytesPerPixel(), carry);
        if (carry.left != 0) {
            return true;
        }
    }
    return false;
}

// What the header and the bytes after the pixels say about the ways the file
// differs from its rewritten form.
// `file` is the file, at its start; `lastBytes` are its last 18 bytes when
// it has at least that many after the pixels.
std::vector<std::string> ReasonsFor(const TGAHeader& header, const Image& image,
                                    GFXStream::InputStream& file, const std::uint8_t* lastBytes,
                                    std::uint64_t fileSize, std::uint64_t pixelEnd) {
    std::vector<std::string> reasons;
    if (header.IsRunLength()) {
        reasons.emplace_back("run-length");
        if (PacketsCrossRows(header, file)) {
            reasons.emplace_back("run-length packets cross rows");
        }
    }
    if (header.IsTopDown()) {
        reasons.emplace_back("top-down");
    }
    if (header.IsRightToLeft()) {
        reasons.emplace_back("right-to-left");
    }
    if ((header.imageDescriptor & 0xCF) != 0) {
        reasons.emplace_back("attribute bits in the image descriptor");
    }
    if (header.idLength != 0) {
        reasons.emplace_back("image ID");
    }
    if (header.ImageClassBits() == 3 && header.pixelDepth == 8) {
        reasons.emplace_back("greyscale");
    }
    const bool indexed =
        (image.bitsPerPixel == 8 || image.imageClass == ImageClass::ColourMapped) &&
        image.paletteSize != 0;
    if (header.HasColourMap() && header.ImageClassBits() == 1) {
        if (header.colorMapEntrySize != 24) {
            reasons.push_back(Format("%llu-bit colour map", header.colorMapEntrySize));
        }
        if (header.firstEntryIndex != 0) {
            reasons.push_back(Format("colour map starting at entry %llu", header.firstEntryIndex));
        }
    } else if (header.HasColourMap() && !indexed) {
        reasons.emplace_back("unused colour map");
    }
    if (fileSize > pixelEnd) {
        const std::uint64_t extra = fileSize - pixelEnd;
        const std::size_t signatureSize = sizeof kFooterSignature;
        if (extra >= 26 && lastBytes != nullptr &&
            std::memcmp(lastBytes, kFooterSignature, signatureSize) == 0) {
            reasons.emplace_back("footer");
        } else {
            reasons.push_back(Format("%llu bytes after the pixels", extra));
        }
    }
    return reasons;
}

const char* MessageOf(const GFXStream::Exception& caught) {
    return caught.message != nullptr ? caught.message : GFXStream::kNoMessageText;
}

// Moves the stream `n` bytes on or back, 32 bits at a time.
void SkipForward(GFXStream::InputStream& stream, std::uint64_t n) {
    while (n > 0) {
        const auto part = static_cast<std::uint32_t>(std::min<std::uint64_t>(n, 0x7FFFFFFF));
        if (stream.Skip(part) != part) {
            return;
        }
        n -= part;
    }
}

void Rewind(GFXStream::MappedFileInputStream& stream) {
    while (stream.Offset() > 0) {
        stream.SkipBack(
            0, static_cast<std::uint32_t>(std::min<std::uint64_t>(stream.Offset(), 0x7FFFFFFF)));
    }
}

CheckResult Check(const char* path) {
    CheckResult result;
    GFXStream::MappedFileInputStream file;
    if (!file.Open(path)) {
        const std::string& reason = file.WhyNot();
        result.error = kUnableToOpenText;
        if (!reason.empty()) {
            result.error += " (" + reason + ")";
        }
        return result;
    }
    // Everything is read from the mapping: the header, the image, the bytes
    // after it and, once more, the whole file to compare it with what the
    // writer makes of the image. No copy of the file is held.
    const std::uint64_t fileSize = file.Size();
    std::uint8_t headerBytes[TGAHeader::kSize] = {};
    file.SkipBack(0, file.Read(headerBytes, TGAHeader::kSize));
    const std::unique_ptr<Image> image = ReadTGA(file, nullptr, nullptr);
    const std::uint64_t pixelEnd = file.Offset();
    std::uint8_t lastBytes[sizeof kFooterSignature] = {};
    const bool hasLastBytes = fileSize - pixelEnd >= sizeof lastBytes;
    if (hasLastBytes) {
        SkipForward(file, fileSize - pixelEnd - sizeof lastBytes);
        file.Read(lastBytes, sizeof lastBytes);
    }
    Rewind(file);
    ComparingOutputStream rewritten(file);
    WriteTGA(rewritten, *image, false);

    if (rewritten.SameAsOriginal()) {
        result.outcome = CheckOutcome::Normal;
        return result;
    }
    const TGAHeader header = TGAHeader::Decode(headerBytes);  // ReadTGA read at least this
    Rewind(file);
    result.reasons =
        ReasonsFor(header, *image, file, hasLastBytes ? lastBytes : nullptr, fileSize, pixelEnd);
    if (result.reasons.empty()) {
        result.reasons.emplace_back("header fields");
    }
    result.outcome = CheckOutcome::NotNormal;
    return result;
}

}  // namespace

CheckResult CheckNormalForm(const char* path) noexcept {
    try {
        return Check(path);
    } catch (const GFXStream::Exception& caught) {
        CheckResult failed;
        failed.error = MessageOf(caught);
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
