// The shared library document beyond its projection: what the runtime says
// of its file, the lists a new document starts from, and the convergence of
// concurrent copies of its maps.
#include <array>

#include "sarn/actions/library_maps.h"
#include "sarn/app/sarn_app.h"

namespace sarn {

namespace {

// The list maps of the library, each projected into a Library list only once
// the document holds it.
constexpr std::array<std::string_view, 4> kListMaps = {"likes", "queue", "subscriptions", "comment_likes"};

}  // namespace

void SarnApp::follow_document_state(const vorn_ui::widget::RuntimeState& state) {
    if (state.document_error == m_document_error) return;
    m_document_error = state.document_error;
    if (m_document_error) {
        m_library.library_notice = std::string(kLibraryOpenFailedText);
    } else {
        m_library.library_notice.reset();
    }
    m_structure_dirty = true;
}

// While the document holds no map of a list, the Library's list is what the
// user sees (the sample's, in the offline catalogue) and the projection
// leaves it alone. The first write of that map must not make the list one
// entry long: the entries the user saw are written along with it. Writes
// of the root's own go through seed_absent_lists first; a write that came
// another way (the runtime's own action surfaces, device sync) is caught
// up here, on the next frame, before the projection reads the map.
void SarnApp::seed_new_library_maps(automerge::Document& document) {
    for (std::string_view name : kListMaps) {
        if (!has_library_map(document, name)) {
            m_absent_library_maps.emplace(name);
            continue;
        }
        const auto absent = m_absent_library_maps.find(name);
        if (absent == m_absent_library_maps.end()) continue;
        m_absent_library_maps.erase(absent);
        if (m_library_maps_seen) seed_list(document, name);
    }
    m_library_maps_seen = true;
}

void SarnApp::seed_absent_lists(automerge::Document& document) {
    for (std::string_view name : kListMaps) {
        if (!has_library_map(document, name)) seed_list(document, name);
    }
}

void SarnApp::seed_list(automerge::Document& document, std::string_view name) {
    const LibraryMaps map = LibraryMaps::root(document).child(document, name);
    auto missing = [&](const std::string& key) { return !map.scalar(document, key).has_value(); };
    std::vector<SarnAction> writes;
    if (name == "likes") {
        for (const std::string& id : m_library.likes) {
            if (missing(id)) writes.push_back(action::SetVideoLiked{id, true});
        }
    } else if (name == "queue") {
        for (const std::string& id : m_library.queue) {
            if (missing(id)) writes.push_back(action::SetQueueMembership{id, true});
        }
    } else if (name == "subscriptions") {
        for (const std::string& entry : m_library.subscriptions) {
            if (missing(entry)) writes.push_back(action::SetSubscription{entry, true});
        }
    } else {
        for (const auto& [key, liked] : m_library.comment_likes) {
            if (missing(key)) writes.push_back(action::SetCommentLiked{key, liked});
        }
    }
    for (const SarnAction& write : writes) dispatch_action(document, write);
}

void SarnApp::converge_library_maps(automerge::Document& document) {
    // Concurrent copies come only with changes merged in. Reading the heads
    // would commit a transaction that is not the root's, so an open one
    // waits for the next frame.
    if (document.pending_ops() != 0) return;
    std::vector<automerge::ChangeHash> heads = document.heads();
    if (heads == m_converged_heads) return;
    for (const SarnAction& copy : convergence_actions(document)) dispatch_action(document, copy);
    m_converged_heads = document.heads();
}

}  // namespace sarn
