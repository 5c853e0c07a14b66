// SPDX-License-Identifier: MIT
#include "platform/process.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace pix {
namespace {

struct TSplitCase {
    const char* Line;
    std::vector<std::string> Args;
};

class SplitCommandLineTest : public ::testing::TestWithParam<TSplitCase> {};

TEST_P(SplitCommandLineTest, FollowsTheWindowsRules) {
    EXPECT_EQ(SplitCommandLine(GetParam().Line), GetParam().Args) << GetParam().Line;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SplitCommandLineTest,
    ::testing::Values(
        TSplitCase{"p a\tb  c ", {"p", "a", "b", "c"}},
        // The unquoted program name ends at the first blank; a quoted one knows no escapes.
        TSplitCase{R"(/opt/my app/k.exe "x")", {"/opt/my", "app/k.exe", "x"}},
        TSplitCase{R"("/opt/my app\"k a)", {"/opt/my app\\", "k", "a"}},
        TSplitCase{R"(p "a b"c d"e f")", {"p", "a bc", "de f"}},
        // Backslashes count only before a quote: 2n give n and a delimiter, 2n+1 give n
        // and a literal quote.
        TSplitCase{R"(p a\\b\c "d\\" e)", {"p", R"(a\\b\c)", R"(d\)", "e"}},
        TSplitCase{R"(p a\\\"b "c\" d")", {"p", R"(a\"b)", R"(c" d)"}},
        TSplitCase{R"(p "c:\temp\" x)", {"p", R"(c:\temp" x)"}},
        // A doubled quote inside a quoted part is a literal quote and ends the part.
        TSplitCase{R"(p "a""b" c)", {"p", R"(a"b c)"}},
        TSplitCase{R"(p "a""b c)", {"p", R"(a"b)", "c"}},
        TSplitCase{R"(p "" x """)", {"p", "", "x", "\""}}, TSplitCase{" p", {"", "p"}},
        TSplitCase{"", {}}));

TEST(QuoteArgumentTest, AnyTextComesBackWholeAsOneArgument) {
    EXPECT_EQ(QuoteArgument("/home/a b/x.tif"), "\"/home/a b/x.tif\"");
    for (const std::string text : {"", " lead and trail ", "a\"b", "a\\\"b", "dir\\", "dir\\\\",
                                   "\"\"", "x\ty\nz", "Gr\xC3\xBC\xC3\x9F \xE6\x97\xA5\\\\\"\\"}) {
        EXPECT_EQ(SplitCommandLine("p " + QuoteArgument(text)),
                  (std::vector<std::string>{"p", text}))
            << text;
    }
}

// True when this process has no child at all, exited or running.
bool NoChildren() { return ::waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD; }

void WriteScript(const std::string& path, const std::string& body) {
    test::WriteFile(path, "#!/bin/sh\n" + body);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

class StartProcessTest : public ::testing::Test {
protected:
    test::TTempDir FDir;
};

TEST_F(StartProcessTest, ProgramGetsItsArgumentsAndNoDescriptorOfOurs) {
    const std::string record = FDir.File("args");
    // In a folder with a blank, named unquoted: found as Windows finds it.
    std::filesystem::create_directory(FDir.File("my apps"));
    const std::string program = FDir.File("my apps/prog");
    WriteScript(program, "printf '%s\\0' \"$@\" > '" + record +
                                       "'\n[ -e /proc/$$/fd/200 ] && echo leaked >> '" + record +
                                       "'\nexit 0\n");
    // A descriptor opened without close-on-exec, as a library might leave one.
    const int fd = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::dup2(fd, 200), 200);
    const std::string line =
        program + " " + QuoteArgument(FDir.File("a \"b\" c\\")) + " x\\\\y";
    // Waiting for its end: the record is complete on return.
    const bool started = CreateProcess(line, kWaitForEnd);
    ::close(200);
    ::close(fd);
    ASSERT_TRUE(started);
    EXPECT_EQ(test::ReadFile(record), FDir.File("a \"b\" c\\") + '\0' + "x\\\\y" + '\0');
    EXPECT_TRUE(NoChildren());
}

TEST_F(StartProcessTest, WaitsAtMostTheGivenTimeAndLeavesNoChild) {
    for (const int wait : {kWaitNone, 300}) {
        const std::string pidFile = FDir.File("pid" + std::to_string(wait));
        WriteScript(FDir.File("sleeper"), "echo $$ > '" + pidFile + ".tmp'\nmv '" + pidFile +
                                              ".tmp' '" + pidFile + "'\nexec sleep 30\n");
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(StartProcess({FDir.File("sleeper")}, wait)) << wait;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << wait;
        EXPECT_TRUE(NoChildren()) << wait;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!std::filesystem::exists(pidFile) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const pid_t pid = std::stoi(test::ReadFile(pidFile));
        // Still running, outside our session.
        EXPECT_EQ(::kill(pid, 0), 0) << wait;
        EXPECT_NE(::getsid(pid), ::getsid(0)) << wait;
        ::kill(pid, SIGKILL);
    }
}

TEST_F(StartProcessTest, WhatCannotBeStartedGivesFalse) {
    test::WriteFile(FDir.File("plain"), "#!/bin/sh\nexit 0\n");  // not executable
    test::WriteFile(FDir.File("noshebang"), std::string("\x7f"
                                                        "ELF\x01garbage",
                                                        12));
    std::filesystem::permissions(FDir.File("noshebang"), std::filesystem::perms::owner_all);
    for (const std::string& program :
         {FDir.File("missing"), FDir.File("plain"), FDir.File("noshebang"), FDir.Path().string(),
          std::string()}) {
        for (const int wait : {kWaitNone, kWaitForEnd}) {
            EXPECT_FALSE(StartProcess({program, "x"}, wait)) << program << " " << wait;
        }
    }
    EXPECT_FALSE(CreateProcess("", kWaitNone));
    EXPECT_FALSE(CreateProcess(FDir.File("missing") + " \"a b\"", kWaitNone));
    EXPECT_TRUE(NoChildren());
}

}  // namespace
}  // namespace pix
