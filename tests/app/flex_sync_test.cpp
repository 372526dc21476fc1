// A Flex syncs every child that still wants it, and stops visiting those that
// no longer do (texts, icons, pictures that arrived), so that a page of many
// cards costs its frames only what still changes.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "sarn/app/widgets/flex.h"
#include "sarn/app/widgets/thumbnail.h"
#include "test_widgets.h"
#include "vorn_ui/offscreen.h"
#include "vorn_ui/widget/text_widget.h"

namespace sarn::widgets {
namespace {

namespace ui = vorn_ui;

// Counts its syncs; wants them while `wanted` holds.
class SyncCounter : public vorn_ui_test::Box {
public:
    SyncCounter(std::shared_ptr<int> syncs, std::shared_ptr<bool> wanted)
        : Box(10, 10), m_syncs(std::move(syncs)), m_wanted(std::move(wanted)) {}
    void sync(ui::widget::RuntimeState&) override { ++*m_syncs; }
    bool wants_sync() const override { return *m_wanted; }

private:
    std::shared_ptr<int> m_syncs;
    std::shared_ptr<bool> m_wanted;
};

// A store whose every picture is one small PNG, decoded in the background.
ui::image_store::ImageStore one_picture_store() {
    std::vector<std::uint8_t> pixels(4 * 4 * 4, 255);
    auto png = ui::offscreen::encode_png(4, 4, pixels);
    EXPECT_TRUE(png.has_value());
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(png.value_or(std::vector<std::uint8_t>{}));
    return ui::image_store::ImageStore::create(
        [bytes](const std::string&) { return std::optional<std::vector<std::uint8_t>>(*bytes); });
}

TEST(FlexSync, ChildrenAreSyncedWhileTheyWantItAndLeftOnceTheyDoNot) {
    auto syncs = std::make_shared<int>(0);
    auto wanted = std::make_shared<bool>(true);
    const auto store = one_picture_store();
    Flex root = Flex::column()
                    .child(Flex::row().child(ui::widget::Text("title")).child(ui::widget::Text("meta")))
                    .child(Thumbnail("seed", 90).with_image(store, "https://img.invalid/a.jpg"))
                    .child(ui::widget::WidgetPtr(std::make_unique<SyncCounter>(syncs, wanted)));
    ui::widget::RuntimeState state;
    const Flex& texts = static_cast<const Flex&>(*root.children()[0]);
    const auto& thumbnail = static_cast<const Thumbnail&>(*root.children()[1]);

    EXPECT_TRUE(root.wants_sync());  // nothing known before the first sync
    root.sync(state);
    EXPECT_FALSE(texts.wants_sync());
    EXPECT_TRUE(thumbnail.wants_sync());  // its picture is on the way
    store.block_until_idle(std::chrono::seconds(30));
    root.sync(state);
    EXPECT_TRUE(thumbnail.has_image());
    EXPECT_FALSE(thumbnail.wants_sync());
    EXPECT_EQ(*syncs, 2);

    // What still wants sync gets it every frame, until it says otherwise.
    root.sync(state);
    EXPECT_EQ(*syncs, 3);
    EXPECT_TRUE(root.wants_sync());
    *wanted = false;
    root.sync(state);
    EXPECT_EQ(*syncs, 4);
    EXPECT_FALSE(root.wants_sync());
    root.sync(state);
    EXPECT_EQ(*syncs, 4);
}

}  // namespace
}  // namespace sarn::widgets
