// The command line: which developer mode runs and with what value, the
// option scans one by one, and the page a "--route" value names.
#include "sarn/main/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sarn::entry {
namespace {

using Args = std::vector<std::string>;

std::string describe(const Args& args) {
    std::string out;
    for (const auto& a : args) out += "[" + a + "]";
    return out;
}

TEST(FlagValueOr, TakesTheValueOrTheDefault) {
    const struct {
        Args args;
        std::optional<std::string> want;
    } cases[] = {
        {{"prog"}, std::nullopt},
        {{"prog", "--probe-engine", "abc"}, "abc"},
        {{"prog", "--probe-engine"}, "dflt"},                   // last argument
        {{"prog", "--probe-engine", "--probe-ytdlp"}, "dflt"},  // next starts with --
        {{"prog", "--probe-engine", "-x"}, "-x"},               // a single dash is a value
        {{"prog", "--probe-engine="}, "dflt"},                  // nothing after =
        {{"prog", "--probe-engine=xyz"}, "xyz"},
        {{"prog", "--probe-engine=a=b"}, "a=b"},
        {{"prog", "--probe-engine=", "--probe-engine", "later"}, "dflt"},  // the first match decides
        {{"prog", "--probe-engines", "abc"}, std::nullopt},
        {{"--probe-engine", "abc"}, std::nullopt},  // argument 0 is the program
        {{"prog", "x", "--probe-engine", ""}, ""},  // an empty next argument is taken
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(describe(c.args));
        EXPECT_EQ(flag_value_or(c.args, "--probe-engine", "dflt"), c.want);
    }
}

TEST(LiveShotsOption, TakesDirectoryAndQuery) {
    const struct {
        Args args;
        std::optional<LiveShotsOption> want;
    } cases[] = {
        {{"prog", "--live-shots"}, std::nullopt},  // no directory: absent
        {{"prog", "--live-shots", "out"}, LiveShotsOption{"out", "rust programming"}},
        {{"prog", "--live-shots", "out", "cats"}, LiveShotsOption{"out", "cats"}},
        {{"prog", "--live-shots", "out", "--probe-ytdlp"}, LiveShotsOption{"out", "rust programming"}},
        {{"prog", "--live-shots", "--weird"}, LiveShotsOption{"--weird", "rust programming"}},
        {{"prog", "--live-shots="}, LiveShotsOption{"", "rust programming"}},
        {{"prog", "--live-shots=shots", "dogs"}, LiveShotsOption{"shots", "dogs"}},
        {{"prog", "--live-shots=shots", "--x", "dogs"}, LiveShotsOption{"shots", "rust programming"}},
        {{"prog", "--live-shotsx", "a"}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(describe(c.args));
        EXPECT_EQ(live_shots_option(c.args), c.want);
    }
}

TEST(ProbeOption, MatchesOnlyItsOwnForms) {
    const struct {
        Args args;
        std::optional<std::string> want;
    } cases[] = {
        {{"prog"}, std::nullopt},
        {{"prog", "--probe"}, "rust programming"},
        {{"prog", "--probe="}, "rust programming"},
        {{"prog", "--probe", "lofi"}, "lofi"},
        {{"prog", "--probe", "--watch"}, "rust programming"},
        {{"prog", "--probe=jazz"}, "jazz"},
        {{"prog", "--probe-ytdlp", "x"}, std::nullopt},
        {{"prog", "--probe-avatars"}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(describe(c.args));
        EXPECT_EQ(probe_option(c.args), c.want);
    }
}

TEST(BenchScrollOption, ParsesAnUnsignedCount) {
    const struct {
        Args args;
        std::optional<std::size_t> want;
    } cases[] = {
        {{"prog"}, std::nullopt},
        {{"prog", "--bench-scroll"}, 90},
        {{"prog", "--bench-scroll", "12"}, 12},
        {{"prog", "--bench-scroll", "--watch"}, 90},  // the next argument is parsed, and fails
        {{"prog", "--bench-scroll", "+7"}, 7},
        {{"prog", "--bench-scroll", "0"}, 0},
        {{"prog", "--bench-scroll", "-3"}, 90},
        {{"prog", "--bench-scroll", "12x"}, 90},
        {{"prog", "--bench-scroll", ""}, 90},
        {{"prog", "--bench-scroll", "99999999999999999999999"}, 90},
        {{"prog", "--bench-scroll=+12"}, 12},
        {{"prog", "--bench-scroll=abc"}, 90},
        {{"prog", "--bench-scroll="}, 90},
        {{"prog", "--bench-scroll=+"}, 90},
        {{"prog", "--bench-scrolling", "5"}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(describe(c.args));
        EXPECT_EQ(bench_scroll_option(c.args), c.want);
    }
}

TEST(DeveloperMode, FirstPresentOptionInItsOrderWins) {
    using namespace mode;
    const struct {
        Args args;
        std::optional<DeveloperMode> want;
    } cases[] = {
        {{"prog"}, std::nullopt},
        {{"prog", "--route", "home", "--narrow"}, std::nullopt},
        // The trending probe wins wherever it stands.
        {{"prog", "--bench-scroll", "5", "--probe", "x", "--probe-trending"}, ProbeTrending{}},
        {{"--probe-trending"}, ProbeTrending{}},  // argument 0 counts for the plain test
        // The engine probe is tested first; its next argument starts with --.
        {{"prog", "--probe-engine", "--probe-play", "vid"}, ProbeEngine{"aqz-KE-bpKQ"}},
        {{"prog", "--probe-gst=vid123"}, ProbeEngine{"vid123"}},
        {{"prog", "--probe-stream", "s1", "--probe-play", "p1"}, ProbeEngine{"p1"}},  // play before stream
        {{"prog", "--probe-play"}, ProbeEngine{"aqz-KE-bpKQ"}},
        // "--live-shots" last is ignored and checking goes on.
        {{"prog", "--probe-ytdlp", "--live-shots"}, ProbeYtDlp{"blender open movie"}},
        {{"prog", "--live-shots"}, std::nullopt},
        {{"prog", "--live-shots", "dir", "--probe-ytdlp"}, LiveShots{{"dir", "rust programming"}}},
        {{"prog", "--probe-avatars", "cats", "--probe", "dogs"}, ProbeAvatars{"cats"}},
        {{"prog", "--probe", "dogs", "--bench-scroll"}, ProbeLive{"dogs"}},
        {{"prog", "--bench-scroll", "--watch"}, BenchScroll{90, true, false}},
        {{"prog", "--bench-scroll=+12", "--loaded"}, BenchScroll{12, false, true}},
        {{"prog", "--bench-scroll=ab", "--loaded", "--watch"}, BenchScroll{90, true, true}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(describe(c.args));
        EXPECT_EQ(choose_developer_mode(c.args), c.want);
    }
}

TEST(RouteFromValue, NamesPagesAndSearches) {
    const struct {
        const char* value;
        Route want;
    } cases[] = {
        {"home", Route::home()},
        {"HOME", Route::home()},
        {"Trending", Route::trending()},
        {"subs", Route::subscriptions()},
        {"Subscriptions", Route::subscriptions()},
        {"queue", Route::queue()},
        {"history", Route::history()},
        {"SETTINGS", Route::settings()},
        {"watch:abc", Route::watch("abc")},
        {"watch:", Route::watch("")},
        {"watch:AbC:d", Route::watch("AbC:d")},
        {"Watch:abc", Route::search("Watch:abc")},  // the prefix is case-sensitive
        {"search:Rust Lang", Route::search("Rust Lang")},
        {"search:", Route::search("")},
        {"channel:xyz", Route::search("channel:xyz")},
        {"playlist", Route::search("playlist")},
        {" home", Route::search(" home")},
        {"", Route::search("")},
        {"HÖME", Route::search("HÖME")},  // only ASCII letters fold
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(route_from_value(c.value), c.want);
    }
}

}  // namespace
}  // namespace sarn::entry
