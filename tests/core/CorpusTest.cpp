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

#include "TestSupport.h"
#include "gfxstream/MappedFileInputStream.h"
#include "image/WriteTGA.h"

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
// suggest, each with the reason. Any other file flagged truncated,
// malformed or with packets across rows must be refused; any other file
// must decode.
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
    };
    return decodes;
}

struct CorpusFile {
    Row row;
    std::string reference, kind;  // empty when there is none
    const std::string& operator[](const std::string& column) const { return row.at(column); }
    bool Flagged() const {
        return row.at("truncated") == "1" || row.at("malformed") == "1" ||
               row.at("rle_cross_row") == "1";
    }
    bool Decodes() const {
        const std::string& file = row.at("file");
        return !Refusals().count(file) && (!Flagged() || DecodesDespiteFlags().count(file));
    }
};

std::vector<CorpusFile> Corpus() {
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

class CorpusDecode : public ::testing::TestWithParam<CorpusFile> {};

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
