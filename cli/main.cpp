// SPDX-License-Identifier: MIT
// pixorama-cli: the image model on the command line, without any window.
//
//   pixorama-cli convert IN OUT.bmp    load IN as the thumbnail thread would, save as BMP
//   pixorama-cli convert IN OUT.tif    the same, saved as TIFF
//   pixorama-cli info FILE...          one line of header values per file
//   pixorama-cli info --json FILE...   the thumbnail entry of each file as one JSON object
//   pixorama-cli thumb FILE OUT.bmp [--box WxH]   the thumbnail as the cache file holds it
//   pixorama-cli thumbs DIR [--box WxH] [--threads N] [--quiet]   a folder's thumbnails
//                                      through the generation thread and its cache file
//   pixorama-cli rtf FILE              the information panel's document for the file
//   pixorama-cli --version             the product name and the file version
//
// Errors go to stderr as "pixorama-cli: FILE: MESSAGE"; the exit status is 0 when every
// file succeeded, 1 when any failed and 2 for a wrong call.
#include "formats/bmp_picture.h"
#include "formats/format_table.h"
#include "info/info_document.h"

#include "cli/cli_args.h"
#include "cli/thumbs_command.h"
#include "platform/code_page.h"
#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/res_strings.h"
#include "platform/version_info.h"
#include "thumbs/thumb_maker.h"
#include "tiff/tif_picture.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pix {
namespace {

constexpr const char* kProgram = "pixorama-cli";

// The command line's own messages.
constexpr const char* SOutputNotBmp = "the output must be a .bmp file";
constexpr const char* SOutputNotBmpOrTif = "the output must be a .bmp or .tif file";
constexpr const char* SNoThumbnail = "no thumbnail could be made";

void Usage(FILE* out) {
    std::fprintf(
        out,
        "usage: %s convert IN OUT.bmp|OUT.tif\n"
        "       %s info [--json] FILE...\n"
        "       %s thumb FILE OUT.bmp [--box WxH]\n"
        "       %s thumbs DIR [--box WxH] [--threads N] [--quiet]\n"
        "       %s rtf FILE\n"
        "       %s --version\n"
        "\n"
        "convert  loads IN with the picture class chosen by its extension (.bmp, .jpg,\n"
        "         .png, .tif, anything else the raw format) and writes it as a BMP file\n"
        "         with the same bit count and colour table, or as a TIFF file (a TIFF\n"
        "         input keeps its fields and 16-bit samples).\n"
        "info     prints width, height, bit count, palette kind, image size and\n"
        "         description of each file, one line per file. With --json, prints the\n"
        "         thumbnail entry of each file (box 112x96) as one JSON object per line.\n"
        "thumb    makes the thumbnail of FILE for the box (default 112x96) and writes it\n"
        "         as the BMP data the thumbnail cache holds.\n"
        "thumbs   makes the thumbnails of a folder as the program's grid does, through\n"
        "         the folder's cache file \"pixorama.dtd\", which it writes or refreshes.\n"
        "         Prints INDEX, NAME and cache or made per delivered entry, then INDEX,\n"
        "         NAME and none for each file without one, then a summary line.\n"
        "         --threads N decodes on N workers (0, the default: one per core).\n"
        "rtf      prints the information panel's rich-text document for FILE's entry\n"
        "         (box 112x96) byte for byte, with untranslated labels and the user's\n"
        "         locale.\n"
        "--version\n"
        "         prints the product name and the version of this program.\n",
        kProgram, kProgram, kProgram, kProgram, kProgram, kProgram);
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

bool IsFormatName(const std::string& name, TImageFormat format) {
    const TImageFormatInfo* row = FindImageFormat(name);
    return row != nullptr && row->Format == format;
}

bool IsTiffName(const std::string& name) { return IsFormatName(name, ifTiff); }
bool IsBmpName(const std::string& name) { return IsFormatName(name, ifBmp); }

// Writes the loaded picture as OUT: BMP through a copy, TIFF through the TIFF picture's own
// save, so that a TIFF input keeps its fields and its 16-bit samples.
void SavePicture(TDibPicture& picture, const std::string& out) {
    if (IsBmpName(out)) {
        TBmpPicture bmp;
        bmp.AssignDIB(PackedDib(picture));
        bmp.SaveToFile(AbsolutePath(out));
    } else if (auto* tif = dynamic_cast<TTifPicture*>(&picture)) {
        tif->SaveToFile(AbsolutePath(out));
    } else {
        TTifPicture copy;
        copy.AssignDIB(PackedDib(picture));
        copy.SetDescription(picture.Description());
        copy.SaveToFile(AbsolutePath(out));
    }
}

int Convert(std::span<char*> args) {
    if (args.size() != 2) {
        Usage(stderr);
        return 2;
    }
    const std::string in = args[0];
    const std::string out = args[1];
    if (!IsBmpName(out) && !IsTiffName(out)) {
        Report(out, SOutputNotBmpOrTif);
        return 2;
    }
    std::unique_ptr<TDibPicture> picture;
    try {
        picture = LoadPicture(in);
    } catch (const EPixError& e) {
        Report(in, e.what());
        return 1;
    } catch (const std::bad_alloc&) {
        Report(in, SNotEnoughMemory.Text);
        return 1;
    }
    try {
        SavePicture(*picture, out);
    } catch (const EPixError& e) {
        Report(out, e.what());
        return 1;
    } catch (const std::bad_alloc&) {
        Report(out, SNotEnoughMemory.Text);
        return 1;
    }
    return 0;
}

// ---- JSON output of a thumbnail entry ----

// Valid UTF-8 stays; every byte of an invalid sequence becomes U+FFFD. File names and
// messages holding them are bytes of the file system, which need not be UTF-8.
std::string ValidUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        std::uint32_t min = 0;
        if (c < 0x80) {
            length = 1;
        } else if ((c & 0xE0) == 0xC0) {
            length = 2;
            min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3;
            min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4;
            min = 0x10000;
        }
        bool valid = length > 0 && i + length <= text.size();
        std::uint32_t code = length == 1 ? c : c & (0x7Fu >> length);
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3Fu);
        }
        // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8 either.
        valid = valid && code >= min && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        if (valid) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

// A JSON string literal of UTF-8 text.
std::string JsonString(std::string_view utf8) {
    std::string out = "\"";
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                if (c < 0x20) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", c);
                    out += escape;
                } else {
                    out += ch;
                }
        }
    }
    out += '"';
    return out;
}

// The shortest text that reads back as the same double. NaN and infinities, which a
// hostile file's header can hold, have no JSON form and become null.
std::string JsonNumber(double value) {
    if (!std::isfinite(value)) return "null";
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string HexString(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

// Builds one JSON object member by member.
class TJsonObject {
public:
    void Raw(const char* key, const std::string& json) {
        FText += FText.empty() ? "{" : ",";
        FText += JsonString(key);
        FText += ':';
        FText += json;
    }
    void Int(const char* key, long long value) { Raw(key, std::to_string(value)); }
    void Real(const char* key, double value) { Raw(key, JsonNumber(value)); }
    // Texts of the image files are Windows-1252.
    void Ansi(const char* key, const std::string& text) {
        Raw(key, JsonString(Cp1252ToUtf8(text)));
    }
    void Utf8(const char* key, const std::string& text) { Raw(key, JsonString(ValidUtf8(text))); }
    std::string Close() const { return FText.empty() ? "{}" : FText + "}"; }

private:
    std::string FText;
};

std::string ThumbInfoJson(const std::string& file, const TThumbInfo& info,
                          const std::string* error) {
    TJsonObject o;
    o.Utf8("file", file);
    o.Int("FileDate", info.FileDate);
    o.Int("Width", info.Width);
    o.Int("Height", info.Height);
    o.Int("DataSize", info.DataSize);
    o.Int("BitCount", info.BitCount);
    o.Int("ImageCount", info.ImageCount);
    o.Ansi("Comment", info.Comment);
    o.Ansi("Author", info.Author);
    o.Ansi("Copyright", info.Copyright);
    o.Real("ParamValue3", info.ParamValue3);
    o.Real("ParamValue4", info.ParamValue4);
    o.Int("ParamValue6", info.ParamValue6);
    o.Real("Magnification", info.Magnification);
    o.Real("HighVoltage", info.HighVoltage);
    o.Real("WorkingDistance", info.WorkingDistance);
    o.Ansi("ParamFormat", info.ParamFormat);
    o.Ansi("ParamNames", info.ParamNames);
    o.Int("LinescanData", info.LinescanData);
    o.Int("PointscanData", info.PointscanData);
    const SYSTEMTIME& t = info.RecordTime;
    o.Raw("RecordTime", "[" + std::to_string(t.wYear) + "," + std::to_string(t.wMonth) + "," +
                            std::to_string(t.wDayOfWeek) + "," + std::to_string(t.wDay) + "," +
                            std::to_string(t.wHour) + "," + std::to_string(t.wMinute) + "," +
                            std::to_string(t.wSecond) + "," + std::to_string(t.wMilliseconds) +
                            "]");
    o.Int("ImageNumber", info.ImageNumber);
    o.Int("MeasurementData", info.MeasurementData);
    o.Raw("PointPositions", JsonString(HexString(info.PointPositions)));
    if (info.Thumbnail) {
        TJsonObject thumb;
        thumb.Int("Width", info.Thumbnail->Width());
        thumb.Int("Height", info.Thumbnail->Height());
        thumb.Int("BitCount", info.Thumbnail->BitCount());
        o.Raw("Thumbnail", thumb.Close());
    } else {
        o.Raw("Thumbnail", "null");
    }
    if (error != nullptr) o.Utf8("error", *error);
    return o.Close();
}

// Makes the entry of a file; returns the failure's message, or nothing on success.
std::optional<std::string> MakeEntry(const std::string& file, int boxWidth, int boxHeight,
                                     TThumbInfo& info) {
    try {
        MakeThumbInfo(AbsolutePath(file), boxWidth, boxHeight, info);
    } catch (const EPixError& e) {
        return std::string(e.what());
    } catch (const std::bad_alloc&) {
        return std::string(SNotEnoughMemory.Text);
    }
    return std::nullopt;
}

int InfoJson(std::span<char*> files) {
    int status = 0;
    for (const char* arg : files) {
        const std::string file = arg;
        TThumbInfo info;
        const std::optional<std::string> error =
            MakeEntry(file, kDefaultThumbWidth, kDefaultThumbHeight, info);
        if (error) {
            Report(file, *error);
            status = 1;
        }
        std::printf("%s\n", ThumbInfoJson(file, info, error ? &*error : nullptr).c_str());
    }
    return status;
}

int Info(std::span<char*> args) {
    if (!args.empty() && std::strcmp(args[0], "--json") == 0) {
        if (args.size() < 2) {
            Usage(stderr);
            return 2;
        }
        return InfoJson(args.subspan(1));
    }
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
            Report(file, SNotEnoughMemory.Text);
            status = 1;
        }
    }
    return status;
}

int Thumb(std::span<char*> args) {
    std::vector<std::string> names;
    int boxWidth = kDefaultThumbWidth;
    int boxHeight = kDefaultThumbHeight;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (std::strcmp(args[i], "--box") == 0) {
            if (i + 1 >= args.size() || !ParseBox(args[i + 1], boxWidth, boxHeight)) {
                std::fprintf(stderr, "%s: %s\n", kProgram, Fmt(SBadBox, kMaxBoxSide).c_str());
                return 2;
            }
            ++i;
        } else {
            names.emplace_back(args[i]);
        }
    }
    if (names.size() != 2) {
        Usage(stderr);
        return 2;
    }
    const std::string& in = names[0];
    const std::string& out = names[1];
    if (!IsBmpName(out)) {
        Report(out, SOutputNotBmp);
        return 2;
    }
    TThumbInfo info;
    if (const auto error = MakeEntry(in, boxWidth, boxHeight, info)) {
        Report(in, *error);
        return 1;
    }
    if (!info.Thumbnail) {
        Report(in, SNoThumbnail);
        return 1;
    }
    try {
        info.Thumbnail->SaveToFile(AbsolutePath(out));
    } catch (const EPixError& e) {
        Report(out, e.what());
        return 1;
    }
    return 0;
}

// The panel's document as the main window would show it once the thread has made the entry.
int Rtf(std::span<char*> args) {
    if (args.size() != 1) {
        Usage(stderr);
        return 2;
    }
    const std::string file = args[0];
    TThumbInfo info;
    if (const auto error = MakeEntry(file, kDefaultThumbWidth, kDefaultThumbHeight, info)) {
        Report(file, *error);
        return 1;
    }
    const std::string document = BuildInfoDocument(info);
    std::fwrite(document.data(), 1, document.size(), stdout);
    return 0;
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
    if (command == "thumb") return pix::Thumb(rest);
    if (command == "thumbs") return pix::ThumbsCommand(rest);
    if (command == "rtf") return pix::Rtf(rest);
    if (command == "--version") {
        std::printf("%s\n", pix::VersionLine(pix::ProgramFileName()).c_str());
        return 0;
    }
    if (command == "--help" || command == "-h" || command == "help") {
        pix::Usage(stdout);
        return 0;
    }
    std::fprintf(stderr, "%s: unknown command \"%s\"\n", pix::kProgram, command.c_str());
    pix::Usage(stderr);
    return 2;
}
