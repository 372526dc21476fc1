#include <gtest/gtest.h>

#include "sarn/app/action_emitter.h"
#include "sarn/app/control_intent.h"
#include "vorn_log/log.h"

namespace sarn {
namespace {

using vorn_actions::resource::ActionBinding;
using vorn_actions::resource::ActionSpec;
using vorn_actions::resource::Resource;

TEST(ControlIntent, LabelsFollowTheIntent) {
    struct Case {
        ControlIntent intent;
        std::string_view label;
    } cases[] = {
        {intent::Navigate{Route::home()}, "Open Home"},
        {intent::Navigate{Route::trending()}, "Open Trending"},
        {intent::Navigate{Route::subscriptions()}, "Open subscriptions"},
        {intent::Navigate{Route::history()}, "Open watch history"},
        {intent::Navigate{Route::settings()}, "Open settings"},
        {intent::Navigate{Route::queue()}, "Open view"},
        {intent::Navigate{Route::watch("a")}, "Open view"},
        {intent::Navigate{Route::search("q")}, "Open view"},
        {intent::OpenVideo{"a"}, "Open video"},
        {intent::GoBack{}, "Go back"},
        {intent::Seek{0.5}, "Seek video"},
        {intent::OpenActionSearch{}, "Search Sarn actions"},
        {intent::RevokeDevice{"p"}, "Revoke device access"},
    };
    for (const auto& c : cases) EXPECT_EQ(action_palette_label(c.intent), c.label);
}

TEST(ControlIntent, QueueIsSharedAndTakenWhole) {
    IntentQueue root;
    IntentQueue control_a = root;
    IntentQueue control_b = root;
    EXPECT_TRUE(take_intents(root).empty());
    push_intent(control_a, intent::ToggleLike{"v1"});
    push_intent(control_b, intent::GoBack{});
    const auto taken = take_intents(root);
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0], ControlIntent(intent::ToggleLike{"v1"}));
    EXPECT_EQ(taken[1], ControlIntent(intent::GoBack{}));
    EXPECT_TRUE(take_intents(root).empty());
}

Resource one_action_resource() {
    return Resource("res", "kind", "Res")
        .with_action(ActionSpec::fixed("go", "Go", vorn_actions::EncodedAction{"k", "\"Go\""}));
}

TEST(ActionEmitter, BacklogHoldsSixtyFourAndEvictsTheOldest) {
    vorn_log::CaptureSink log;
    ActionEmitter emitter(*ActionBinding::unit_for(one_action_resource(), "go"));
    for (int i = 0; i < 65; ++i) ASSERT_TRUE(emitter.emit().has_value());
    EXPECT_EQ(emitter.backlog_size(), 64u);
    EXPECT_EQ(log.with_message(kEmitterEvictionWarning).size(), 1u);
    int taken = 0;
    while (auto invocation = emitter.take()) {
        EXPECT_EQ(invocation->address, (vorn_ui::ActionAddress{"res", "go"}));
        ++taken;
    }
    EXPECT_EQ(taken, 64);
    EXPECT_FALSE(emitter.take().has_value());
}

TEST(ActionEmitter, AvailabilityGatesTheBacklog) {
    ActionEmitter emitter(*ActionBinding::unit_for(one_action_resource(), "go"));
    ASSERT_TRUE(emitter.emit().has_value());
    emitter.refresh_availability({});
    EXPECT_FALSE(emitter.enabled());
    EXPECT_EQ(emitter.backlog_size(), 0u);
    EXPECT_TRUE(emitter.emit().has_value());  // accepted and discarded
    EXPECT_EQ(emitter.backlog_size(), 0u);
    emitter.refresh_availability({vorn_ui::ActionAddress{"res", "go"}});
    EXPECT_TRUE(emitter.enabled());
    EXPECT_EQ(emitter.backlog_size(), 0u);
    ASSERT_TRUE(emitter.emit().has_value());
    EXPECT_EQ(emitter.backlog_size(), 1u);
}

}  // namespace
}  // namespace sarn
