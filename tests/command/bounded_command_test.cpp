#include "bounded_command/bounded_command.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "vorn_test/fake_ytdlp.h"

namespace {

using namespace std::chrono_literals;
using bounded_command::ErrorKind;
using Clock = std::chrono::steady_clock;

std::vector<std::string> list(std::initializer_list<const char*> items) { return {items.begin(), items.end()}; }

TEST(BoundedCommand, PassesArgumentsAndCapturesBothStreamsAndStatus) {
    vorn_test::FakeYtDlp fake;
    fake.set_scenario("stdout out line\\n\nstderr first\\nlast line\\n\nexit 3\n");
    const auto args = list({"-J", "a b", "", "--x=\"q\""});
    auto result = bounded_command::run(fake.program(), args, 1024, 5s);
    ASSERT_TRUE(result.has_value()) << result.error().message;
    EXPECT_EQ(result->exit_status, 3);
    EXPECT_EQ(result->stdout_bytes, "out line\n");
    EXPECT_EQ(result->stderr_bytes, "first\nlast line\n");
    ASSERT_EQ(fake.runs().size(), 1u);
    EXPECT_EQ(fake.runs()[0], args);
}

TEST(BoundedCommand, StandardInputIsTheNullDevice) {
    auto result = bounded_command::run("/bin/sh", list({"-c", "cat; echo done"}), 1024, 5s);
    ASSERT_TRUE(result.has_value()) << result.error().message;
    EXPECT_EQ(result->stdout_bytes, "done\n");
}

TEST(BoundedCommand, MissingProgramCannotBePerformed) {
    auto result = bounded_command::run("vorn-no-such-program-here", {}, 1024, 5s);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().kind, ErrorKind::Spawn);
    EXPECT_TRUE(result.error().not_performed());
    EXPECT_NE(result.error().message.find("No such file"), std::string::npos) << result.error().message;
}

TEST(BoundedCommand, OutputPastTheLimitStopsTheRun) {
    vorn_test::FakeYtDlp fake;
    fake.set_scenario("flood 100000000\nsleep 30\n");
    const auto start = Clock::now();
    auto result = bounded_command::run(fake.program(), {}, 1 << 20, 20s);
    EXPECT_LT(Clock::now() - start, 10s);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().kind, ErrorKind::OutputLimit);
    EXPECT_FALSE(result.error().not_performed());

    fake.set_scenario("flood 4096\n");
    auto exact = bounded_command::run(fake.program(), {}, 4096, 5s);
    ASSERT_TRUE(exact.has_value()) << exact.error().message;
    EXPECT_EQ(exact->stdout_bytes.size(), 4096u);

    fake.set_scenario("stderr 0123456789\n");
    auto err = bounded_command::run(fake.program(), {}, 5, 5s);
    ASSERT_FALSE(err.has_value());
    EXPECT_EQ(err.error().kind, ErrorKind::OutputLimit);
}

TEST(BoundedCommand, TimeOutKillsEvenAChildThatIgnoresTerm) {
    struct Row {
        const char* scenario;
    };
    static const Row rows[] = {
        {"stdout partial\nsleep 30\n"},
        {"ignore-term\nsleep 30\n"},
        {"ignore-term\ngrandchild 30\nsleep 30\n"},
    };
    for (const Row& row : rows) {
        vorn_test::FakeYtDlp fake;
        fake.set_scenario(row.scenario);
        const auto start = Clock::now();
        auto result = bounded_command::run(fake.program(), {}, 1024, 400ms);
        const auto took = Clock::now() - start;
        ASSERT_FALSE(result.has_value()) << row.scenario;
        EXPECT_EQ(result.error().kind, ErrorKind::TimedOut) << row.scenario;
        EXPECT_EQ(result.error().message, fake.program() + " timed out after 400 ms");
        EXPECT_GE(took, 400ms);
        EXPECT_LT(took, 3s) << row.scenario;
    }
}

bool process_gone(const std::string& pid) {
    for (int i = 0; i < 100; ++i) {
        std::ifstream stat("/proc/" + pid + "/stat");
        if (!stat) return true;
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        const auto close = text.rfind(')');
        if (close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z') return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

TEST(BoundedCommand, GrandchildHoldingThePipesDoesNotDelayTheAnswer) {
    const auto start = Clock::now();
    auto result = bounded_command::run("/bin/sh", list({"-c", "sleep 30 & echo $!; exit 4"}), 1024, 20s);
    EXPECT_LT(Clock::now() - start, 5s);
    ASSERT_TRUE(result.has_value()) << result.error().message;
    EXPECT_EQ(result->exit_status, 4);
    std::string pid = result->stdout_bytes;
    while (!pid.empty() && pid.back() == '\n') pid.pop_back();
    ASSERT_FALSE(pid.empty());
    EXPECT_TRUE(process_gone(pid)) << "the grandchild " << pid << " was left running";
}

TEST(BoundedCommand, DeathBySignalIsReported) {
    auto result = bounded_command::run("/bin/sh", list({"-c", "kill -9 $$"}), 1024, 5s);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().kind, ErrorKind::Signaled);
    EXPECT_EQ(result.error().message, "/bin/sh was ended by signal 9");
}

}  // namespace
