// SPDX-License-Identifier: MIT
#include "platform/gui/rtf_reader.h"

#include "platform/code_page.h"

#include <QColor>
#include <QFont>
#include <QString>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pix {
namespace {

// Groups nested deeper than this share the state of the last one kept, so hostile input
// cannot make the state stack grow without bound.
constexpr std::size_t kMaxDepth = 256;
// Parameters are 16-bit in practice; larger ones are held at this magnitude.
constexpr long kMaxParameter = 1'000'000'000;
// Control words longer than this are not any the reader knows.
constexpr std::size_t kMaxWordLength = 32;
// \fs counts half points; sizes past this are clamped before they reach the layout.
constexpr int kMaxHalfPoints = 3276;

enum TDestination : std::uint8_t { dText, dSkip, dColorTable };

struct TState {
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    int HalfPoints = 0;   // 0: the document's default size
    int Foreground = -1;  // index into the colour table; -1: none
    int Background = -1;
    int UnicodeSkip = 1;  // fallback characters after each \uN
    TDestination Destination = dText;
};

bool IsLetter(char ch) { return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z'); }
bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }

int HexValue(char ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    return -1;
}

// Destinations whose text is not part of the document.
bool IsSkippedDestination(std::string_view word) {
    static constexpr std::string_view kSkipped[] = {"fonttbl",
                                                    "stylesheet",
                                                    "info",
                                                    "pict",
                                                    "object",
                                                    "header",
                                                    "headerl",
                                                    "headerr",
                                                    "headerf",
                                                    "footer",
                                                    "footerl",
                                                    "footerr",
                                                    "footerf",
                                                    "footnote",
                                                    "fldinst",
                                                    "listtable",
                                                    "listoverridetable",
                                                    "rsidtbl",
                                                    "generator",
                                                    "filetbl",
                                                    "revtbl",
                                                    "themedata",
                                                    "colorschememapping",
                                                    "latentstyles",
                                                    "datastore",
                                                    "xmlnstbl",
                                                    "author",
                                                    "operator",
                                                    "title",
                                                    "subject",
                                                    "keywords",
                                                    "comment",
                                                    "doccomm",
                                                    "nonshppict",
                                                    "shppict",
                                                    "bkmkstart",
                                                    "bkmkend",
                                                    "txfieldtext"};
    return std::find(std::begin(kSkipped), std::end(kSkipped), word) != std::end(kSkipped);
}

class TRtfParser {
public:
    TRtfParser(std::string_view rtf, QTextDocument& document) : FInput(rtf), FCursor(&document) {}

    void Run() {
        FCursor.beginEditBlock();
        while (FPos < FInput.size()) {
            const char ch = FInput[FPos++];
            if (ch == '{') {
                OpenGroup();
            } else if (ch == '}') {
                CloseGroup();
            } else if (ch == '\\') {
                Control();
            } else if (ch != '\r' && ch != '\n') {
                Character(static_cast<unsigned char>(ch));
            }
        }
        Flush();
        FCursor.endEditBlock();
    }

private:
    void OpenGroup() {
        FFallback = 0;
        if (FStack.size() >= kMaxDepth) {
            ++FOverflow;
            return;
        }
        FStack.push_back(FState);
    }

    void CloseGroup() {
        FFallback = 0;
        if (FOverflow > 0) {
            --FOverflow;
            return;
        }
        if (FStack.empty()) return;  // a stray closing brace
        Flush();
        FState = FStack.back();
        FStack.pop_back();
    }

    // A text byte, or a byte given as \'hh: Windows-1252.
    void Character(unsigned char byte) {
        if (FFallback > 0) {
            --FFallback;
            return;
        }
        if (FState.Destination == dColorTable) {
            if (byte == ';') {
                FColors.push_back(FColorSet ? std::optional<QColor>(QColor(FRed, FGreen, FBlue))
                                            : std::nullopt);
                FRed = FGreen = FBlue = 0;
                FColorSet = false;
            }
            return;
        }
        if (FState.Destination != dText) return;
        if (byte < 0x20 && byte != '\t') return;
        FBytes += static_cast<char>(byte);
    }

    void Unicode(char16_t code) {
        if (FState.Destination != dText) return;
        TakeBytes();
        FRun += QChar(code);
    }

    void Control() {
        if (FPos >= FInput.size()) return;
        const char ch = FInput[FPos];
        if (!IsLetter(ch)) {
            ++FPos;
            Symbol(ch);
            return;
        }
        const std::size_t start = FPos;
        while (FPos < FInput.size() && IsLetter(FInput[FPos])) ++FPos;
        const std::string_view word = FInput.substr(start, FPos - start);
        std::optional<long> parameter;
        bool negative = false;
        if (FPos < FInput.size() && FInput[FPos] == '-' && FPos + 1 < FInput.size() &&
            IsDigit(FInput[FPos + 1])) {
            negative = true;
            ++FPos;
        }
        if (FPos < FInput.size() && IsDigit(FInput[FPos])) {
            long value = 0;
            while (FPos < FInput.size() && IsDigit(FInput[FPos])) {
                value = std::min(kMaxParameter, value * 10 + (FInput[FPos++] - '0'));
            }
            parameter = negative ? -value : value;
        }
        if (FPos < FInput.size() && FInput[FPos] == ' ') ++FPos;
        if (word.size() <= kMaxWordLength) Word(word, parameter);
    }

    void Symbol(char ch) {
        switch (ch) {
            case '\\':
            case '{':
            case '}':
                Character(static_cast<unsigned char>(ch));
                break;
            case '\'': {
                int value = 0;
                int digits = 0;
                while (digits < 2 && FPos < FInput.size() && HexValue(FInput[FPos]) >= 0) {
                    value = value * 16 + HexValue(FInput[FPos++]);
                    ++digits;
                }
                if (digits == 2) Character(static_cast<unsigned char>(value));
                break;
            }
            case '*':
                // The group is a destination this reader does not know.
                FState.Destination = dSkip;
                break;
            case '~':
                Unicode(0x00A0);
                break;
            case '_':
                Unicode(0x2011);
                break;
            case '\r':
            case '\n':
                Word("par", std::nullopt);
                break;
            default:
                break;  // \- optional hyphen, \| and the like show nothing
        }
    }

    void Word(std::string_view word, std::optional<long> parameter) {
        const long value = parameter.value_or(1);
        const int clamped = static_cast<int>(std::clamp(value, -kMaxParameter, kMaxParameter));
        if (word == "bin") {
            // Binary data: the parameter counts raw bytes that follow.
            const auto count = static_cast<std::size_t>(std::max(0L, parameter.value_or(0)));
            FPos += std::min(count, FInput.size() - FPos);
            return;
        }
        if (word == "colortbl") {
            FState.Destination = dColorTable;
            FColors.clear();
            return;
        }
        if (IsSkippedDestination(word)) {
            FState.Destination = dSkip;
            return;
        }
        if (FState.Destination == dColorTable) {
            const int component = std::clamp(clamped, 0, 255);
            if (word == "red") FRed = component;
            if (word == "green") FGreen = component;
            if (word == "blue") FBlue = component;
            FColorSet = FColorSet || word == "red" || word == "green" || word == "blue";
            return;
        }
        if (word == "uc") {
            FState.UnicodeSkip = std::clamp(clamped, 0, 16);
            return;
        }
        if (word == "u") {
            // A signed 16-bit parameter; control characters other than the tab show nothing.
            if (clamped >= -32768 && clamped <= 65535) {
                const auto code = static_cast<char16_t>(clamped < 0 ? clamped + 65536 : clamped);
                if (code >= 0x20 || code == u'\t') Unicode(code);
            }
            FFallback = FState.UnicodeSkip;
            return;
        }
        FFallback = 0;
        if (FState.Destination != dText) return;
        Flush();
        if (word == "b") {
            FState.Bold = value != 0;
        } else if (word == "i") {
            FState.Italic = value != 0;
        } else if (word == "ul") {
            FState.Underline = value != 0;
        } else if (word == "ulnone") {
            FState.Underline = false;
        } else if (word == "fs") {
            FState.HalfPoints = clamped > 0 ? std::min(clamped, kMaxHalfPoints) : 0;
        } else if (word == "cf") {
            FState.Foreground = clamped;
        } else if (word == "cb" || word == "highlight") {
            FState.Background = clamped;
        } else if (word == "plain") {
            FState.Bold = FState.Italic = FState.Underline = false;
            FState.HalfPoints = 0;
            FState.Foreground = FState.Background = -1;
        } else if (word == "par") {
            FCursor.insertBlock();
        } else if (word == "line") {
            FRun += QChar(QChar::LineSeparator);
        } else if (word == "tab") {
            FRun += u'\t';
        } else if (word == "emdash") {
            FRun += QChar(0x2014);
        } else if (word == "endash") {
            FRun += QChar(0x2013);
        } else if (word == "bullet") {
            FRun += QChar(0x2022);
        } else if (word == "lquote") {
            FRun += QChar(0x2018);
        } else if (word == "rquote") {
            FRun += QChar(0x2019);
        } else if (word == "ldblquote") {
            FRun += QChar(0x201C);
        } else if (word == "rdblquote") {
            FRun += QChar(0x201D);
        }
    }

    std::optional<QColor> Color(int index) const {
        if (index < 0 || static_cast<std::size_t>(index) >= FColors.size()) return std::nullopt;
        return FColors[static_cast<std::size_t>(index)];
    }

    QTextCharFormat Format() const {
        QTextCharFormat format;
        format.setFontWeight(FState.Bold ? QFont::Bold : QFont::Normal);
        format.setFontItalic(FState.Italic);
        format.setFontUnderline(FState.Underline);
        if (FState.HalfPoints > 0) format.setFontPointSize(FState.HalfPoints / 2.0);
        if (const auto color = Color(FState.Foreground)) format.setForeground(*color);
        if (const auto color = Color(FState.Background)) format.setBackground(*color);
        return format;
    }

    void TakeBytes() {
        if (FBytes.empty()) return;
        FRun += QString::fromStdString(Cp1252ToUtf8(FBytes));
        FBytes.clear();
    }

    // Writes the text gathered under the current state before the state changes.
    void Flush() {
        TakeBytes();
        if (FRun.isEmpty()) return;
        FCursor.insertText(FRun, Format());
        FRun.clear();
    }

    std::string_view FInput;
    std::size_t FPos = 0;
    QTextCursor FCursor;
    TState FState;
    std::vector<TState> FStack;
    std::size_t FOverflow = 0;
    int FFallback = 0;
    std::vector<std::optional<QColor>> FColors;
    int FRed = 0, FGreen = 0, FBlue = 0;
    bool FColorSet = false;
    std::string FBytes;
    QString FRun;
};

}  // namespace

void LoadRtf(std::string_view rtf, QTextDocument& document) {
    document.clear();
    TRtfParser(rtf, document).Run();
}

}  // namespace pix
