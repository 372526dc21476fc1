// The engine's internal state: actors, operations, objects and changes.
#pragma once

#include <cstdint>
#include <algorithm>
#include <map>
#include <string_view>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "automerge/document.h"
#include "encoding.h"

namespace automerge::detail {

using OpId = ObjId;

enum Action : std::uint8_t {
    make_map = 0,
    set = 1,
    make_list = 2,
    del = 3,
    make_text = 4,
    inc = 5,
    make_table = 6,
    mark = 7,
};
inline constexpr std::uint8_t kMaxAction = 7;

inline bool is_make(std::uint8_t a) { return a == make_map || a == make_list || a == make_text || a == make_table; }
std::optional<ObjType> made_type(std::uint8_t action);

struct OpIdHash {
    std::size_t operator()(const OpId& id) const noexcept {
        return static_cast<std::size_t>(id.counter() * 0x9E3779B97F4A7C15ull) ^ id.actor_index();
    }
};

struct HashHash {
    std::size_t operator()(const ChangeHash& h) const noexcept {
        std::size_t v;
        static_assert(sizeof(v) <= 32);
        __builtin_memcpy(&v, h.bytes.data(), sizeof(v));
        return v;
    }
};

struct Op {
    OpId id;
    OpId obj;
    OpId elem;  // sequence key: the element's insert op, counter 0 for the head
    std::string key;  // map key
    Value value;
    std::vector<OpId> pred;
    std::vector<OpId> succ;
    std::optional<std::string> mark_name;
    std::int64_t inc_sum = 0;
    std::uint32_t inc_succ = 0;
    std::uint32_t change = UINT32_MAX;
    std::uint8_t action = set;
    bool insert = false;
    bool expand = false;
    bool map_key = true;
};

// The keys of a map object in byte order, each with its ops in Lamport
// order. A sorted vector: documents arrive with their keys in order, so
// loading appends, and lookups are binary searches.
class PropMap {
public:
    using Entry = std::pair<std::string, std::vector<std::uint32_t>>;
    using iterator = std::vector<Entry>::iterator;
    using const_iterator = std::vector<Entry>::const_iterator;

    iterator begin() { return m_entries.begin(); }
    iterator end() { return m_entries.end(); }
    const_iterator begin() const { return m_entries.begin(); }
    const_iterator end() const { return m_entries.end(); }

    const_iterator find(std::string_view key) const {
        auto it = lower(key);
        return it != m_entries.end() && it->first == key ? const_iterator(it) : m_entries.end();
    }
    iterator find(std::string_view key) {
        auto it = lower(key);
        if (it == m_entries.cend() || it->first != key) return m_entries.end();
        return m_entries.begin() + (it - m_entries.cbegin());
    }
    std::vector<std::uint32_t>& operator[](std::string_view key) {
        if (m_entries.empty() || std::string_view(m_entries.back().first) < key) {
            m_entries.emplace_back(std::string(key), std::vector<std::uint32_t>{});
            return m_entries.back().second;
        }
        auto it = lower(key);
        if (it != m_entries.end() && it->first == key) return m_entries[static_cast<std::size_t>(it - m_entries.cbegin())].second;
        auto pos = m_entries.begin() + (it - m_entries.cbegin());
        return m_entries.emplace(pos, std::string(key), std::vector<std::uint32_t>{})->second;
    }
    void erase(iterator it) { m_entries.erase(it); }

private:
    std::vector<Entry>::const_iterator lower(std::string_view key) const {
        return std::lower_bound(m_entries.cbegin(), m_entries.cend(), key,
                                [](const Entry& e, std::string_view k) { return std::string_view(e.first) < k; });
    }
    std::vector<Entry> m_entries;
};

struct Object {
    ObjType type = ObjType::map;
    OpId id;
    // Map and table objects: the ops of each key in Lamport order.
    PropMap props;
    // Lists and text: every op in document order (each element's insert op
    // followed by the ops that update it).
    std::vector<std::uint32_t> seq;
};

struct Change {
    std::uint32_t actor = 0;
    std::uint64_t seq = 0;
    std::uint64_t start_op = 0;
    std::uint64_t max_op = 0;
    std::int64_t time = 0;
    std::optional<std::string> message;
    std::vector<std::uint32_t> deps;  // change indices, in the chunk's order
    Bytes extra;
    ChangeHash hash;
    std::vector<std::uint32_t> ops;  // op indices in counter order
};

// One decoded change chunk, before it is applied.
struct ParsedOp {
    OpId obj;  // actor indices into ParsedChange::actors
    OpId elem;
    std::string key;
    Value value;
    std::vector<OpId> pred;
    std::optional<std::string> mark_name;
    std::uint8_t action = set;
    bool insert = false;
    bool expand = false;
    bool map_key = true;
};

struct ParsedChange {
    std::vector<ChangeHash> deps;
    std::vector<ActorId> actors;  // author first
    std::uint64_t seq = 0;
    std::uint64_t start_op = 0;
    std::int64_t time = 0;
    std::optional<std::string> message;
    std::vector<ParsedOp> ops;
    Bytes extra;
    ChangeHash hash;
};

// SHA-256 of a chunk without its magic bytes and checksum.
void crypto_hash(const Bytes& chunk, ChangeHash& out);

}  // namespace automerge::detail

namespace automerge {

struct Document::Impl {
    using OpId = detail::OpId;

    std::vector<ActorId> actors;
    std::map<std::vector<std::uint8_t>, std::uint32_t> actor_lookup;
    std::vector<std::uint32_t> actor_rank;  // position of each actor in byte order
    std::uint32_t local_actor = 0;
    bool local_registered = false;
    ActorId local_id;

    std::vector<detail::Op> ops;
    std::vector<detail::Object> objects;
    std::unordered_map<OpId, std::uint32_t, detail::OpIdHash> object_index;

    std::vector<detail::Change> changes;
    std::unordered_map<ChangeHash, std::uint32_t, detail::HashHash> change_index;
    std::vector<std::vector<std::uint32_t>> actor_changes;  // by actor: change indices by seq
    std::vector<std::uint32_t> heads;  // change indices
    std::uint64_t max_op = 0;

    // The open transaction.
    struct PendingOp {
        std::uint32_t op;
        std::vector<std::uint32_t> pred_ops;
        bool created_object = false;
    };
    std::vector<PendingOp> pending;
    std::uint64_t tx_start_op = 0;

    // Change chunks waiting for their dependencies.
    std::vector<detail::ParsedChange> queue;

    Impl();

    // actors
    std::uint32_t intern_actor(const ActorId& actor);
    std::uint32_t ensure_local_actor();
    bool lamport_less(OpId a, OpId b) const {
        if (a.counter() != b.counter()) return a.counter() < b.counter();
        return actor_rank[a.actor_index()] < actor_rank[b.actor_index()];
    }
    void rerank();

    // objects and ops
    std::expected<const detail::Object*, Error> find_object(ObjId id) const;
    detail::Object* object_mut(ObjId id);
    bool visible(const detail::Op& op) const {
        if (op.action != detail::set && !detail::is_make(op.action)) return false;
        if (op.succ.empty()) return true;
        return op.value.kind() == Value::Kind::counter && op.succ.size() == op.inc_succ;
    }
    Item item_of(const detail::Op& op) const;
    std::vector<std::uint32_t> visible_at(const detail::Object& obj, std::string_view key) const;
    // Elements of a sequence: for each visible element, the visible ops.
    std::vector<std::vector<std::uint32_t>> elements(const detail::Object& obj) const;

    // local writes
    std::expected<std::uint32_t, Error> local_map_op(ObjId obj, std::string_view key, std::uint8_t action,
                                                     const Value& value);
    std::optional<ChangeHash> commit(const CommitOptions& options);
    std::size_t rollback();

    // applying changes
    std::expected<void, Error> apply_parsed(detail::ParsedChange change);
    std::expected<void, Error> apply_chunks(detail::ByteSpan bytes, const LoadLimits& limits);
    // Applies every queued change whose dependencies are present; the first
    // one refused ends the drain with its error.
    std::expected<void, Error> drain_queue();
    void insert_into_object(std::uint32_t op_index);
    void add_succ(std::uint32_t pred_op, const detail::Op& op);
    std::optional<std::uint32_t> find_op_in(const detail::Object& obj, const detail::Op& op, OpId target) const;
    void recompute_heads_after(std::uint32_t change_index);

    // storage
    void change_body(std::uint32_t change_index, detail::Bytes& body) const;
    detail::Bytes encode_change(std::uint32_t change_index) const;
    ChangeHash hash_change(std::uint32_t change_index) const;
    detail::Bytes save_document() const;
    std::expected<void, Error> load_document(detail::ByteSpan body, const LoadLimits& limits);
};

}  // namespace automerge
