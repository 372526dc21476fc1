// What main reports: the error line's debug forms, and the test-only origin
// setting. The developer modes run as child processes in probe_process_test.cpp.
#include "sarn/main/program.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "sarn/main/test_origin.h"

namespace sarn::entry {
namespace {

TEST(ErrorLine, DebugFormsOfTheErrors) {
    EXPECT_EQ(error_line(MainError::from_text("yt-dlp backend: not found")), "Error: \"yt-dlp backend: not found\"\n");
    EXPECT_EQ(error_line(MainError::from_text("say \"hi\"\nback\\slash")),
              "Error: \"say \\\"hi\\\"\\nback\\\\slash\"\n");
    EXPECT_EQ(error_line(MainError::from_launch(vorn_ui::launch::LaunchError{"no desktop display\n(x11)"})),
              "Error: LaunchError { message: \"no desktop display\\n(x11)\" }\n");
    EXPECT_EQ(error_line(MainError::from_layout(
                  vorn_ui::layout::LayoutError{vorn_ui::layout::LayoutError::Kind::InvalidNode, "node 7"})),
              "Error: LayoutError { kind: InvalidNode, message: \"node 7\" }\n");
}

// Sets a variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old;
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (m_old) {
            setenv(m_name, m_old->c_str(), 1);
        } else {
            unsetenv(m_name);
        }
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

TEST(TestOrigin, ReplacesTheOutsideOriginsOnlyWhenSet) {
    {
        ScopedEnv env("VORN_SARN_TEST_ORIGIN", nullptr);
        EXPECT_EQ(test_origin_from_environment(), std::nullopt);
        EXPECT_FALSE(app_options_from_environment().fetch_config) << "the program's own addresses are the default";
    }
    {
        ScopedEnv env("VORN_SARN_TEST_ORIGIN", "");
        EXPECT_EQ(test_origin_from_environment(), std::nullopt);
    }
    {
        ScopedEnv env("VORN_SARN_TEST_ORIGIN", "http://127.0.0.1:4321/");
        EXPECT_EQ(test_origin_from_environment(), "http://127.0.0.1:4321");
        const SarnAppOptions options = app_options_from_environment();
        ASSERT_TRUE(options.fetch_config);
        const FetchWorkerConfig config = options.fetch_config();
        EXPECT_EQ(config.extras.segments, "http://127.0.0.1:4321");
        EXPECT_EQ(config.extras.thumbnails, "http://127.0.0.1:4321");
        EXPECT_EQ(config.extras.votes, "http://127.0.0.1:4321");
        EXPECT_TRUE(config.live_backend);
    }
    // The defaults of the services are untouched.
    const FetchWorkerConfig defaults;
    EXPECT_EQ(defaults.extras.segments, ExtrasEndpoints{}.segments);
    EXPECT_NE(defaults.extras.segments.find("https://"), std::string::npos);
}

}  // namespace
}  // namespace sarn::entry
