// SPDX-License-Identifier: MIT
// Helpers shared by the test programs.
#pragma once

#include "platform/error.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace pix::test {

// The public test-image corpus, or an empty path when it is absent.
std::filesystem::path CorpusDir();
// Small files of our own under tests/data.
std::filesystem::path DataDir();

// A fresh folder that is removed with its contents when the object goes.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::filesystem::path& Path() const { return FPath; }
    std::string File(const std::string& name) const { return (FPath / name).string(); }

private:
    std::filesystem::path FPath;
};

// Makes a folder's missing write permission hold for root too, on the calling thread and
// on the threads it starts while the object lives. Root ignores permissions through its
// file capabilities; they are taken out of the effective set here (they stay permitted)
// and put back on destruction. For any other user there is nothing to do. Active() is
// false when the capabilities could not be changed, and a test that needs the permission
// should then skip.
class TPermissionsHold {
public:
    TPermissionsHold();
    ~TPermissionsHold();
    TPermissionsHold(const TPermissionsHold&) = delete;
    TPermissionsHold& operator=(const TPermissionsHold&) = delete;
    bool Active() const { return FActive; }

private:
    bool FActive = false;
    bool FChanged = false;
    unsigned FEffective[2] = {};
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);

// The EPixError a call raised: its message identifier (-1 when it raised none) and text.
struct TRaised {
    int Id = -1;
    std::string What;
};
template <typename F>
TRaised Raised(F&& call) {
    try {
        call();
    } catch (const EPixError& e) {
        return {e.Id, e.what()};
    }
    return {};
}
// Whether `raised` is the message `string`, with `argument` (when given) in its text.
inline testing::AssertionResult IsMessage(const TRaised& raised, const TResString& string,
                                          std::string_view argument = {}) {
    if (raised.Id != string.Id)
        return testing::AssertionFailure()
               << "raised message " << raised.Id << " \"" << raised.What << "\", expected "
               << string.Id << " \"" << string.Text << "\"";
    if (raised.What.find(argument) == std::string::npos)
        return testing::AssertionFailure()
               << "\"" << raised.What << "\" lacks \"" << argument << "\"";
    return testing::AssertionSuccess();
}

}  // namespace pix::test

// Skips the current test when the corpus folder is absent.
#define PIX_REQUIRE_CORPUS()                                                    \
    do {                                                                        \
        if (pix::test::CorpusDir().empty())                                     \
            GTEST_SKIP() << "test-image corpus not found at " PIXORAMA_TESTDATA \
                            " (conformance tests need ../shared/testdata)";     \
    } while (0)
