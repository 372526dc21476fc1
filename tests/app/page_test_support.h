// Laying out whole pages headless and reading them back: the widgets by id,
// label and type, their texts, and clicks delivered as pointer events.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "sarn/app/screens/blocks.h"
#include "sarn/app/screens/page_context.h"
#include "test_widgets.h"
#include "vorn_ui/widget/scrollable.h"

namespace sarn::screens::test {

namespace ui = vorn_ui;
using ui::widget::Widget;
using ui::widget::scrollable::Scrollable;

inline void walk(const Widget& w, const std::function<void(const Widget&)>& fn) {
    fn(w);
    for (const auto& c : w.children()) walk(*c, fn);
}

template <class W>
std::vector<const W*> all_of(const Widget& root) {
    std::vector<const W*> out;
    walk(root, [&](const Widget& w) {
        if (const auto* x = dynamic_cast<const W*>(&w)) out.push_back(x);
    });
    return out;
}

inline std::vector<std::string> texts_of(const Widget& root) {
    std::vector<std::string> out;
    for (const auto* t : all_of<Text>(root)) out.push_back(t->content());
    return out;
}

inline bool has_text(const Widget& root, std::string_view text) {
    for (const auto& t : texts_of(root))
        if (t == text) return true;
    return false;
}

// The first widget with the id, or null.
inline const Widget* find_id(const Widget& root, std::string_view id) {
    const Widget* found = nullptr;
    walk(root, [&](const Widget& w) {
        if (!found && w.widget_id() == id) found = &w;
    });
    return found;
}

inline const Flex& flex_id(const Widget& root, std::string_view id) {
    const Widget* w = find_id(root, id);
    if (!w) ADD_FAILURE() << "no widget " << id;
    return dynamic_cast<const Flex&>(*w);
}

// The controls by accessible name, in tree order.
inline std::vector<std::string> control_names(const Widget& root) {
    std::vector<std::string> out;
    walk(root, [&](const Widget& w) {
        if (!w.is_focusable()) return;
        if (auto node = w.accessibility()) out.push_back(node->name.value_or(""));
    });
    return out;
}

inline const Widget* find_control(const Widget& root, std::string_view name) {
    const Widget* found = nullptr;
    walk(root, [&](const Widget& w) {
        if (found || !w.is_focusable()) return;
        if (auto node = w.accessibility(); node && node->name.value_or("") == name) found = &w;
    });
    return found;
}

inline std::vector<std::string> ids_with_prefix(const Widget& root, std::string_view prefix) {
    std::vector<std::string> out;
    walk(root, [&](const Widget& w) {
        if (auto id = w.widget_id(); id && id->starts_with(prefix)) out.emplace_back(*id);
    });
    return out;
}

// A page laid out in a viewport at a display scale.
struct LaidPage {
    vorn_ui_test::Harness h;
    Scrollable page;

    LaidPage(Scrollable built, double width, float scale = 1.0f, double height = 4000) : page(std::move(built)) {
        h.env.theme = h.env.theme.with_scale(scale);
        h.env.scale = scale;
        h.layout(page, width, height);
    }
    // The page column inside the scroll container.
    const Flex& column() const { return dynamic_cast<const Flex&>(*page.children()[0]); }
    ui::Rect rect(std::string_view id) const {
        const Widget* w = find_id(page, id);
        if (!w) {
            ADD_FAILURE() << "no widget " << id;
            return {};
        }
        return w->bounds();
    }
    // Pointer move, press and release at the centre of the widget.
    void click(const Widget& target) {
        const ui::Rect b = target.bounds();
        const double x = (b.x0 + b.x1) / 2, y = (b.y0 + b.y1) / 2;
        h.send(page, vorn_ui_test::move(x, y));
        h.send(page, vorn_ui_test::press(x, y));
        h.send(page, vorn_ui_test::release(x, y));
    }
};

// The environment a page is built in at a scale (the theme carries it too).
inline ui::widget::Environment environment_at(float scale, ui::Theme theme = ui::Theme::dark()) {
    ui::widget::Environment env;
    env.theme = theme.with_scale(scale);
    env.scale = scale;
    return env;
}

// Records for fixtures.
inline Video video_record(std::string id, std::string channel_id, std::uint64_t views = 1000) {
    Video v;
    v.id = id;
    v.title = "Title " + id;
    v.channel_id = channel_id;
    v.channel_name = "Channel " + channel_id;
    v.views = views;
    v.published = "2 days ago";
    v.duration = 300;
    v.seed = id;
    return v;
}

inline Channel channel_record(std::string id, std::string name, std::uint64_t subscribers = 0) {
    Channel c;
    c.id = id;
    c.name = std::move(name);
    c.handle = "@" + id;
    c.subscribers = subscribers;
    c.seed = id;
    return c;
}

inline Playlist playlist_record(std::string id, std::vector<std::string> video_ids, std::uint64_t count) {
    Playlist p;
    p.id = id;
    p.title = "Playlist " + id;
    p.channel_id = "UCp";
    p.channel_name = "Curator";
    p.seed = id;
    p.video_ids = std::move(video_ids);
    p.video_count = count;
    return p;
}

}  // namespace sarn::screens::test
