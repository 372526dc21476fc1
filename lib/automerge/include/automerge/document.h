// An automerge document with an implicit transaction, read and written in the
// automerge binary format (document chunks and change chunks), compatible
// with the official implementation.
//
// Threads: a Document belongs to one thread at a time; none of its calls may
// run concurrently on the same Document. Different Documents are independent.
//
// Writes (put, put_object, delete_key) open the implicit transaction when none
// is open and are visible to reads at once. commit() turns them into one change
// of this document's actor; rollback() drops them. save(), heads(), merge() and
// changes() commit first, like the official implementation's auto-commit
// document.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "automerge/error.h"
#include "automerge/types.h"
#include "automerge/value.h"

namespace automerge {

struct CommitOptions {
    std::optional<std::string> message;
    // Seconds since the Unix epoch, as the official package records them;
    // the current time when absent.
    std::optional<std::int64_t> time;
};

// Limits applied while loading untrusted bytes.
struct LoadLimits {
    // Largest size of any inflated column or chunk body.
    std::size_t max_inflated_bytes = 64u << 20;
    // Largest number of operations (and of changes) in one load.
    std::size_t max_ops = 8u << 20;
};

class Document {
public:
    // An empty document with a random actor.
    Document();
    explicit Document(ActorId actor);
    ~Document();
    Document(Document&&) noexcept;
    Document& operator=(Document&&) noexcept;
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // Loads document chunks, change chunks or a concatenation of both. The
    // loaded document gets a random actor. Bytes holding a change whose
    // dependencies they do not hold are refused (missing_dependency), as are
    // changes that turn out invalid once their dependencies arrive: a loaded
    // document always holds every change of its bytes.
    static std::expected<Document, Error> load(std::span<const std::uint8_t> bytes, const LoadLimits& limits = {});
    static std::expected<Document, Error> load(std::string_view bytes, const LoadLimits& limits = {});

    // An independent copy with the same actor, the open transaction included.
    Document clone() const;
    // A copy of the committed state with a new random actor (or the one given).
    Document fork();
    Document fork(ActorId actor);

    const ActorId& actor_id() const;
    // Commits any open transaction first.
    void set_actor_id(ActorId actor);

    // Text form of an id, `counter@actorhex` (or `_root`), and back.
    std::string id_text(ObjId id) const;
    std::expected<ObjId, Error> parse_id(std::string_view text) const;

    // --- writes into map (and table) objects ---
    // Sets a scalar value. Strings must be valid UTF-8 (key too).
    std::expected<void, Error> put(ObjId obj, std::string_view key, const Value& value);
    // Creates a new empty object at the key and answers its id.
    std::expected<ObjId, Error> put_object(ObjId obj, std::string_view key, ObjType type);
    // Removes the key (no-op when it holds nothing).
    std::expected<void, Error> delete_key(ObjId obj, std::string_view key);

    // --- reads ---
    std::expected<ObjType, Error> object_type(ObjId obj) const;
    // The winning value of a key: the last of get_all's values.
    std::expected<std::optional<Item>, Error> get(ObjId obj, std::string_view key) const;
    // Every concurrent value of a key, in the official order (the winner last).
    std::expected<std::vector<Item>, Error> get_all(ObjId obj, std::string_view key) const;
    // The keys that hold a value, in the official order (byte order).
    std::expected<std::vector<std::string>, Error> keys(ObjId obj) const;
    // Lists and text: number of visible elements, element reads, the text.
    std::expected<std::size_t, Error> length(ObjId obj) const;
    std::expected<std::optional<Item>, Error> get(ObjId obj, std::size_t index) const;
    std::expected<std::vector<Item>, Error> get_all(ObjId obj, std::size_t index) const;
    std::expected<std::string, Error> text(ObjId obj) const;

    // --- the implicit transaction ---
    // Operations written since the last commit.
    std::size_t pending_ops() const;
    // Makes the pending operations one change; nothing when there are none.
    // An empty message is kept apart from no message, as the official
    // implementation keeps it in a saved document and across merge() (change
    // chunks, and so changes() and apply(), cannot tell the two apart).
    std::optional<ChangeHash> commit(const CommitOptions& options = {});
    // Drops the pending operations; answers how many were dropped.
    std::size_t rollback();

    // --- history and storage ---
    // The hashes of the changes nothing depends on, sorted.
    std::vector<ChangeHash> heads();
    // The whole document as one document chunk.
    std::vector<std::uint8_t> save();
    // Change chunks of every change not reachable from `have` (all changes
    // when `have` is empty), in an order that respects dependencies.
    std::vector<std::vector<std::uint8_t>> changes(std::span<const ChangeHash> have = {});
    // Applies change chunks and document chunks to this document. Changes whose
    // dependencies are missing wait until those arrive (they are not saved while
    // they wait). A refused chunk leaves the document unchanged.
    std::expected<void, Error> apply(std::span<const std::uint8_t> bytes, const LoadLimits& limits = {});
    // Applies every change of `other` that this document lacks.
    std::expected<void, Error> merge(Document& other);
    // Number of changes in the history.
    std::size_t change_count() const;
    // Number of applied changes still waiting for their dependencies.
    std::size_t waiting_change_count() const;

    struct Impl;

private:
    explicit Document(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

}  // namespace automerge
