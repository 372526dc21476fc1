// The secret broker against a fake desktop portal on a private session bus.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "fake_portal.h"
#include "runtime_portal_xdg/secret.h"

namespace {

using vorn_test::FakePortal;

class SecretTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) GTEST_SKIP() << "needs dbus-run-session";
    }
};

TEST_F(SecretTest, ReturnsThePortalsSecretTheSameEachTime) {
    FakePortal portal("0123456789abcdef0123456789abcdef", 0);
    auto first = runtime_portal_xdg::Secret::retrieve();
    ASSERT_TRUE(first.has_value()) << first.error();
    EXPECT_EQ(std::string(first->begin(), first->end()), "0123456789abcdef0123456789abcdef");
    auto second = runtime_portal_xdg::Secret::retrieve();
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(*first, *second);
}

TEST_F(SecretTest, ARefusalOrAMissingPortalIsAnError) {
    {
        FakePortal portal("", 1);
        auto refused = runtime_portal_xdg::Secret::retrieve();
        ASSERT_FALSE(refused.has_value());
        EXPECT_EQ(refused.error(), "secret portal refused the request");
    }
    auto missing = runtime_portal_xdg::Secret::retrieve();
    ASSERT_FALSE(missing.has_value());
    EXPECT_TRUE(missing.error().starts_with("secret portal unavailable: ")) << missing.error();
}

}  // namespace
