// SPDX-License-Identifier: MIT
// Every BMP and JPEG of the public corpus through LoadFromFile: a file either loads or
// fails with our exception, never anything else; the files the corpus manifest calls
// valid (BMP: those inside the plain reader's subset) must load. Pixel identity with
// independent decoders is checked by tests/oracle/convert_oracle.py.
#include "test_support.h"

#include "formats/bmp_picture.h"
#include "formats/jpg_picture.h"
#include "platform/error.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace pix {
namespace {

struct TCorpusFile {
    std::string Path;  // relative to the corpus folder, "/" separated
    bool MustLoad = false;
    std::string Why;  // the manifest's note, for failure messages
};

// MANIFEST.tsv columns used: path, bits_per_sample, expected, subset, notes.
std::map<std::string, std::map<std::string, std::string>> ReadManifest(
    const std::filesystem::path& dir) {
    std::map<std::string, std::map<std::string, std::string>> rows;
    std::ifstream in(dir / "MANIFEST.tsv");
    std::string line;
    std::vector<std::string> columns;
    auto split = [](const std::string& s) {
        std::vector<std::string> out;
        std::stringstream ss(s);
        std::string cell;
        while (std::getline(ss, cell, '\t')) out.push_back(cell);
        return out;
    };
    if (std::getline(in, line)) columns = split(line);
    while (std::getline(in, line)) {
        const auto cells = split(line);
        std::map<std::string, std::string> row;
        for (std::size_t i = 0; i < columns.size() && i < cells.size(); ++i)
            row[columns[i]] = cells[i];
        if (!cells.empty()) rows[cells[0]] = std::move(row);
    }
    return rows;
}

std::vector<TCorpusFile> CorpusFiles() {
    std::vector<TCorpusFile> files;
    const std::filesystem::path dir = test::CorpusDir();
    if (dir.empty()) return files;
    const auto manifest = ReadManifest(dir);
    for (const char* folder : {"bmp", "jpeg"}) {
        std::error_code ec;
        if (!std::filesystem::is_directory(dir / folder, ec)) continue;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir / folder)) {
            if (!entry.is_regular_file()) continue;
            std::string ext = entry.path().extension().string();
            std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
            if (ext != ".bmp" && ext != ".jpg" && ext != ".jpeg") continue;
            TCorpusFile file;
            file.Path = std::filesystem::relative(entry.path(), dir).generic_string();
            const auto row = manifest.find(file.Path);
            if (row != manifest.end()) {
                const auto& r = row->second;
                const bool valid = r.count("expected") && r.at("expected") == "valid";
                if (ext == ".bmp")
                    file.MustLoad = valid && r.count("subset") && r.at("subset") == "yes";
                else
                    file.MustLoad =
                        valid && r.count("bits_per_sample") && r.at("bits_per_sample") != "12";
                if (r.count("notes")) file.Why = r.at("notes");
            }
            files.push_back(std::move(file));
        }
    }
    std::sort(files.begin(), files.end(),
              [](const TCorpusFile& a, const TCorpusFile& b) { return a.Path < b.Path; });
    return files;
}

class BmpJpegCorpusTest : public ::testing::TestWithParam<TCorpusFile> {};

TEST_P(BmpJpegCorpusTest, LoadsOrFailsWithOurException) {
    const TCorpusFile& file = GetParam();
    const std::string path = (test::CorpusDir() / file.Path).string();
    const bool bmp = file.Path.rfind("bmp/", 0) == 0;
    std::unique_ptr<TDibPicture> picture;
    if (bmp)
        picture = std::make_unique<TBmpPicture>();
    else
        picture = std::make_unique<TJpgPicture>();
    std::string failure;
    try {
        picture->LoadFromFile(path);
    } catch (const EPixError& e) {
        failure = e.what();
        EXPECT_FALSE(failure.empty()) << "an exception without a message";
    } catch (const std::exception& e) {
        FAIL() << "an exception that is not EPixError: " << e.what();
    }
    if (file.MustLoad) {
        EXPECT_EQ(failure, "") << file.Why;
    }
    if (failure.empty()) {
        // A loaded picture is whole: a section of the stated size and format.
        ASSERT_NE(picture->Section(), nullptr);
        EXPECT_GT(picture->Width(), 0);
        EXPECT_GT(picture->Height(), 0);
        const int bits = picture->BitCount();
        EXPECT_TRUE(bits == 1 || bits == 4 || bits == 8 || bits == 24) << bits;
        EXPECT_EQ(picture->PaletteKind(), PaletteKindOfInfo(picture->Info()->Get()));
        EXPECT_FALSE(picture->Loading());
    }
}

std::string TestName(const ::testing::TestParamInfo<TCorpusFile>& info) {
    std::string name = info.param.Path;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Corpus, BmpJpegCorpusTest, ::testing::ValuesIn(CorpusFiles()), TestName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(BmpJpegCorpusTest);

// Says so when the corpus is absent, instead of passing with no files at all.
TEST(BmpJpegCorpus, FolderIsPresent) {
    PIX_REQUIRE_CORPUS();
    EXPECT_GT(CorpusFiles().size(), 50u);
}

}  // namespace
}  // namespace pix
