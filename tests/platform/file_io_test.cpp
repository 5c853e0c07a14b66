// SPDX-License-Identifier: MIT
#include "platform/file_io.h"

#include "test_support.h"

#include "platform/error.h"
#include "platform/res_strings.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace pix {
namespace {

namespace fs = std::filesystem;
using test::TTempDir;
using test::WriteFile;

// A pattern in which every offset holds a different-looking byte, so misplaced chunks show.
std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

// Removes the read hook when a test ends, whatever happens in it.
struct THookReset {
    ~THookReset() { TFileView::SetReadHookForTesting(nullptr); }
};

std::vector<std::string> Listing(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(FileViewTest, HoldsTheWholeFileAcrossChunks) {
    TTempDir dir;
    const std::string name = dir.File("big.tif");
    const std::string bytes = Pattern(9 * 1024 * 1024 + 123);  // three chunks, the last short
    WriteFile(name, bytes);
    THookReset reset;
    std::vector<std::int64_t> progress;
    TFileView::SetReadHookForTesting([&](std::int64_t done) { progress.push_back(done); });

    const auto view = TFileView::Open(name, fmOpenRead | fmShareDenyWrite);
    ASSERT_EQ(view->Size(), static_cast<std::int64_t>(bytes.size()));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(view->Data()), bytes.size()), bytes);
    EXPECT_FALSE(view->Writable());
    ASSERT_GE(progress.size(), 3u);
    EXPECT_EQ(progress.back(), view->Size());
}

TEST(FileViewTest, MissingFileNamesTheFileAndTheSystemCode) {
    TTempDir dir;
    const std::string name = dir.File("missing.tif");
    try {
        TFileView::Open(name, fmOpenRead);
        FAIL() << "opened a missing file";
    } catch (const EOSError& e) {
        EXPECT_EQ(e.Code, ENOENT);
        EXPECT_EQ(e.Code, 2);
        EXPECT_EQ(e.Id, SErrCreateFile.Id);
        EXPECT_NE(std::string(e.what()).find(name), std::string::npos);
    }
}

TEST(FileViewTest, EmptyFileCannotBeMapped) {
    TTempDir dir;
    WriteFile(dir.File("empty.tif"), "");
    try {
        TFileView::Open(dir.File("empty.tif"), fmOpenRead);
        FAIL() << "opened an empty file";
    } catch (const EOSError& e) {
        EXPECT_EQ(e.Id, SErrCreateMapping.Id);
    }
}

TEST(FileViewTest, FileTruncatedDuringTheReadIsAReadError) {
    TTempDir dir;
    const std::string name = dir.File("shrinking.tif");
    WriteFile(name, Pattern(10 * 1024 * 1024));
    THookReset reset;
    int calls = 0;
    // Another process cuts the file short after our first chunk.
    TFileView::SetReadHookForTesting([&](std::int64_t) {
        if (++calls == 1) fs::resize_file(name, 5 * 1024 * 1024 + 10);
    });
    try {
        TFileView::Open(name, fmOpenRead);
        FAIL() << "a shrunken file was read whole";
    } catch (const EStreamError& e) {
        EXPECT_EQ(e.Id, SReadError.Id);
    }
    EXPECT_GE(calls, 1);
}

TEST(FileViewTest, FilesOfTwoGibibytesAreRefusedUnread) {
    TTempDir dir;
    const std::string name = dir.File("huge.tif");
    WriteFile(name, "II*");
    std::error_code ec;
    fs::resize_file(name, std::uintmax_t{1} << 31, ec);  // sparse: no blocks are written
    if (ec) GTEST_SKIP() << "file system refuses a sparse 2 GiB file: " << ec.message();
    try {
        TFileView::Open(name, fmOpenRead);
        FAIL() << "a 2 GiB file was accepted";
    } catch (const EPixError& e) {
        EXPECT_EQ(e.Id, SErrFileTooLarge.Id);
        EXPECT_NE(std::string(e.what()).find(name), std::string::npos);
    }
}

TEST(FileViewTest, DirectoriesAndFifosAreRefusedWithoutWaiting) {
    TTempDir dir;
    fs::create_directory(dir.File("folder.tif"));
    EXPECT_THROW(TFileView::Open(dir.File("folder.tif"), fmOpenRead), EOSError);
    const std::string fifo = dir.File("pipe.tif");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Opening a FIFO for reading would block until a writer appears.
    EXPECT_THROW(TFileView::Open(fifo, fmOpenRead), EOSError);
}

TEST(FileViewTest, WriteAccessWritesOnlyTheMarkedBytesBack) {
    TTempDir dir;
    const std::string name = dir.File("edit.bin");
    WriteFile(name, "0123456789");
    {
        const auto view = TFileView::Open(name, fmOpenReadWrite);
        ASSERT_TRUE(view->Writable());
        view->Data()[2] = 'a';
        view->Data()[4] = 'b';
        view->Data()[8] = 'X';  // changed but not marked: stays in memory only
        view->MarkWritten(2, 3);
        view->Flush();
        EXPECT_EQ(test::ReadFile(name), "01a3b56789");
        view->Data()[9] = 'Z';
        view->MarkWritten(9, 100);  // clipped to the file
        // The destructor flushes what is still marked.
    }
    EXPECT_EQ(test::ReadFile(name), "01a3b5678Z");
}

TEST(AtomicFileTest, UncommittedFileLeavesNothingBehind) {
    TTempDir dir;
    const std::string name = dir.File("pixorama.dtd");
    {
        TAtomicFile file(name);
        file.Write("DTDB", 4);
        // The temporary file sits beside the target and is named after it.
        const auto names = Listing(dir.Path());
        ASSERT_EQ(names.size(), 1u);
        EXPECT_EQ(names[0].rfind("pixorama.dtd.tmp", 0), 0u) << names[0];
    }
    EXPECT_TRUE(Listing(dir.Path()).empty());
}

TEST(AtomicFileTest, CommitReplacesTheTargetWhole) {
    TTempDir dir;
    const std::string name = dir.File("pixorama.dtd");
    WriteFile(name, "old content that is longer");
    {
        TAtomicFile file(name);
        file.Write("DTDB", 4);
        file.Write("\x01\x00", 2);
        EXPECT_EQ(test::ReadFile(name), "old content that is longer");
        file.Commit();
        EXPECT_THROW(file.Write("x", 1), EOSError);
    }
    EXPECT_EQ(test::ReadFile(name), std::string("DTDB\x01\x00", 6));
    EXPECT_EQ(Listing(dir.Path()), std::vector<std::string>{"pixorama.dtd"});
}

TEST(AtomicFileTest, MissingFolderIsReportedWithTheTargetName) {
    TTempDir dir;
    const std::string name = dir.File("no/such/folder/pixorama.dtd");
    try {
        TAtomicFile file(name);
        FAIL() << "created a file in a missing folder";
    } catch (const EOSError& e) {
        EXPECT_EQ(e.Code, ENOENT);
        EXPECT_EQ(e.Id, SErrCreateFile.Id);
        EXPECT_NE(std::string(e.what()).find(name), std::string::npos);
    }
}

}  // namespace
}  // namespace pix
