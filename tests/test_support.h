// SPDX-License-Identifier: MIT
// Helpers shared by the test programs.
#pragma once

#include <filesystem>
#include <string>

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

}  // namespace pix::test

// Skips the current test when the corpus folder is absent.
#define PIX_REQUIRE_CORPUS()                                                    \
    do {                                                                        \
        if (pix::test::CorpusDir().empty())                                     \
            GTEST_SKIP() << "test-image corpus not found at " PIXORAMA_TESTDATA \
                            " (conformance tests need ../shared/testdata)";     \
    } while (0)
