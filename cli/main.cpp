// SPDX-License-Identifier: MIT
// pixorama-cli: the image model on the command line, without any window.
//
//   pixorama-cli convert IN OUT.bmp    load IN as the thumbnail thread would, save as BMP
//   pixorama-cli info FILE...          one line of header values per file
//
// Errors go to stderr as "pixorama-cli: FILE: MESSAGE"; the exit status is 0 when every
// file succeeded, 1 when any failed and 2 for a wrong call.
#include "imaging/bmp_picture.h"
#include "imaging/picture_factory.h"
#include "platform/code_page.h"
#include "platform/error.h"
#include "platform/file_system.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <span>
#include <string>
#include <vector>

namespace pix {
namespace {

constexpr const char* kProgram = "pixorama-cli";

void Usage(FILE* out) {
    std::fprintf(out,
                 "usage: %s convert IN OUT.bmp\n"
                 "       %s info FILE...\n"
                 "\n"
                 "convert  loads IN with the picture class chosen by its extension (.bmp, .jpg,\n"
                 "         .png, .tif, anything else the raw format) and writes it as a BMP\n"
                 "         file with the same bit count and colour table.\n"
                 "info     prints width, height, bit count, palette kind, image size and\n"
                 "         description of each file, one line per file.\n",
                 kProgram, kProgram);
}

void Report(const std::string& file, const std::string& message) {
    std::fprintf(stderr, "%s: %s: %s\n", kProgram, file.c_str(), message.c_str());
}

const char* PaletteKindName(TPaletteKind kind) {
    switch (kind) {
        case pkTrueColor:
            return "pkTrueColor";
        case pkMono:
            return "pkMono";
        case pk16Colors:
            return "pk16Colors";
        case pk256Colors:
            return "pk256Colors";
        case pkGray256:
            return "pkGray256";
        case pkGray236:
            return "pkGray236";
    }
    return "?";
}

// Loads a file through the class the thumbnail thread would use for it.
std::unique_ptr<TDibPicture> LoadPicture(const std::string& file) {
    auto picture = CreatePictureForFile(file);
    picture->LoadFromFile(AbsolutePath(file));
    return picture;
}

// The picture's header, colour table and rows as one packed DIB.
std::vector<std::uint8_t> PackedDib(const TDibPicture& picture) {
    const std::size_t infoSize = picture.InfoSize();
    const std::size_t imageSize = static_cast<std::size_t>(picture.ImageSize());
    std::vector<std::uint8_t> dib(infoSize + imageSize);
    std::memcpy(dib.data(), picture.Info()->Get(), infoSize);
    std::memcpy(dib.data() + infoSize, picture.Bits(), imageSize);
    return dib;
}

int Convert(std::span<char*> args) {
    if (args.size() != 2) {
        Usage(stderr);
        return 2;
    }
    const std::string in = args[0];
    const std::string out = args[1];
    if (UpperCaseAscii(ExtractFileExt(out)) != ".BMP") {
        Report(out, "the output must be a .bmp file");
        return 2;
    }
    try {
        const auto picture = LoadPicture(in);
        TBmpPicture bmp;
        bmp.AssignDIB(PackedDib(*picture));
        try {
            bmp.SaveToFile(AbsolutePath(out));
        } catch (const EPixError& e) {
            Report(out, e.what());
            return 1;
        }
    } catch (const EPixError& e) {
        Report(in, e.what());
        return 1;
    } catch (const std::bad_alloc&) {
        Report(in, "Not enough memory");
        return 1;
    }
    return 0;
}

int Info(std::span<char*> args) {
    if (args.empty()) {
        Usage(stderr);
        return 2;
    }
    int status = 0;
    for (const char* arg : args) {
        const std::string file = arg;
        try {
            const auto picture = LoadPicture(file);
            std::printf(
                "file: %s, width: %d, height: %d, bit count: %d, palette kind: %s, "
                "image size: %llu, description: %s\n",
                file.c_str(), picture->Width(), picture->Height(), picture->BitCount(),
                PaletteKindName(picture->DetectPaletteKind()),
                static_cast<unsigned long long>(picture->ImageSize()),
                Cp1252ToUtf8(picture->Description()).c_str());
        } catch (const EPixError& e) {
            Report(file, e.what());
            status = 1;
        } catch (const std::bad_alloc&) {
            Report(file, "Not enough memory");
            status = 1;
        }
    }
    return status;
}

}  // namespace
}  // namespace pix

int main(int argc, char** argv) {
    if (argc < 2) {
        pix::Usage(stderr);
        return 2;
    }
    const std::string command = argv[1];
    std::span<char*> rest(argv + 2, static_cast<std::size_t>(argc - 2));
    if (command == "convert") return pix::Convert(rest);
    if (command == "info") return pix::Info(rest);
    if (command == "--help" || command == "-h" || command == "help") {
        pix::Usage(stdout);
        return 0;
    }
    std::fprintf(stderr, "%s: unknown command \"%s\"\n", pix::kProgram, command.c_str());
    pix::Usage(stderr);
    return 2;
}
