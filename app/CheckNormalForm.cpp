#include "app/CheckNormalForm.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>

#include "app/AppendLog.h"
#include "app/ConvertOneFile.h"
#include "gfxstream/Exception.h"
#include "gfxstream/MappedFileInputStream.h"
#include "gfxstream/MemoryInputStream.h"
#include "gfxstream/MemoryOutputStream.h"
#include "gfxstream/OutputStream.h"
#include "image/ReadTGA.h"
#include "image/RunLengthRows.h"
#include "image/TGAHeader.h"
#include "image/WriteTGA.h"

namespace {

constexpr char kFooterSignature[] = "TRUEVISION-XFILE.";  // and its NUL: 18 bytes

std::string Format(const char* format, unsigned long long value) {
    std::string text;
    AppendLog(text, format, value);
    return text;
}

// Whether a run-length packet carries on from one stored row into the next,
// which many tools cannot read. The file has already been read whole.
bool PacketsCrossRows(const TGAHeader& header, const std::uint8_t* fileBytes,
                      std::uint64_t fileSize) {
    GFXStream::MemoryInputStream pixels(fileBytes, static_cast<std::size_t>(fileSize));
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
std::vector<std::string> ReasonsFor(const TGAHeader& header, const Image& image,
                                    const std::uint8_t* fileBytes, std::uint64_t fileSize,
                                    std::uint64_t pixelEnd) {
    std::vector<std::string> reasons;
    if (header.IsRunLength()) {
        reasons.emplace_back("run-length");
        if (PacketsCrossRows(header, fileBytes, fileSize)) {
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
        if (extra >= 26 && std::memcmp(fileBytes + fileSize - signatureSize, kFooterSignature,
                                       signatureSize) == 0) {
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

CheckResult Check(const char* path) {
    CheckResult result;
    GFXStream::MappedFileInputStream file;
    if (!file.Open(path)) {
        result.error = kUnableToOpenText;
        return result;
    }
    // The bytes are compared with the rewritten form, so the file is copied
    // into memory once and read from there.
    const std::uint64_t fileSize = file.Size();
    std::vector<std::uint8_t> fileBytes(static_cast<std::size_t>(fileSize));
    const auto copied = fileSize > 0xFFFFFFFFu
                            ? 0
                            : file.Read(fileBytes.data(), static_cast<std::uint32_t>(fileSize));
    file.Close();
    if (copied != fileSize) {
        result.error = kUnableToOpenText;
        return result;
    }

    GFXStream::MemoryInputStream input(fileBytes.data(), fileBytes.size());
    const std::unique_ptr<Image> image = ReadTGA(input, nullptr, nullptr);
    const std::uint64_t pixelEnd = input.Offset();
    GFXStream::MemoryOutputStream rewritten;
    WriteTGA(rewritten, *image, false);

    if (rewritten.bytes == fileBytes) {
        result.outcome = CheckOutcome::Normal;
        return result;
    }
    std::uint8_t headerBytes[TGAHeader::kSize];
    std::memcpy(headerBytes, fileBytes.data(), TGAHeader::kSize);  // ReadTGA read at least this
    const TGAHeader header = TGAHeader::Decode(headerBytes);
    result.reasons = ReasonsFor(header, *image, fileBytes.data(), fileSize, pixelEnd);
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
    std::string line = name;
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
            line += result.error == kUnableToOpenText ? ": " : ": Error: ";
            line += result.error;
            line += "\n";
            break;
    }
    return line;
}
