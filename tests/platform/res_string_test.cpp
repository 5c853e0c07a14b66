// SPDX-License-Identifier: MIT
#include "platform/res_string.h"

#include "test_support.h"

#include "platform/error.h"
#include "platform/res_strings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <stdexcept>
#include <string>

namespace pix {
namespace {

constexpr TResString SProbe{60001, "%s (%d)"};

// Translations by identifier; the hook records the identifiers it was asked for.
struct TFakeDictionary {
    std::map<int, std::string> Texts;
    std::vector<int> Asked;
    bool Throw = false;
    bool Reenter = false;
    std::string Inner;

    static void Hook(void* context, int id, std::string& text) {
        auto& self = *static_cast<TFakeDictionary*>(context);
        self.Asked.push_back(id);
        if (self.Throw) throw std::runtime_error("broken dictionary");
        if (self.Reenter) self.Inner = LoadResString(SReadError);
        if (const auto it = self.Texts.find(id); it != self.Texts.end()) text = it->second;
    }
};

// Sets the hook for the lifetime of the object.
class TResStringTest : public testing::Test {
protected:
    void SetUp() override { SetResStringHook(&TFakeDictionary::Hook, &FDict); }
    void TearDown() override { SetResStringHook(nullptr, nullptr); }
    TFakeDictionary FDict;
};

TEST_F(TResStringTest, TheHookGetsTheIdentifierAndMayReplaceTheText) {
    FDict.Texts[SReadError.Id] = "Fehler beim Lesen des Datenstroms";
    EXPECT_EQ(LoadResString(SReadError), "Fehler beim Lesen des Datenstroms");
    EXPECT_EQ(LoadResString(SWriteError), SWriteError.Text);  // not in the dictionary
    EXPECT_EQ(FDict.Asked, (std::vector<int>{SReadError.Id, SWriteError.Id}));
    SetResStringHook(nullptr, nullptr);
    EXPECT_EQ(LoadResString(SReadError), SReadError.Text);
    EXPECT_EQ(FDict.Asked.size(), 2u);
}

TEST_F(TResStringTest, TheHookIsNotReenteredAndAThrowingHookGivesNoText) {
    FDict.Texts[SReadError.Id] = "translated";
    FDict.Reenter = true;
    EXPECT_EQ(LoadResString(SSeekError), SSeekError.Text);
    EXPECT_EQ(FDict.Inner, SReadError.Text);  // loaded inside the hook: native
    EXPECT_EQ(FDict.Asked, (std::vector<int>{SSeekError.Id}));
    FDict.Throw = true;
    EXPECT_EQ(LoadResString(SSeekError), "");
    FDict.Throw = false;
    EXPECT_EQ(LoadResString(SReadError), "translated");  // the hook still works afterwards
}

TEST_F(TResStringTest, FmtResUsesOnlyATranslationWithTheSameConversions) {
    const struct {
        const char* Translation;
        const char* Expected;
    } rows[] = {
        {"%s [%d]", "a.tif [7]"},                  // same conversions: used
        {"%d (%s)", "a.tif (7)"},                  // other order: native
        {"%s", "a.tif (7)"},                       // one missing: native
        {"%s (%d) %d", "a.tif (7)"},               // one more: native
        {"%s (%ld)", "a.tif (7)"},                 // other length: native
        {"100%% %s: %-4d|", "100% a.tif: 7   |"},  // flags, widths and %% do not count
    };
    for (const auto& r : rows) {
        FDict.Texts[SProbe.Id] = r.Translation;
        EXPECT_EQ(FmtRes(SProbe, "a.tif", 7), r.Expected) << r.Translation;
    }
}

TEST_F(TResStringTest, ErrorsKeepTheIdentifierWithTheFormattedText) {
    FDict.Texts[SErrCreateFile.Id] = "Fehler beim Erstellen der Datei \"%s\" (%d)";
    const EPixError error(SErrCreateFile, "/x/a.tif", 2);
    EXPECT_EQ(error.Id, SErrCreateFile.Id);
    EXPECT_STREQ(error.what(), "Fehler beim Erstellen der Datei \"/x/a.tif\" (2)");
    const EOSError os(SErrMapView, 12, 12);
    EXPECT_EQ(os.Id, SErrMapView.Id);
    EXPECT_EQ(os.Code, 12);
    EXPECT_STREQ(os.what(), "Error mapping view of file (12)");
    EXPECT_EQ(EStreamError(SReadError).Id, SReadError.Id);
    EXPECT_EQ(EPixError("library text").Id, 0);
}

TEST(MessageTable, IdentifiersAreUniqueAndInRange) {
    std::set<int> ids;
    for (const TResString& entry : MessageTable()) {
        EXPECT_TRUE(entry.Id >= 1 && entry.Id <= 65535) << entry.Text;
        EXPECT_TRUE(ids.insert(entry.Id).second) << "identifier " << entry.Id << " twice";
        EXPECT_TRUE(entry.Text != nullptr && *entry.Text != '\0') << entry.Id;
    }
    // Every entry of the header is listed: the header holds as many entries.
    std::ifstream header(test::DataDir() / ".." / ".." / "platform" / "res_strings.h");
    ASSERT_TRUE(header) << "platform/res_strings.h not found";
    const std::string text((std::istreambuf_iterator<char>(header)),
                           std::istreambuf_iterator<char>());
    std::size_t declared = 0;
    for (std::size_t at = 0; (at = text.find("constexpr TResString ", at)) != std::string::npos;
         ++at)
        ++declared;
    EXPECT_EQ(ids.size(), declared);
}

}  // namespace
}  // namespace pix
