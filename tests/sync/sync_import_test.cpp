// Pulled items applied to the shared document through typed dispatch.

#include <gtest/gtest.h>

#include "sarn/sync/import.h"
#include "vorn_log/log.h"

namespace {

using namespace sarn;

TEST(SyncImport, AppliesAcceptedActionsAndLogsRefusals) {
    automerge::Document document;
    vorn_ui::bound_dispatch::DispatchState state;
    vorn_log::CaptureSink sink;

    EXPECT_TRUE(import_synced_actions(state, document, action::SetSubscription{"https://youtube.com/channel/UC1", true}));
    ASSERT_TRUE(state.last_encoded.has_value());
    EXPECT_EQ(state.last_encoded->kind, "sarn.action");
    EXPECT_NE(state.last_encoded->payload.find("UC1"), std::string::npos);
    EXPECT_TRUE(sink.with_message("refused a pulled Sarn device-sync action").empty());

    // The legacy toggle is refused by the reducer: dropped with a warning.
    EXPECT_FALSE(import_synced_actions(state, document, action::ToggleSubscription{"UC2"}));
    auto warnings = sink.with_message("refused a pulled Sarn device-sync action");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].level, vorn_log::Level::Warn);
    EXPECT_EQ(warnings[0].target, "sarn::app");
    EXPECT_TRUE(warnings[0].field("message").has_value());
    EXPECT_FALSE(warnings[0].field("error").value_or("").empty());
}

}  // namespace
