#include "sarn/actions/library_maps.h"

#include "sarn/actions/owner_history.h"
#include "sarn/actions/shared_reducer.h"

namespace sarn {

namespace {

// The map the winners lead to from the parent, as a reader that follows
// only the winning values finds it.
std::optional<automerge::ObjId> winning_map(const automerge::Document& document,
                                            const std::optional<automerge::ObjId>& parent, std::string_view key) {
    if (!parent) return std::nullopt;
    return child_map(document, *parent, key);
}

// The section under its winning map and under every map.
struct Section {
    std::optional<automerge::ObjId> winner;
    LibraryMaps all;

    Section child(const automerge::Document& document, std::string_view key) const {
        return Section{winning_map(document, winner, key), all.child(document, key)};
    }

    // Nothing to copy: the one map there is the winner (or there is none).
    bool converged() const {
        return all.empty() || (all.maps().size() == 1 && winner && all.maps().front() == *winner);
    }

    // Whether the winning map holds the key (with any value).
    bool winner_holds(const automerge::Document& document, std::string_view key) const {
        if (!winner) return false;
        auto item = document.get(*winner, key);
        return item && *item;
    }

    // The keys only the losing maps hold.
    std::vector<std::string> missing_keys(const automerge::Document& document) const {
        std::vector<std::string> out;
        if (converged()) return out;
        for (const std::string& key : all.keys(document)) {
            if (!winner_holds(document, key)) out.push_back(key);
        }
        return out;
    }
};

template <class Make>
void copy_flags(const automerge::Document& document, const Section& section, std::vector<SarnAction>& out, Make make) {
    for (const std::string& key : section.missing_keys(document)) {
        if (const auto value = section.all.flag(document, key)) out.push_back(make(key, *value));
    }
}

void copy_settings(const automerge::Document& document, const Section& settings, std::vector<SarnAction>& out) {
    for (const std::string& key : settings.missing_keys(document)) {
        for (Setting setting : kAllSettings) {
            if (setting_key(setting) != key) continue;
            if (const auto value = settings.all.flag(document, key)) {
                out.push_back(action::SetSetting{setting, *value});
            }
        }
        if (key == "preferred_quality") {
            const auto value = settings.all.scalar(document, key);
            const auto text = value ? value->as_str() : std::nullopt;
            if (text && is_accepted_quality(*text)) out.push_back(action::SetPreferredQuality{std::string(*text)});
        }
    }
    const Section categories = settings.child(document, "sponsor_categories");
    for (const std::string& key : categories.missing_keys(document)) {
        const auto category = parse_category(key);
        const auto value = categories.all.scalar(document, key);
        const auto text = value ? value->as_str() : std::nullopt;
        const auto mode = text ? parse_mode_document_text(*text) : std::nullopt;
        if (category && mode) out.push_back(action::SetSponsorCategory{*category, *mode});
    }
}

// A reply is either its text (as ReplyToComment writes it) or a map of its
// text and whether it is active.
void copy_replies(const automerge::Document& document, const Section& replies, std::vector<SarnAction>& out) {
    for (const std::string& comment : replies.all.keys(document)) {
        if (comment.empty()) continue;
        const Section of_comment = replies.child(document, comment);
        for (const std::string& reply_id : of_comment.missing_keys(document)) {
            if (const auto value = of_comment.all.scalar(document, reply_id)) {
                const auto text = value->as_str();
                if (!text) continue;
                if (reply_id_for(comment, *text) == reply_id) {
                    out.push_back(action::ReplyToComment{{}, 0, comment, std::string(*text)});
                } else {
                    out.push_back(action::SetCommentReply{comment, reply_id, std::string(*text), true});
                }
                continue;
            }
            const LibraryMaps reply = of_comment.all.child(document, reply_id);
            const auto text = reply.scalar(document, "text");
            const auto active = reply.flag(document, "active");
            if (text && text->as_str() && active) {
                out.push_back(action::SetCommentReply{comment, reply_id, std::string(*text->as_str()), *active});
            }
        }
    }
}

}  // namespace

LibraryMaps LibraryMaps::at(const automerge::Document& document, automerge::ObjId parent, std::string_view key) {
    LibraryMaps parents;
    parents.m_maps.push_back(parent);
    return parents.child(document, key);
}

LibraryMaps LibraryMaps::root(const automerge::Document& document) {
    return at(document, automerge::ObjId::root(), kLibraryRootKey);
}

LibraryMaps LibraryMaps::child(const automerge::Document& document, std::string_view key) const {
    LibraryMaps out;
    for (const automerge::ObjId& map : m_maps) {
        auto items = document.get_all(map, key);
        if (!items) continue;
        // get_all answers the winner last.
        for (auto it = items->rbegin(); it != items->rend(); ++it) {
            if (it->object == automerge::ObjType::map) out.m_maps.push_back(it->id);
        }
    }
    return out;
}

std::optional<automerge::Value> LibraryMaps::scalar(const automerge::Document& document, std::string_view key) const {
    for (const automerge::ObjId& map : m_maps) {
        auto item = document.get(map, key);
        if (!item || !*item) continue;
        if ((*item)->is_object()) return std::nullopt;
        return (*item)->value;
    }
    return std::nullopt;
}

std::optional<bool> LibraryMaps::flag(const automerge::Document& document, std::string_view key) const {
    const auto value = scalar(document, key);
    return value ? value->as_bool() : std::nullopt;
}

std::set<std::string> LibraryMaps::keys(const automerge::Document& document) const {
    std::set<std::string> out;
    for (const automerge::ObjId& map : m_maps) {
        if (auto keys = document.keys(map)) out.insert(keys->begin(), keys->end());
    }
    return out;
}

std::vector<std::string> LibraryMaps::keys_with(const automerge::Document& document, bool value) const {
    std::vector<std::string> out;
    for (const std::string& key : keys(document)) {
        if (flag(document, key) == std::optional<bool>(value)) out.push_back(key);
    }
    return out;
}

std::vector<std::string> LibraryMaps::keys_with_true(const automerge::Document& document) const {
    return keys_with(document, true);
}

bool has_library_map(const automerge::Document& document, std::string_view name) {
    return !LibraryMaps::root(document).child(document, name).empty();
}

std::vector<SarnAction> convergence_actions(const automerge::Document& document) {
    std::vector<SarnAction> out;
    const Section root{child_map(document, automerge::ObjId::root(), kLibraryRootKey), LibraryMaps::root(document)};
    if (root.all.empty()) return out;
    copy_flags(document, root.child(document, "likes"), out,
               [](const std::string& id, bool v) { return SarnAction{action::SetVideoLiked{id, v}}; });
    copy_flags(document, root.child(document, "queue"), out,
               [](const std::string& id, bool v) { return SarnAction{action::SetQueueMembership{id, v}}; });
    copy_flags(document, root.child(document, "subscriptions"), out,
               [](const std::string& id, bool v) { return SarnAction{action::SetSubscription{id, v}}; });
    copy_flags(document, root.child(document, "comment_likes"), out,
               [](const std::string& key, bool v) { return SarnAction{action::SetCommentLiked{key, v}}; });
    copy_settings(document, root.child(document, "settings"), out);
    copy_replies(document, root.child(document, "comment_replies"), out);
    return out;
}

}  // namespace sarn
