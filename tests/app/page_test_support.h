// Laying out whole pages headless and reading them back: the widgets by id,
// label and type, their texts, the whole tree as rows, and clicks delivered
// as pointer events. Like the trees they read, these run on the thread that
// builds the tree (the test's own).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include <fmt/format.h>

#include "sarn/app/screens/blocks.h"
#include "sarn/app/screens/page_context.h"
#include "test_widgets.h"
#include "vorn_ui/widget/scrollable.h"

namespace sarn::screens::test {

namespace ui = vorn_ui;
using ui::widget::Widget;
using ui::widget::scrollable::Scrollable;

// ---- reading a widget tree ----
// Each lookup walks the tree depth first in child order; the forms over a
// mutable tree hand back mutable widgets, for tests that drive them.

inline void walk(const Widget& w, const std::function<void(const Widget&)>& fn) {
    fn(w);
    for (const auto& c : w.children())
        if (c) walk(*c, fn);
}

inline void walk(Widget& w, const std::function<void(Widget&)>& fn) {
    fn(w);
    for (auto& c : w.children_mut())
        if (c) walk(*c, fn);
}

// The widgets of the type, in tree order.
template <class W>
std::vector<const W*> all_of(const Widget& root) {
    std::vector<const W*> out;
    walk(root, [&](const Widget& w) {
        if (const auto* x = dynamic_cast<const W*>(&w)) out.push_back(x);
    });
    return out;
}

template <class W>
std::vector<W*> all_of(Widget& root) {
    std::vector<W*> out;
    walk(root, [&](Widget& w) {
        if (auto* x = dynamic_cast<W*>(&w)) out.push_back(x);
    });
    return out;
}

// The contents of the texts, in tree order.
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

inline Widget* find_id(Widget& root, std::string_view id) {
    Widget* found = nullptr;
    walk(root, [&](Widget& w) {
        if (!found && w.widget_id() == id) found = &w;
    });
    return found;
}

// The first text with the content, or null.
inline const Text* find_text(const Widget& root, std::string_view content) {
    for (const auto* t : all_of<Text>(root))
        if (t->content() == content) return t;
    return nullptr;
}

inline Text* find_text(Widget& root, std::string_view content) {
    for (auto* t : all_of<Text>(root))
        if (t->content() == content) return t;
    return nullptr;
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

// The focusable widget with the accessible name, or null.
inline const Widget* find_control(const Widget& root, std::string_view name) {
    const Widget* found = nullptr;
    walk(root, [&](const Widget& w) {
        if (found || !w.is_focusable()) return;
        if (auto node = w.accessibility(); node && node->name.value_or("") == name) found = &w;
    });
    return found;
}

inline Widget* find_control(Widget& root, std::string_view name) {
    Widget* found = nullptr;
    walk(root, [&](Widget& w) {
        if (found || !w.is_focusable()) return;
        if (auto node = w.accessibility(); node && node->name.value_or("") == name) found = &w;
    });
    return found;
}

// The ids of the widgets whose id starts with the prefix, in tree order.
inline std::vector<std::string> ids_with_prefix(const Widget& root, std::string_view prefix) {
    std::vector<std::string> out;
    walk(root, [&](const Widget& w) {
        if (auto id = w.widget_id(); id && id->starts_with(prefix)) out.emplace_back(*id);
    });
    return out;
}

// A tree read back as rows of depth, type, id, text and rectangle, in tree
// order, for finding widgets by id and comparing their places.
struct DumpRow {
    int depth = 0;
    std::string type;
    std::string id;
    std::string text;  // a Text's content, else the action label
    ui::Rect rect;
    const Widget* widget = nullptr;

    std::string line() const {
        return fmt::format("{:>{}}{} {} \"{}\" ({:.0f},{:.0f} {:.0f}x{:.0f})", "", depth * 2, type, id, text, rect.x0,
                           rect.y0, rect.width(), rect.height());
    }
};

inline void dump_into(const Widget& widget, int depth, std::vector<DumpRow>& out) {
    DumpRow row;
    row.depth = depth;
    row.type = std::string(widget.type_name());
    if (auto id = widget.widget_id()) row.id = std::string(*id);
    if (const auto* text = dynamic_cast<const Text*>(&widget)) {
        row.text = text->content();
    } else if (auto label = widget.action_label()) {
        row.text = std::string(*label);
    }
    row.rect = widget.bounds();
    row.widget = &widget;
    out.push_back(std::move(row));
    for (const auto& child : widget.children()) {
        if (child) dump_into(*child, depth + 1, out);
    }
}

inline std::vector<DumpRow> dump_tree(const Widget& root) {
    std::vector<DumpRow> out;
    dump_into(root, 0, out);
    return out;
}

inline std::optional<DumpRow> find_id(const std::vector<DumpRow>& rows, std::string_view id) {
    for (const auto& row : rows) {
        if (row.id == id) return row;
    }
    return std::nullopt;
}

inline std::vector<DumpRow> with_id_prefix(const std::vector<DumpRow>& rows, std::string_view prefix) {
    std::vector<DumpRow> out;
    for (const auto& row : rows) {
        if (row.id.starts_with(prefix)) out.push_back(row);
    }
    return out;
}

inline std::optional<DumpRow> find_text(const std::vector<DumpRow>& rows, std::string_view text) {
    for (const auto& row : rows) {
        if (row.text == text) return row;
    }
    return std::nullopt;
}

inline std::string dump_text(const std::vector<DumpRow>& rows) {
    std::string out;
    for (const auto& row : rows) out += row.line() + "\n";
    return out;
}

// The page column inside a page's scroll container.
inline const Flex& page_column(const Scrollable& page) { return dynamic_cast<const Flex&>(*page.children()[0]); }

// ---- driving a laid-out tree ----

// Pointer move, press and release at the centre of the target, delivered
// to the root.
inline void click_centre(vorn_ui_test::Harness& h, Widget& root, const Widget& target) {
    const ui::Rect b = target.bounds();
    const double x = (b.x0 + b.x1) / 2, y = (b.y0 + b.y1) / 2;
    h.send(root, vorn_ui_test::move(x, y));
    h.send(root, vorn_ui_test::press(x, y));
    h.send(root, vorn_ui_test::release(x, y));
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
    const Flex& column() const { return page_column(page); }
    ui::Rect rect(std::string_view id) const {
        const Widget* w = find_id(page, id);
        if (!w) {
            ADD_FAILURE() << "no widget " << id;
            return {};
        }
        return w->bounds();
    }
    // Pointer move, press and release at the centre of the widget.
    void click(const Widget& target) { click_centre(h, page, target); }
};

// The environment a page is built in at a scale (the theme carries it too).
inline ui::widget::Environment environment_at(float scale, ui::Theme theme = ui::Theme::dark()) {
    ui::widget::Environment env;
    env.theme = theme.with_scale(scale);
    env.scale = scale;
    return env;
}

// A page builder's output for a Library, laid out at a width and scale.
struct Built {
    ui::widget::Environment env;
    IntentQueue queue;
    std::optional<LaidPage> laid;

    template <class Builder>
    Built(const Library& library, Builder builder, double width = 1000, float scale = 1.0f)
        : env(environment_at(scale)) {
        const PageContext cx{library, env, queue, std::nullopt};
        laid.emplace(builder(cx), width, scale);
    }
    const Widget& page() const { return laid->page; }
};

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
