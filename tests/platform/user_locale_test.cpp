// SPDX-License-Identifier: MIT
#include "platform/user_locale.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace pix {
namespace {

struct TLocaleCase {
    const char* Name;
    TLocaleId Id;
};

class LocaleOfNameTest : public ::testing::TestWithParam<TLocaleCase> {};

TEST_P(LocaleOfNameTest, GivesTheLanguageIdentifiers) {
    EXPECT_EQ(LocaleOfName(GetParam().Name), GetParam().Id) << GetParam().Name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, LocaleOfNameTest,
    ::testing::Values(TLocaleCase{"de_DE.UTF-8", {0x07, 1}}, TLocaleCase{"de_AT", {0x07, 3}},
                      TLocaleCase{"de_CH.UTF-8@euro", {0x07, 2}}, TLocaleCase{"de", {0x07, 1}},
                      TLocaleCase{"en_US.UTF-8", {0x09, 1}}, TLocaleCase{"en_GB", {0x09, 2}},
                      TLocaleCase{"fr_FR@euro", {0x0C, 1}}, TLocaleCase{"pt_BR", {0x16, 1}},
                      TLocaleCase{"pt_PT", {0x16, 2}}, TLocaleCase{"zh_CN.GB18030", {0x04, 2}},
                      TLocaleCase{"nn_NO", {0x14, 2}}, TLocaleCase{"EN_us", {0x09, 1}},
                      TLocaleCase{"C", {}}, TLocaleCase{"POSIX", {}}, TLocaleCase{"", {}},
                      TLocaleCase{"xx_YY", {}}, TLocaleCase{"_DE", {}}));

// LC_ALL, then LC_MESSAGES, then LANG: the first one set and not empty.
TEST(UserDefaultLocaleTest, TakesTheFirstVariableSet) {
    const char* saved[3];
    const char* names[3] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    std::string keep[3];
    for (int i = 0; i < 3; ++i) {
        saved[i] = std::getenv(names[i]);
        if (saved[i] != nullptr) keep[i] = saved[i];
    }
    setenv("LC_ALL", "", 1);
    setenv("LC_MESSAGES", "fr_CA.UTF-8", 1);
    setenv("LANG", "de_DE.UTF-8", 1);
    EXPECT_EQ(UserDefaultLocale(), (TLocaleId{0x0C, 3}));
    setenv("LC_ALL", "en_NZ", 1);
    EXPECT_EQ(UserDefaultLocale(), (TLocaleId{0x09, 5}));
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    EXPECT_EQ(UserDefaultLocale(), (TLocaleId{0x07, 1}));
    for (int i = 0; i < 3; ++i) {
        if (saved[i] != nullptr)
            setenv(names[i], keep[i].c_str(), 1);
        else
            unsetenv(names[i]);
    }
}

}  // namespace
}  // namespace pix
