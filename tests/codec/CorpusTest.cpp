// Every file of the public corpus, read in place: it decodes to the pixels
// the manifest records and to the picture of its reference decode, and it
// survives being written and read again; or, when the manifest calls it
// broken, it is refused with a reader message and never crashes.
#include <openssl/evp.h>
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "codec/WriteTGA.h"
#include "gfxstream/MappedFileInputStream.h"
#include "support/CodecTestSupport.h"
#include "support/Corpus.h"

using namespace Codec;

namespace {

const std::string kCorpus = TESSARY_CORPUS_DIR;

using Row = std::map<std::string, std::string>;

std::vector<Row> ReadTable(const std::string& name) {
    std::ifstream in(kCorpus + "/" + name);
    std::vector<Row> rows;
    std::vector<std::string> columns;
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> cells;
        std::stringstream split(line);
        for (std::string cell; std::getline(split, cell, '\t');) {
            cells.push_back(cell);
        }
        cells.resize(std::max(cells.size(), columns.size()));
        if (columns.empty()) {
            columns = cells;
            continue;
        }
        Row row;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            row[columns[i]] = cells[i];
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

// Files whose outcome here differs from what the manifest's flags alone
// suggest, each with the reason. Any other file flagged truncated or
// malformed must be refused; any other file must decode, packets across
// rows included.
const std::map<std::string, std::string>& Refusals() {
    static const std::map<std::string, std::string> refused = {
        // Pixel Depth 15 is not a whole number of bytes per pixel.
        {"lunapaint/tombexcavator/rgb15.tga", "ReadTGA: Unsupported bit depth"},
        {"lunapaint/tombexcavator/rgb15rle.tga", "ReadTGA: Unsupported bit depth"},
        {"lunapaint/tombexcavator/rgb16rle.tga", "ReadTGA: Unsupported bit depth"},
        // Image Type 0 holds no image.
        {"image-rs/regression/orientation-zero-width.tga", "ReadTGA: Unsupported image type"},
    };
    return refused;
}
const std::map<std::string, std::string>& DecodesDespiteFlags() {
    static const std::map<std::string, std::string> decodes = {
        // Greyscale with an empty colour map of entry size 0: the region is
        // empty, so nothing stands between the header and the pixel.
        {"image-rs/regression/sixteen-bit-gray-colormap2.tga", "empty unused colour map"},
        // The footer's offsets point into the pixels; the reader ignores them.
        {"pillow/cross_scan_line.tga", "footer overlaps the image data"},
    };
    return decodes;
}

struct CorpusFile {
    Row row;
    std::string reference, kind;  // empty when there is none
    const std::string& operator[](const std::string& column) const { return row.at(column); }
    bool Flagged() const { return row.at("truncated") == "1" || row.at("malformed") == "1"; }
    bool Decodes() const {
        const std::string& file = row.at("file");
        return !Refusals().count(file) && (!Flagged() || DecodesDespiteFlags().count(file));
    }
};

void PrintTo(const CorpusFile& f, std::ostream* os) {
    *os << f["file"];
}

const std::vector<CorpusFile>& Corpus() {
    static const std::vector<CorpusFile> all = [] {
        std::map<std::string, std::pair<std::string, std::string>> references;
        for (auto& r : ReadTable("REFERENCES.tsv")) {
            references[r["file"]] = {r["reference"], r["kind"]};
        }
        std::vector<CorpusFile> files;
        for (auto& row : ReadTable("MANIFEST.tsv")) {
            CorpusFile f{row, {}, {}};
            if (auto it = references.find(row["file"]); it != references.end()) {
                f.reference = it->second.first;
                f.kind = it->second.second;
            }
            files.push_back(std::move(f));
        }
        return files;
    }();
    return all;
}

template <typename Keep>
std::vector<CorpusFile> CorpusWhere(Keep keep) {
    std::vector<CorpusFile> kept;
    for (auto& f : Corpus()) {
        if (keep(f)) {
            kept.push_back(f);
        }
    }
    return kept;
}

std::string TestName(const ::testing::TestParamInfo<CorpusFile>& info) {
    std::string name = info.param["file"];
    name = name.substr(0, name.rfind('.'));
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            c = '_';
        }
    }
    return name;
}

std::unique_ptr<Image> ReadCorpusFile(const std::string& file) {
    GFXStream::MappedFileInputStream in;
    if (!in.Open((kCorpus + "/" + file).c_str())) {
        throw std::runtime_error("cannot open " + file);
    }
    return ReadTGA(in, nullptr, nullptr);
}

std::string Sha256(const Bytes& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr);
    std::string hex;
    char two[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(two, sizeof two, "%02x", digest[i]);
        hex += two;
    }
    return hex;
}

}  // namespace

// --- Decoding: the manifest's verdict and pixel hash ---------------------

// Without the corpus the suites below have no cases; this test says so, and
// with it, that its manifest was found.
TEST(Corpus, ManifestIsRead) {
    SKIP_WITHOUT_CORPUS();
    EXPECT_FALSE(Corpus().empty()) << "no rows in " << kCorpus << "/MANIFEST.tsv";
}

class CorpusDecode : public ::testing::TestWithParam<CorpusFile> {};
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CorpusDecode);

TEST_P(CorpusDecode, MatchesManifest) {
    const CorpusFile& f = GetParam();
    std::unique_ptr<Image> image;
    const auto message = MessageOf([&] { image = ReadCorpusFile(f["file"]); });
    if (const auto it = Refusals().find(f["file"]); it != Refusals().end()) {
        EXPECT_EQ(message, it->second);
        return;
    }
    if (!f.Decodes()) {
        ASSERT_TRUE(message.has_value()) << "a broken file was accepted";
        EXPECT_EQ(message->rfind("ReadTGA: ", 0), 0u) << *message;
        // Where the manifest names a single fault, it is the one reported.
        if (f["malformed"] == "0" && f["truncated"] == "1") {
            EXPECT_EQ(message, "ReadTGA: Unexpected end of input");
        }
        if (f["problems"] == "rle_overrun") {
            EXPECT_EQ(message, "ReadTGA: Run-length packet runs past the last pixel of the image");
        }
        return;
    }
    ASSERT_FALSE(message.has_value()) << *message;
    EXPECT_EQ(image->width, std::stoi(f["width"]));
    EXPECT_EQ(image->height, std::stoi(f["height"]));
    EXPECT_EQ(image->xOrigin, std::stoi(f["x_origin"]));
    EXPECT_EQ(image->yOrigin, std::stoi(f["y_origin"]));
    EXPECT_EQ(static_cast<int>(image->imageClass), std::stoi(f["image_type"]) & 7);
    EXPECT_EQ(Sha256(PixelBytes(*image)), f["pixels_sha256"]);
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusDecode, ::testing::ValuesIn(Corpus()), TestName);

// --- Round trip through the writer ---------------------------------------

class CorpusRoundTrip : public ::testing::TestWithParam<CorpusFile> {};
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CorpusRoundTrip);

TEST_P(CorpusRoundTrip, WriteThenReadGivesTheSameImage) {
    const auto original = ReadCorpusFile(GetParam()["file"]);
    const bool indexed =
        original->bitsPerPixel == 8 || original->imageClass == ImageClass::ColourMapped;
    const bool mapWritten = indexed && original->paletteSize != 0;
    const Bytes pixels = PixelBytes(*original);
    for (const bool rle : {false, true}) {
        SCOPED_TRACE(rle ? "run-length" : "uncompressed");
        MemoryOutputStream out;
        WriteTGA(out, *original, rle);
        if (!rle) {
            // Normal form: no image ID, Image Descriptor 0, the colour map
            // and then the rows bottom-up exactly as held in memory.
            EXPECT_EQ(out.bytes[0], 0);
            EXPECT_EQ(out.bytes[17], 0);
            const std::size_t mapBytes = mapWritten ? 3u * std::size_t(original->paletteSize) : 0;
            ASSERT_EQ(out.bytes.size(), 18 + mapBytes + pixels.size());
            EXPECT_TRUE(
                std::equal(pixels.begin(), pixels.end(), out.bytes.begin() + long(18 + mapBytes)));
        }
        const auto again = Decode(out.bytes);
        EXPECT_EQ(again->width, original->width);
        EXPECT_EQ(again->height, original->height);
        EXPECT_EQ(again->xOrigin, original->xOrigin);
        EXPECT_EQ(again->yOrigin, original->yOrigin);
        EXPECT_EQ(again->bitsPerPixel, original->bitsPerPixel);
        EXPECT_EQ(again->imageClass, mapWritten ? ImageClass::ColourMapped : original->imageClass);
        EXPECT_TRUE(PixelBytes(*again) == pixels);
        if (mapWritten) {
            ASSERT_EQ(again->paletteSize, original->paletteSize);
            for (std::uint32_t i = 0; i < std::uint32_t(original->paletteSize); ++i) {
                ASSERT_EQ(again->GetPaletteEntry(i), original->GetPaletteEntry(i)) << i;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusRoundTrip,
                         ::testing::ValuesIn(CorpusWhere([](const CorpusFile& f) {
                             return f.Decodes() && f["duplicate_of"].empty();
                         })),
                         TestName);

// --- Comparison with the reference decodes --------------------------------

namespace {

struct Picture {
    std::uint32_t width = 0, height = 0;
    Bytes rgba;  // rows top-down
    bool hasAlpha = false;
};

Picture LoadPng(const std::string& path) {
    Picture picture;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        return picture;
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(file);
        return Picture{};
    }
    png_init_io(png, file);
    png_read_info(png, info);
    const png_byte colourType = png_get_color_type(png, info);
    picture.hasAlpha =
        (colourType & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    picture.width = png_get_image_width(png, info);
    picture.height = png_get_image_height(png, info);
    picture.rgba.resize(std::size_t{picture.width} * picture.height * 4);
    std::vector<png_bytep> rows(picture.height);
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        rows[y] = picture.rgba.data() + std::size_t{y} * picture.width * 4;
    }
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return picture;
}

using Expand5 = std::uint8_t (*)(unsigned);
std::uint8_t Shift(unsigned v) {
    return static_cast<std::uint8_t>(v << 3);
}
std::uint8_t Replicate(unsigned v) {
    return static_cast<std::uint8_t>(v << 3 | v >> 2);
}
std::uint8_t Round(unsigned v) {
    return static_cast<std::uint8_t>((v * 255 + 15) / 31);
}

// The decoded picture as colours, rows top-down. Palettes from 15/16-bit
// entries hold 5-bit channels shifted up; `expand` re-expands them.
Picture ToRGBA(const Image& image, bool palette5, Expand5 expand) {
    Picture p{std::uint32_t(image.width), std::uint32_t(image.height), {}, false};
    p.rgba.reserve(std::size_t{p.width} * p.height * 4);
    for (std::uint32_t row = 0; row < p.height; ++row) {
        const std::uint32_t y = p.height - 1 - row;
        for (std::uint32_t x = 0; x < p.width; ++x) {
            const std::uint32_t v = image.GetPixel(x, y);
            std::uint8_t c[4] = {0, 0, 0, 255};
            if (image.imageClass == ImageClass::ColourMapped) {
                const PaletteColour e = image.GetPaletteEntry(v);
                c[0] = e.red, c[1] = e.green, c[2] = e.blue;
                if (palette5) {
                    c[0] = expand(e.red >> 3u), c[1] = expand(e.green >> 3u),
                    c[2] = expand(e.blue >> 3u);
                }
            } else if (image.imageClass == ImageClass::Greyscale) {
                c[0] = c[1] = c[2] = static_cast<std::uint8_t>(v);
                if (image.bytesPerPixel == 2) {
                    c[3] = static_cast<std::uint8_t>(v >> 8);
                }
            } else if (image.bytesPerPixel == 2) {
                c[0] = expand(v >> 10 & 31), c[1] = expand(v >> 5 & 31), c[2] = expand(v & 31);
                c[3] = (v & 0x8000) ? 255 : 0;
            } else {
                c[0] = static_cast<std::uint8_t>(v >> 16), c[1] = static_cast<std::uint8_t>(v >> 8);
                c[2] = static_cast<std::uint8_t>(v);
                if (image.bytesPerPixel == 4) {
                    c[3] = static_cast<std::uint8_t>(v >> 24);
                }
            }
            p.rgba.insert(p.rgba.end(), c, c + 4);
        }
    }
    return p;
}

// How a reference decode turned 5-bit channels into 8 bits, found by
// comparing: image-rs rounds v * 255 / 31, every other PNG reference
// replicates the top bits (v << 3 | v >> 2). Either way the comparison is
// exact. The raw dumps hold the 5-bit values themselves.
Expand5 ExpansionFor(const CorpusFile& f) {
    if (f.kind.rfind("raw", 0) == 0) {
        return Shift;
    }
    return f["file"].rfind("image-rs/", 0) == 0 ? Round : Replicate;
}

Picture LoadRaw(const CorpusFile& f) {
    std::ifstream in(kCorpus + "/" + f.reference, std::ios::binary);
    const Bytes raw((std::istreambuf_iterator<char>(in)), {});
    Picture p{
        std::uint32_t(std::stoul(f["width"])), std::uint32_t(std::stoul(f["height"])), {}, false};
    const std::size_t pixels = std::size_t{p.width} * p.height;
    const std::size_t unit = raw.size() / std::max<std::size_t>(pixels, 1);
    for (std::size_t i = 0; i < pixels && unit * pixels == raw.size(); ++i) {
        const std::uint8_t* at = raw.data() + i * unit;
        std::uint8_t c[4] = {at[0], at[0], at[0], 255};
        if (unit == 3) {
            c[1] = at[1], c[2] = at[2];
        } else if (unit == 2) {
            const unsigned v = at[0] | at[1] << 8;
            c[0] = Shift(v >> 10 & 31), c[1] = Shift(v >> 5 & 31), c[2] = Shift(v & 31);
        }
        p.rgba.insert(p.rgba.end(), c, c + 4);
    }
    return p;
}

}  // namespace

class CorpusReference : public ::testing::TestWithParam<CorpusFile> {};
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CorpusReference);

TEST_P(CorpusReference, DecodedPictureMatchesReference) {
    const CorpusFile& f = GetParam();
    const auto image = ReadCorpusFile(f["file"]);
    const bool png = f.reference.size() > 4 && f.reference.substr(f.reference.size() - 4) == ".png";
    const Picture ref = png ? LoadPng(kCorpus + "/" + f.reference) : LoadRaw(f);
    ASSERT_EQ(ref.width, std::uint32_t(image->width));
    ASSERT_EQ(ref.height, std::uint32_t(image->height));
    ASSERT_EQ(ref.rgba.size(), std::size_t{ref.width} * ref.height * 4) << "reference unreadable";

    const bool palette5 = f["colormap_entry_size"] == "15" || f["colormap_entry_size"] == "16";
    Picture ours = ToRGBA(*image, palette5, ExpansionFor(f));
    // Alpha is compared only where the picture keeps one: palettes hold no
    // alpha, every reference takes 16-bit colour as opaque, and an alpha
    // channel that is zero throughout is read by references as opaque.
    // With fewer than 8 attribute bits the reference scales them up.
    bool alpha = ref.hasAlpha && image->imageClass != ImageClass::ColourMapped &&
                 !(image->imageClass == ImageClass::TrueColour && image->bytesPerPixel == 2);
    bool anyAlpha = false;
    const unsigned attributeBits = std::stoul(f["descriptor"], nullptr, 16) & 15;
    for (std::size_t i = 3; i < ours.rgba.size(); i += 4) {
        anyAlpha = anyAlpha || ours.rgba[i] != 0;
        if (image->bytesPerPixel == 4 && attributeBits > 0 && attributeBits < 8) {
            ours.rgba[i] = static_cast<std::uint8_t>(ours.rgba[i] << (8 - attributeBits));
        }
    }
    alpha = alpha && anyAlpha;
    const bool transparentMatchesAll = f["file"].rfind("go-tga/", 0) == 0;

    std::size_t mismatches = 0;
    for (std::size_t i = 0; i < ours.rgba.size(); i += 4) {
        if (transparentMatchesAll && ref.rgba[i + 3] == 0) {
            continue;
        }
        const bool same = std::equal(&ours.rgba[i], &ours.rgba[i + 3], &ref.rgba[i]) &&
                          (!alpha || ours.rgba[i + 3] == ref.rgba[i + 3]);
        if (!same && mismatches++ == 0) {
            ADD_FAILURE() << "first mismatch at pixel " << i / 4 << " (top-down)";
        }
    }
    EXPECT_EQ(mismatches, 0u);
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusReference,
                         ::testing::ValuesIn(CorpusWhere([](const CorpusFile& f) {
                             return f.Decodes() && !f.reference.empty();
                         })),
                         TestName);
