// SPDX-License-Identifier: MIT
// Every PNG of the public PNG suite: the valid ones decode, and the colours our decoder
// draws over a known background equal libpng's decode composited over the same background
// (exact to 8 bits; 16-bit samples by their high bytes). Files that carry gAMA are compared
// after the program's gamma rule, 255 × (v / 255)^(1 / (gamma × 2.2)), is applied to
// libpng's colour samples (libpng itself is asked for no gamma correction). The broken x*
// files fail with the decoder's exceptions.
#include "test_support.h"

#include "imaging/mapped_memory.h"
#include "png/png_object.h"
#include "png/png_picture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <png.h>
#include <string>
#include <vector>

namespace pix {
namespace {

std::filesystem::path SuiteDir() {
    const auto dir = test::CorpusDir();
    return dir.empty() ? dir : dir / "pngsuite";
}

std::vector<std::string> SuiteFiles() {
    std::vector<std::string> names;
    const auto dir = SuiteDir();
    std::error_code ec;
    if (dir.empty() || !std::filesystem::is_directory(dir, ec)) return names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().extension() == ".png") names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// libpng's RGBA decode (8 bits per sample) and the file's gAMA (0 when it has none).
struct TReference {
    unsigned Width = 0, Height = 0;
    std::uint32_t Gamma = 0;
    // The colour key of 16-bit grey and RGB files, by its high bytes, or -1.
    std::int64_t Key16 = -1;
    unsigned char* Pixels = nullptr;  // malloc'd, Width × Height × 4
};

extern "C" void LibpngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
extern "C" void LibpngWarning(png_structp, png_const_charp) {}

// Holds only trivially destructible locals, since libpng longjmps out of its errors.
bool DecodeWithLibpng(const char* path, TReference& ref) {
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, LibpngError, LibpngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    png_bytep* rows = nullptr;
    if (png == nullptr || info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::free(rows);
        std::free(ref.Pixels);
        ref.Pixels = nullptr;
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    png_fixed_point gamma = 0;
    if (png_get_gAMA_fixed(png, info, &gamma)) ref.Gamma = static_cast<std::uint32_t>(gamma);
    png_bytep trans = nullptr;
    int transCount = 0;
    png_color_16p key = nullptr;
    if (png_get_bit_depth(png, info) == 16 && png_get_tRNS(png, info, &trans, &transCount, &key) &&
        key != nullptr) {
        if (png_get_color_type(png, info) == PNG_COLOR_TYPE_GRAY)
            ref.Key16 = (key->gray >> 8) * 0x010101;
        else
            ref.Key16 = ((key->red >> 8) << 16) | ((key->green >> 8) << 8) | (key->blue >> 8);
    }
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    ref.Width = png_get_image_width(png, info);
    ref.Height = png_get_image_height(png, info);
    ref.Pixels = static_cast<unsigned char*>(std::malloc(std::size_t{ref.Width} * ref.Height * 4));
    rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * ref.Height));
    for (unsigned y = 0; y < ref.Height; ++y) rows[y] = ref.Pixels + std::size_t{y} * ref.Width * 4;
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::free(rows);
    std::fclose(file);
    return true;
}

std::array<std::uint8_t, 256> GammaOf(std::uint32_t gamma) {
    std::array<std::uint8_t, 256> t{};
    for (int i = 0; i < 256; ++i) {
        t[i] = static_cast<std::uint8_t>(i);
        if (gamma != 0)
            t[i] = static_cast<std::uint8_t>(
                std::lround(255.0 * std::pow(i / 255.0, 100000.0 / (gamma * 2.2))));
    }
    return t;
}

constexpr std::uint32_t kBackground = 0x3C7AB4;

class PngSuite : public ::testing::TestWithParam<std::string> {};

TEST_P(PngSuite, DecodesLikeLibpngOrFailsWithOurError) {
    const std::string name = GetParam();
    const std::string path = (SuiteDir() / name).string();
    TLwMappedStream stream(path, fmOpenRead | fmShareDenyWrite);
    TPNGObject png;
    if (name[0] == 'x') {
        EXPECT_THROW(png.LoadFromStream(stream), EPngError);
        return;
    }
    ASSERT_NO_THROW(png.LoadFromStream(stream));
    TReference ref;
    ASSERT_TRUE(DecodeWithLibpng(path.c_str(), ref));
    std::unique_ptr<unsigned char, decltype(&std::free)> keep(ref.Pixels, &std::free);
    ASSERT_EQ(png.Width(), static_cast<int>(ref.Width));
    ASSERT_EQ(png.Height(), static_cast<int>(ref.Height));

    // Drawn over a 24-bit background.
    BITMAPINFO info{};
    info.bmiHeader = {40, png.Width(), png.Height(), 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    auto canvas = TDibSection::Create(&info, false);
    for (int y = 0; y < png.Height(); ++y)
        for (int x = 0; x < png.Width(); ++x) {
            std::uint8_t* p = canvas->Row(y) + x * 3;
            p[0] = kBackground & 0xFF;
            p[1] = (kBackground >> 8) & 0xFF;
            p[2] = kBackground >> 16;
        }
    TDeviceContext dc;
    dc.SelectBitmap(canvas.get());
    png.Draw(dc, TRect{0, 0, png.Width(), png.Height()});

    // The picture holds the bitmap as the program shows it; it is compared where the image
    // is opaque, since its own background is black.
    TPngPicture picture;
    picture.LoadFromFile(path);
    const bool opaque = png.TransparencyMode() == ptmNone;

    const auto gamma = GammaOf(ref.Gamma);
    int mismatches = 0;
    for (int y = 0; y < png.Height() && mismatches < 5; ++y)
        for (int x = 0; x < png.Width() && mismatches < 5; ++x) {
            const unsigned char* r = ref.Pixels + (std::size_t(y) * ref.Width + x) * 4;
            unsigned a = r[3];
            // The bitmap holds the high bytes of 16-bit samples, and so the key matches
            // every pixel whose high bytes equal its own.
            if (ref.Key16 >= 0 && ((std::uint32_t{r[0]} << 16) | (r[1] << 8) | r[2]) == ref.Key16)
                a = 0;
            std::uint32_t want = 0;
            for (int c = 0; c < 3; ++c) {
                const unsigned s = gamma[r[c]];
                const unsigned d = (kBackground >> (16 - 8 * c)) & 0xFF;
                want |= ((s * a + (255 - a) * d + 255) >> 8) << (16 - 8 * c);
            }
            const std::uint8_t* p = canvas->Row(y) + x * 3;
            const std::uint32_t got = (std::uint32_t{p[2]} << 16) | (p[1] << 8) | p[0];
            if (got != want) {
                ++mismatches;
                ADD_FAILURE() << name << " at " << x << "," << y << ": " << std::hex << got
                              << " instead of " << want;
            }
            if (opaque) {
                std::uint32_t shown;
                const std::uint8_t* row = picture.Section()->Row(y);
                if (picture.BitCount() == 24) {
                    shown =
                        (std::uint32_t{row[x * 3 + 2]} << 16) | (row[x * 3 + 1] << 8) | row[x * 3];
                } else {
                    const int bits = picture.BitCount();
                    const unsigned index = bits == 8 ? row[x]
                                           : bits == 4
                                               ? ((x & 1) ? row[x / 2] & 15u : row[x / 2] >> 4u)
                                               : (row[x / 8] >> (7 - x % 8)) & 1u;
                    const RGBQUAD& q = picture.Info()->Colors()[index];
                    shown = (std::uint32_t{q.rgbRed} << 16) | (q.rgbGreen << 8) | q.rgbBlue;
                }
                if (shown != want) {
                    ++mismatches;
                    ADD_FAILURE() << name << " picture at " << x << "," << y << ": " << std::hex
                                  << shown << " instead of " << want;
                }
            }
        }
}

INSTANTIATE_TEST_SUITE_P(Files, PngSuite, ::testing::ValuesIn(SuiteFiles()), [](const auto& info) {
    std::string n = info.param.substr(0, info.param.size() - 4);
    for (char& c : n)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
});
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(PngSuite);

TEST(PngSuiteCorpus, IsPresent) {
    PIX_REQUIRE_CORPUS();
    if (SuiteFiles().empty()) GTEST_SKIP() << "no PNG suite under " << SuiteDir();
    EXPECT_GT(SuiteFiles().size(), 150u);
}

}  // namespace
}  // namespace pix
