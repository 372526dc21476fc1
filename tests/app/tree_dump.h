// Reads a laid-out widget tree back as rows of type, id, text and rectangle,
// so that tests can find widgets by id and compare their places.
#pragma once

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "vorn_ui/widget.h"
#include "vorn_ui/widget/text_widget.h"

namespace sarn::test {

struct DumpRow {
    int depth = 0;
    std::string type;
    std::string id;
    std::string text;  // a Text's content, else the action label
    vorn_ui::Rect rect;
    const vorn_ui::widget::Widget* widget = nullptr;

    std::string line() const {
        return fmt::format("{:>{}}{} {} \"{}\" ({:.0f},{:.0f} {:.0f}x{:.0f})", "", depth * 2, type, id, text, rect.x0,
                           rect.y0, rect.width(), rect.height());
    }
};

inline void dump_into(const vorn_ui::widget::Widget& widget, int depth, std::vector<DumpRow>& out) {
    DumpRow row;
    row.depth = depth;
    row.type = std::string(widget.type_name());
    if (auto id = widget.widget_id()) row.id = std::string(*id);
    if (const auto* text = dynamic_cast<const vorn_ui::widget::Text*>(&widget)) {
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

inline std::vector<DumpRow> dump_tree(const vorn_ui::widget::Widget& root) {
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

}  // namespace sarn::test
