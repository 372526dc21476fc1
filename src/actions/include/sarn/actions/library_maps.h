#pragma once
// The library maps of the shared document as every copy of it wrote them,
// and the actions that make the document converge on one of them.
//
// Two instances (or devices) that first wrote a map at the same time each
// created one of the same name; after a merge the document holds both as
// concurrent values and names only one of them the winner. The program reads
// them all (LibraryMaps: the winning map first, and a key that several hold
// takes the first one's value), but any other reader of the document sees
// the winner alone. convergence_actions answers the writes that copy into
// the winning maps every entry that only a losing map holds, with the value
// the program reads, so that the winner alone holds the whole library.
//
// Pure functions over a document; the interface thread owns it.

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "automerge/document.h"
#include "sarn/model/action.h"

namespace sarn {

inline constexpr std::string_view kLibraryRootKey = "sarn";

class LibraryMaps {
public:
    // Every map under the key of the parent (the document root by default).
    static LibraryMaps at(const automerge::Document& document, automerge::ObjId parent, std::string_view key);
    // The maps of the library root, "sarn".
    static LibraryMaps root(const automerge::Document& document);

    bool empty() const { return m_maps.empty(); }
    // The winner first.
    const std::vector<automerge::ObjId>& maps() const { return m_maps; }

    // Every map stored under the key in any of the maps.
    LibraryMaps child(const automerge::Document& document, std::string_view key) const;
    // The scalar of the first map that holds the key; none when that one
    // holds an object.
    std::optional<automerge::Value> scalar(const automerge::Document& document, std::string_view key) const;
    std::optional<bool> flag(const automerge::Document& document, std::string_view key) const;
    // The keys of all the maps, in key order.
    std::set<std::string> keys(const automerge::Document& document) const;
    // The keys whose value is the boolean `value`, in key order.
    std::vector<std::string> keys_with(const automerge::Document& document, bool value) const;
    std::vector<std::string> keys_with_true(const automerge::Document& document) const;

private:
    std::vector<automerge::ObjId> m_maps;
};

// Whether any library root holds a map under the name ("likes", "queue" …).
bool has_library_map(const automerge::Document& document, std::string_view name);

// The writes that copy what only the losing maps hold into the winning ones;
// none while the document holds one copy of each map.
std::vector<SarnAction> convergence_actions(const automerge::Document& document);

}  // namespace sarn
