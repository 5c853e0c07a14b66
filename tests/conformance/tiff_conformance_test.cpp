// SPDX-License-Identifier: MIT
// Every TIFF of the public corpus: files inside the supported subset load with the size
// the manifest gives, the others fail with the manifest's message, nothing crashes or
// takes long, the image count follows the IFD chain, and seq/ twins look the same.
#include "test_support.h"

#include "imaging/mapped_memory.h"
#include "platform/error.h"
#include "tiff/tif_picture.h"
#include "tiff/tiff_reader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace pix {
namespace {

// Long enough for the largest corpus file on a slow, shared machine.
constexpr double kSecondsPerFile = 5.0;

struct TRow {
    std::map<std::string, std::string> Columns;
    const std::string& operator[](const std::string& name) const {
        static const std::string empty;
        auto it = Columns.find(name);
        return it == Columns.end() ? empty : it->second;
    }
};

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> parts;
    std::stringstream s(line);
    std::string part;
    while (std::getline(s, part, '\t')) parts.push_back(part);
    if (!line.empty() && line.back() == '\t') parts.emplace_back();
    return parts;
}

std::vector<TRow> TiffRows() {
    std::vector<TRow> rows;
    std::ifstream in(test::CorpusDir() / "MANIFEST.tsv");
    std::string line;
    if (!std::getline(in, line)) return rows;
    const std::vector<std::string> header = SplitTabs(line);
    while (std::getline(in, line)) {
        const std::vector<std::string> parts = SplitTabs(line);
        TRow row;
        for (std::size_t i = 0; i < header.size() && i < parts.size(); ++i)
            row.Columns[header[i]] = parts[i];
        if (row["path"].rfind("tiff/", 0) == 0) rows.push_back(std::move(row));
    }
    return rows;
}

// The manifest's exact expected message, or empty when it gives none or only a likely one.
// Texts that this reader replaces on purpose are mapped to its own.
std::string ExpectedMessage(const std::string& notes) {
    static const std::regex pattern(R"(expected: (.*?)(?=\.? (?:libtiff|PIL|identify):|;|$))");
    std::smatch m;
    if (!std::regex_search(notes, m, pattern)) return {};
    const std::string text = m[1];
    if (text.rfind("passes the checks, but SampleFormat", 0) == 0)
        return "Only unsigned integer samples are supported";
    if (text.rfind("passes the checks, but the strips use old-style", 0) == 0)
        return "Invalid LZW code found";
    if (text.rfind("passes the checks, but 16-bit palette", 0) == 0)
        return "Palette images with 16 bits per sample are not supported";
    // Without a Compression tag the file is read as uncompressed and may fail later.
    if (text == "Missing Compression tag") return {};
    return text;
}

// The picture's colours, top row first, as 0xRRGGBB.
std::vector<std::uint32_t> Colours(const TDibPicture& picture) {
    std::vector<std::uint32_t> all;
    const TDibSection& s = *picture.Section();
    for (int y = 0; y < s.Height(); ++y) {
        const std::uint8_t* row = s.Row(y);
        for (int x = 0; x < s.Width(); ++x) {
            if (s.BitCount() == 24) {
                all.push_back(std::uint32_t{row[3 * x + 2]} << 16 |
                              std::uint32_t{row[3 * x + 1]} << 8 | row[3 * x]);
                continue;
            }
            const int bits = s.BitCount();
            const int perByte = 8 / bits;
            const int index =
                (row[x / perByte] >> (8 - bits * (x % perByte + 1))) & ((1 << bits) - 1);
            const RGBQUAD& c = s.Colors()[index];
            all.push_back(std::uint32_t{c.rgbRed} << 16 | std::uint32_t{c.rgbGreen} << 8 |
                          c.rgbBlue);
        }
    }
    return all;
}

TEST(TiffConformance, EveryCorpusFileLoadsOrFailsClearly) {
    PIX_REQUIRE_CORPUS();
    const std::vector<TRow> rows = TiffRows();
    ASSERT_GT(rows.size(), 100u) << "no TIFF rows in the corpus manifest";
    int inside = 0, refused = 0;
    std::map<std::string, std::vector<std::pair<std::string, std::vector<std::uint32_t>>>> seq;
    static const std::regex seqName(R"(tiff/image-tiff/seq/seq-.*-([0-9a-f]{8})\.tiff)");
    for (const TRow& row : rows) {
        const std::string& rel = row["path"];
        SCOPED_TRACE(rel);
        const std::string path = (test::CorpusDir() / rel).string();
        const bool valid = row["expected"] != "invalid";
        TTifPicture picture;
        std::string error;
        const auto start = std::chrono::steady_clock::now();
        try {
            picture.LoadFromFile(path);
        } catch (const EPixError& e) {
            error = e.what();
            EXPECT_FALSE(error.empty());
        }
        const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
        EXPECT_LT(spent.count(), kSecondsPerFile);

        if (row["subset"] == "yes") {
            ++inside;
            EXPECT_EQ(error, "");
            if (!error.empty()) continue;
            EXPECT_EQ(std::to_string(picture.Width()), row["width"]);
            EXPECT_EQ(std::to_string(picture.Height()), row["height"]);
            EXPECT_EQ(picture.ImgData16() != nullptr, row["bits_per_sample"] == "16");
            std::smatch m;
            if (std::regex_match(rel, m, seqName)) {
                const std::string group =
                    std::string(m[1]) + (rel.find("palette") != std::string::npos ? "p" : "");
                seq[group].emplace_back(rel, Colours(picture));
            }
            continue;
        }
        if (valid) {
            ++refused;
            EXPECT_NE(error, "") << "outside the subset, but loaded";
        }
        const std::string expected = ExpectedMessage(row["notes"]);
        if (!expected.empty() && !error.empty()) {
            EXPECT_EQ(error, expected);
        }
    }
    EXPECT_GE(inside, 60);
    EXPECT_GE(refused, 200);

    // The miniswhite twins store inverted values of the same picture, so a whole group
    // looks the same.
    for (const auto& [group, members] : seq)
        for (std::size_t k = 1; k < members.size(); ++k)
            EXPECT_EQ(members[k].second, members[0].second)
                << members[k].first << " differs from " << members[0].first;
}

TEST(TiffConformance, ImageCountFollowsTheChain) {
    PIX_REQUIRE_CORPUS();
    int compared = 0;
    for (const TRow& row : TiffRows()) {
        // BigTIFF and other files without a classic header have no chain to count.
        if (row["expected"] == "invalid" || row["pages"].empty()) continue;
        SCOPED_TRACE(row["path"]);
        try {
            TLwMappedStream stream((test::CorpusDir() / row["path"]).string(),
                                   fmOpenRead | fmShareDenyWrite);
            EXPECT_EQ(std::to_string(CountTiffImages(stream)), row["pages"]);
            ++compared;
        } catch (const EPixError& e) {
            EXPECT_STREQ(e.what(), "Invalid TIFF identifier");
        }
    }
    EXPECT_GT(compared, 100);
}

}  // namespace
}  // namespace pix
