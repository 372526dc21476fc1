#include <algorithm>
#include <chrono>
#include <cstring>
#include <unordered_set>

#include "impl.h"

namespace automerge {

using namespace detail;

namespace detail {
std::optional<ObjType> made_type(std::uint8_t action) {
    switch (action) {
    case make_map: return ObjType::map;
    case make_list: return ObjType::list;
    case make_text: return ObjType::text;
    case make_table: return ObjType::table;
    default: return std::nullopt;
    }
}
}  // namespace detail

namespace {

Error bad_arg(std::string m) { return Error{ErrorKind::invalid_argument, std::move(m)}; }

bool is_map_like(ObjType t) { return t == ObjType::map || t == ObjType::table; }

std::uint8_t make_action(ObjType t) {
    switch (t) {
    case ObjType::map: return make_map;
    case ObjType::list: return make_list;
    case ObjType::text: return make_text;
    case ObjType::table: return make_table;
    }
    return make_map;
}

// The official writer treats a put of the value already there as no change.
bool same_scalar(const Value& a, const Value& b) {
    if (a.kind() == Value::Kind::f64 && b.kind() == Value::Kind::f64) return *a.as_f64() == *b.as_f64();
    return a == b;
}

std::int64_t numeric_of(const Value& v) {
    if (auto i = v.as_int64()) return *i;
    if (auto u = v.as_uint64()) return static_cast<std::int64_t>(*u);
    if (auto c = v.as_counter()) return *c;
    return 0;
}

}  // namespace

Document::Impl::Impl() {
    Object root;
    root.type = ObjType::map;
    root.id = ObjId::root();
    objects.push_back(std::move(root));
    object_index.emplace(ObjId::root(), 0);
    local_id = ActorId::random();
}

std::uint32_t Document::Impl::intern_actor(const ActorId& actor) {
    auto it = actor_lookup.find(actor.bytes());
    if (it != actor_lookup.end()) return it->second;
    auto index = static_cast<std::uint32_t>(actors.size());
    actors.push_back(actor);
    actor_lookup.emplace(actor.bytes(), index);
    actor_changes.emplace_back();
    rerank();
    return index;
}

void Document::Impl::rerank() {
    actor_rank.assign(actors.size(), 0);
    std::uint32_t r = 0;
    for (auto& [bytes, index] : actor_lookup) actor_rank[index] = r++;
}

std::uint32_t Document::Impl::ensure_local_actor() {
    if (!local_registered) {
        local_actor = intern_actor(local_id);
        local_registered = true;
    }
    return local_actor;
}

std::expected<const Object*, Error> Document::Impl::find_object(ObjId id) const {
    auto it = object_index.find(id);
    if (it == object_index.end()) return std::unexpected(bad_arg("no such object"));
    return &objects[it->second];
}

Object* Document::Impl::object_mut(ObjId id) {
    auto it = object_index.find(id);
    if (it == object_index.end()) return nullptr;
    return &objects[it->second];
}

Item Document::Impl::item_of(const Op& op) const {
    Item item;
    item.id = op.id;
    if (auto t = made_type(op.action)) {
        item.object = *t;
    } else if (op.value.kind() == Value::Kind::counter && op.inc_succ > 0) {
        auto total = static_cast<std::uint64_t>(*op.value.as_counter()) + static_cast<std::uint64_t>(op.inc_sum);
        item.value = Value::counter(static_cast<std::int64_t>(total));
    } else {
        item.value = op.value;
    }
    return item;
}

std::vector<std::uint32_t> Document::Impl::visible_at(const Object& obj, std::string_view key) const {
    std::vector<std::uint32_t> out;
    auto it = obj.props.find(key);
    if (it == obj.props.end()) return out;
    for (std::uint32_t i : it->second)
        if (visible(ops[i])) out.push_back(i);
    return out;
}

std::vector<std::vector<std::uint32_t>> Document::Impl::elements(const Object& obj) const {
    std::vector<std::vector<std::uint32_t>> out;
    std::vector<std::uint32_t> group;
    bool in_element = false;
    auto flush = [&] {
        if (in_element && !group.empty()) out.push_back(std::move(group));
        group.clear();
    };
    for (std::uint32_t i : obj.seq) {
        const Op& op = ops[i];
        if (op.insert) {
            flush();
            in_element = true;
        }
        if (in_element && visible(op)) group.push_back(i);
    }
    flush();
    return out;
}

// ---- local writes -------------------------------------------------------------

std::expected<std::uint32_t, Error> Document::Impl::local_map_op(ObjId obj_id, std::string_view key,
                                                                std::uint8_t action, const Value& value) {
    Object* obj = object_mut(obj_id);
    if (!obj) return std::unexpected(bad_arg("no such object"));
    if (!is_map_like(obj->type)) return std::unexpected(bad_arg("not a map object"));
    if (!valid_utf8(key)) return std::unexpected(Error{ErrorKind::invalid_utf8, "key is not valid UTF-8"});
    if (value.kind() == Value::Kind::str && !valid_utf8(*value.as_str()))
        return std::unexpected(Error{ErrorKind::invalid_utf8, "string value is not valid UTF-8"});
    if (value.kind() == Value::Kind::unknown && (value.unknown_type_code() < 10 || value.unknown_type_code() > 15))
        return std::unexpected(bad_arg("unknown value type codes are 10 to 15"));

    std::vector<std::uint32_t> preds = visible_at(*obj, key);
    if (action == del && preds.empty()) return UINT32_MAX;
    // A counter compares by its current value, increments included.
    if (action == set && preds.size() == 1 && ops[preds[0]].action == set &&
        same_scalar(item_of(ops[preds[0]]).value, value))
        return UINT32_MAX;

    std::uint32_t actor = ensure_local_actor();
    if (pending.empty()) tx_start_op = max_op + 1;
    Op op;
    op.id = OpId(max_op + 1, actor);
    op.obj = obj_id;
    op.key.assign(key);
    op.action = action;
    op.map_key = true;
    if (action == set) op.value = value;
    for (std::uint32_t p : preds) op.pred.push_back(ops[p].id);
    ++max_op;

    auto index = static_cast<std::uint32_t>(ops.size());
    PendingOp record{index, preds, false};
    for (std::uint32_t p : preds) ops[p].succ.push_back(op.id);
    OpId id = op.id;
    std::optional<ObjType> made = made_type(action);
    ops.push_back(std::move(op));
    if (action != del) {
        // `obj` may dangle once objects grows; look it up again.
        object_mut(obj_id)->props[std::string(key)].push_back(index);
    }
    if (made) {
        Object child;
        child.type = *made;
        child.id = id;
        object_index.emplace(id, static_cast<std::uint32_t>(objects.size()));
        objects.push_back(std::move(child));
        record.created_object = true;
    }
    pending.push_back(std::move(record));
    return index;
}

std::optional<ChangeHash> Document::Impl::commit(const CommitOptions& options) {
    if (pending.empty()) return std::nullopt;
    Change c;
    c.actor = local_actor;
    c.seq = actor_changes[local_actor].size() + 1;
    c.start_op = tx_start_op;
    c.max_op = max_op;
    if (options.time) {
        c.time = *options.time;
    } else {
        c.time = std::chrono::duration_cast<std::chrono::seconds>(
                     std::chrono::system_clock::now().time_since_epoch())
                     .count();
    }
    c.message = options.message;
    std::vector<std::uint32_t> deps = heads;
    // The official writer also names this actor's previous change, even when
    // a head already covers it; the change hash depends on it.
    if (!actor_changes[local_actor].empty()) {
        std::uint32_t last = actor_changes[local_actor].back();
        if (std::find(deps.begin(), deps.end(), last) == deps.end()) deps.push_back(last);
    }
    std::sort(deps.begin(), deps.end(),
              [&](std::uint32_t a, std::uint32_t b) { return changes[a].hash < changes[b].hash; });
    c.deps = std::move(deps);
    auto ci = static_cast<std::uint32_t>(changes.size());
    for (const PendingOp& p : pending) {
        c.ops.push_back(p.op);
        ops[p.op].change = ci;
    }
    pending.clear();
    changes.push_back(std::move(c));
    ChangeHash hash = hash_change(ci);
    changes[ci].hash = hash;
    change_index.emplace(hash, ci);
    actor_changes[local_actor].push_back(ci);
    recompute_heads_after(ci);
    return hash;
}

void Document::Impl::recompute_heads_after(std::uint32_t ci) {
    const Change& c = changes[ci];
    std::erase_if(heads, [&](std::uint32_t h) { return std::find(c.deps.begin(), c.deps.end(), h) != c.deps.end(); });
    heads.push_back(ci);
}

std::size_t Document::Impl::rollback() {
    std::size_t n = pending.size();
    while (!pending.empty()) {
        PendingOp p = std::move(pending.back());
        pending.pop_back();
        Op& op = ops[p.op];
        for (std::uint32_t pi : p.pred_ops) std::erase(ops[pi].succ, op.id);
        if (op.action != del) {
            Object* obj = object_mut(op.obj);
            auto it = obj->props.find(op.key);
            std::erase(it->second, p.op);
            if (it->second.empty()) obj->props.erase(it);
        }
        if (p.created_object) {
            object_index.erase(op.id);
            objects.pop_back();
        }
        ops.pop_back();
    }
    if (n > 0) max_op = tx_start_op - 1;
    return n;
}

// ---- applying remote changes ----------------------------------------------------

std::optional<std::uint32_t> Document::Impl::find_op_in(const Object& obj, const Op& op, OpId target) const {
    if (op.map_key) {
        auto it = obj.props.find(op.key);
        if (it == obj.props.end()) return std::nullopt;
        for (std::uint32_t i : it->second)
            if (ops[i].id == target) return i;
        return std::nullopt;
    }
    for (std::uint32_t i : obj.seq)
        if (ops[i].id == target) return i;
    return std::nullopt;
}

void Document::Impl::add_succ(std::uint32_t pred_op, const Op& op) {
    Op& p = ops[pred_op];
    p.succ.push_back(op.id);
    if (op.action == inc) {
        ++p.inc_succ;
        p.inc_sum = static_cast<std::int64_t>(static_cast<std::uint64_t>(p.inc_sum) +
                                              static_cast<std::uint64_t>(numeric_of(op.value)));
    }
}

void Document::Impl::insert_into_object(std::uint32_t index) {
    const Op& op = ops[index];
    Object* obj = object_mut(op.obj);
    if (op.map_key) {
        auto& list = obj->props[op.key];
        std::size_t pos = list.size();
        while (pos > 0 && lamport_less(op.id, ops[list[pos - 1]].id)) --pos;
        list.insert(list.begin() + static_cast<std::ptrdiff_t>(pos), index);
        return;
    }
    auto& seq = obj->seq;
    std::size_t pos = 0;
    if (op.elem.counter() != 0) {
        std::size_t at = seq.size();
        for (std::size_t i = 0; i < seq.size(); ++i) {
            const Op& o = ops[seq[i]];
            if (o.insert && o.id == op.elem) {
                at = i;
                break;
            }
        }
        if (at == seq.size()) {
            seq.push_back(index);  // unknown element: keep the op, at the end
            return;
        }
        pos = at + 1;
    }
    if (op.insert) {
        // Skip the updates of the reference element, then every element
        // inserted after it with a greater id (and so their descendants).
        while (pos < seq.size()) {
            const Op& o = ops[seq[pos]];
            if (!o.insert || lamport_less(op.id, o.id)) {
                ++pos;
                continue;
            }
            break;
        }
    } else {
        while (pos < seq.size() && !ops[seq[pos]].insert && lamport_less(ops[seq[pos]].id, op.id)) ++pos;
    }
    seq.insert(seq.begin() + static_cast<std::ptrdiff_t>(pos), index);
}

std::expected<void, Error> Document::Impl::apply_parsed(ParsedChange pc) {
    if (change_index.contains(pc.hash)) return {};
    for (const ChangeHash& d : pc.deps) {
        if (!change_index.contains(d)) {
            for (const ParsedChange& q : queue)
                if (q.hash == pc.hash) return {};
            queue.push_back(std::move(pc));
            return {};
        }
    }
    if (pc.actors.empty()) return std::unexpected(malformed("change without an actor"));
    // Validate everything before touching the document.
    std::vector<std::uint32_t> amap;
    {
        // Resolve actors without interning yet (interning is harmless but keep
        // the document clean when the change is refused).
        for (const ActorId& a : pc.actors) {
            auto it = actor_lookup.find(a.bytes());
            amap.push_back(it == actor_lookup.end() ? UINT32_MAX : it->second);
        }
    }
    std::uint32_t author = amap[0];
    std::uint64_t expected_seq = author == UINT32_MAX ? 1 : actor_changes[author].size() + 1;
    if (pc.seq != expected_seq) return std::unexpected(malformed("change sequence number out of order"));
    if (pc.start_op == 0) return std::unexpected(malformed("change start op is zero"));
    if (pc.ops.size() > UINT32_MAX || pc.start_op > UINT64_MAX - pc.ops.size())
        return std::unexpected(Error{ErrorKind::too_large, "change too large"});
    {
        std::unordered_map<OpId, ObjType, OpIdHash> created;
        for (std::size_t i = 0; i < pc.ops.size(); ++i) {
            const ParsedOp& po = pc.ops[i];
            std::optional<ObjType> type;
            if (po.obj.counter() == 0) {
                type = ObjType::map;
            } else {
                std::uint32_t a = po.obj.actor_index();
                if (a >= amap.size()) return std::unexpected(malformed("actor index out of range"));
                if (a == 0 && po.obj.counter() >= pc.start_op) {
                    auto it = created.find(OpId(po.obj.counter(), 0));
                    if (it != created.end()) type = it->second;
                } else if (amap[a] != UINT32_MAX) {
                    auto it = object_index.find(OpId(po.obj.counter(), amap[a]));
                    if (it != object_index.end()) type = objects[it->second].type;
                }
            }
            if (!type) return std::unexpected(malformed("operation on a missing object"));
            if (po.map_key != is_map_like(*type)) return std::unexpected(malformed("operation key does not fit its object"));
            if (po.action > kMaxAction) return std::unexpected(Error{ErrorKind::unsupported, "unknown operation action"});
            if (auto t = made_type(po.action)) created.emplace(OpId(pc.start_op + i, 0), *t);
            if (!po.map_key && po.elem.counter() != 0 && po.elem.actor_index() >= amap.size())
                return std::unexpected(malformed("actor index out of range"));
            for (const OpId& p : po.pred)
                if (p.actor_index() >= amap.size()) return std::unexpected(malformed("actor index out of range"));
        }
    }
    for (std::size_t i = 0; i < pc.actors.size(); ++i)
        if (amap[i] == UINT32_MAX) amap[i] = intern_actor(pc.actors[i]);
    author = amap[0];
    auto map_id = [&](OpId id) { return id.counter() == 0 ? id : OpId(id.counter(), amap[id.actor_index()]); };

    auto ci = static_cast<std::uint32_t>(changes.size());
    Change c;
    c.actor = author;
    c.seq = pc.seq;
    c.start_op = pc.start_op;
    c.max_op = pc.start_op + pc.ops.size() - 1;
    c.time = pc.time;
    c.message = std::move(pc.message);
    c.extra = std::move(pc.extra);
    c.hash = pc.hash;
    for (const ChangeHash& d : pc.deps) c.deps.push_back(change_index.at(d));
    for (std::size_t i = 0; i < pc.ops.size(); ++i) {
        ParsedOp& po = pc.ops[i];
        Op op;
        op.id = OpId(pc.start_op + i, author);
        op.obj = map_id(po.obj);
        op.elem = map_id(po.elem);
        op.key = std::move(po.key);
        op.value = std::move(po.value);
        op.mark_name = std::move(po.mark_name);
        op.action = po.action;
        op.insert = po.insert;
        op.expand = po.expand;
        op.map_key = po.map_key;
        op.change = ci;
        for (const OpId& p : po.pred) op.pred.push_back(map_id(p));
        auto index = static_cast<std::uint32_t>(ops.size());
        std::optional<ObjType> made = made_type(op.action);
        ops.push_back(std::move(op));
        c.ops.push_back(index);
        const Op& placed = ops[index];
        if (const Object* obj = object_mut(placed.obj)) {
            for (const OpId& p : placed.pred)
                if (auto pi = find_op_in(*obj, placed, p)) add_succ(*pi, ops[index]);
        }
        if (placed.action != del) insert_into_object(index);
        if (made) {
            Object child;
            child.type = *made;
            child.id = ops[index].id;
            object_index.emplace(child.id, static_cast<std::uint32_t>(objects.size()));
            objects.push_back(std::move(child));
        }
    }
    if (c.max_op > max_op && !pc.ops.empty()) max_op = c.max_op;
    changes.push_back(std::move(c));
    change_index.emplace(changes[ci].hash, ci);
    actor_changes[author].push_back(ci);
    recompute_heads_after(ci);
    return {};
}

std::expected<void, Error> Document::Impl::drain_queue() {
    bool progress = true;
    while (progress && !queue.empty()) {
        progress = false;
        for (std::size_t i = 0; i < queue.size(); ++i) {
            bool ready = std::all_of(queue[i].deps.begin(), queue[i].deps.end(),
                                     [&](const ChangeHash& d) { return change_index.contains(d); });
            if (!ready) continue;
            ParsedChange pc = std::move(queue[i]);
            queue.erase(queue.begin() + static_cast<std::ptrdiff_t>(i));
            // A queued change that turns out invalid refuses the whole input,
            // as it would have had it arrived in order.
            if (auto ok = apply_parsed(std::move(pc)); !ok) return ok;
            progress = true;
            break;
        }
    }
    return {};
}

// ---- Document ---------------------------------------------------------------------

Document::Document() : m_impl(std::make_unique<Impl>()) {}

Document::Document(ActorId actor) : m_impl(std::make_unique<Impl>()) { m_impl->local_id = std::move(actor); }

Document::Document(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
Document::~Document() = default;
Document::Document(Document&&) noexcept = default;
Document& Document::operator=(Document&&) noexcept = default;

std::expected<Document, Error> Document::load(std::span<const std::uint8_t> bytes, const LoadLimits& limits) {
    auto impl = std::make_unique<Impl>();
    auto r = impl->apply_chunks(bytes, limits);
    if (!r) return std::unexpected(r.error());
    // A change left waiting would be dropped by the next save: refuse the
    // bytes rather than lose it.
    if (!impl->queue.empty()) {
        return std::unexpected(
            Error{ErrorKind::missing_dependency, "change's deps should already be in the document"});
    }
    return Document(std::move(impl));
}

std::expected<Document, Error> Document::load(std::string_view bytes, const LoadLimits& limits) {
    return load(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), limits);
}

Document Document::clone() const { return Document(std::make_unique<Impl>(*m_impl)); }

Document Document::fork() { return fork(ActorId::random()); }

Document Document::fork(ActorId actor) {
    m_impl->commit({});
    Document copy = clone();
    copy.m_impl->local_id = std::move(actor);
    copy.m_impl->local_registered = false;
    return copy;
}

const ActorId& Document::actor_id() const { return m_impl->local_id; }

void Document::set_actor_id(ActorId actor) {
    m_impl->commit({});
    m_impl->local_id = std::move(actor);
    m_impl->local_registered = false;
}

std::string Document::id_text(ObjId id) const {
    if (id.is_root()) return "_root";
    std::string hex = id.actor_index() < m_impl->actors.size() ? m_impl->actors[id.actor_index()].to_hex() : "?";
    return std::to_string(id.counter()) + "@" + hex;
}

std::expected<ObjId, Error> Document::parse_id(std::string_view text) const {
    if (text == "_root") return ObjId::root();
    auto at = text.find('@');
    if (at == std::string_view::npos || at == 0) return std::unexpected(bad_arg("id text is counter@actor"));
    std::uint64_t counter = 0;
    for (char ch : text.substr(0, at)) {
        if (ch < '0' || ch > '9' || counter > (UINT64_MAX - 9) / 10) return std::unexpected(bad_arg("bad id counter"));
        counter = counter * 10 + static_cast<std::uint64_t>(ch - '0');
    }
    auto actor = ActorId::from_hex(text.substr(at + 1));
    if (!actor) return std::unexpected(actor.error());
    auto it = m_impl->actor_lookup.find(actor->bytes());
    if (it == m_impl->actor_lookup.end() || counter == 0) return std::unexpected(bad_arg("unknown actor in id"));
    return ObjId(counter, it->second);
}

std::expected<void, Error> Document::put(ObjId obj, std::string_view key, const Value& value) {
    auto r = m_impl->local_map_op(obj, key, set, value);
    if (!r) return std::unexpected(r.error());
    return {};
}

std::expected<ObjId, Error> Document::put_object(ObjId obj, std::string_view key, ObjType type) {
    auto r = m_impl->local_map_op(obj, key, make_action(type), Value{});
    if (!r) return std::unexpected(r.error());
    return m_impl->ops[*r].id;
}

std::expected<void, Error> Document::delete_key(ObjId obj, std::string_view key) {
    auto r = m_impl->local_map_op(obj, key, del, Value{});
    if (!r) return std::unexpected(r.error());
    return {};
}

std::expected<ObjType, Error> Document::object_type(ObjId obj) const {
    auto o = m_impl->find_object(obj);
    if (!o) return std::unexpected(o.error());
    return (*o)->type;
}

std::expected<std::optional<Item>, Error> Document::get(ObjId obj, std::string_view key) const {
    auto o = m_impl->find_object(obj);
    if (!o) return std::unexpected(o.error());
    if (!is_map_like((*o)->type)) return std::unexpected(bad_arg("not a map object"));
    auto it = (*o)->props.find(key);
    if (it == (*o)->props.end()) return std::optional<Item>{};
    for (auto r = it->second.rbegin(); r != it->second.rend(); ++r)
        if (m_impl->visible(m_impl->ops[*r])) return std::optional<Item>(m_impl->item_of(m_impl->ops[*r]));
    return std::optional<Item>{};
}

std::expected<std::vector<Item>, Error> Document::get_all(ObjId obj, std::string_view key) const {
    auto o = m_impl->find_object(obj);
    if (!o) return std::unexpected(o.error());
    if (!is_map_like((*o)->type)) return std::unexpected(bad_arg("not a map object"));
    std::vector<Item> out;
    for (std::uint32_t i : m_impl->visible_at(**o, key)) out.push_back(m_impl->item_of(m_impl->ops[i]));
    return out;
}

std::expected<std::vector<std::string>, Error> Document::keys(ObjId obj) const {
    auto o = m_impl->find_object(obj);
    if (!o) return std::unexpected(o.error());
    if (!is_map_like((*o)->type)) return std::unexpected(bad_arg("not a map object"));
    std::vector<std::string> out;
    for (const auto& [key, list] : (*o)->props) {
        for (std::uint32_t i : list) {
            if (m_impl->visible(m_impl->ops[i])) {
                out.push_back(key);
                break;
            }
        }
    }
    return out;
}

std::expected<std::size_t, Error> Document::length(ObjId obj) const {
    auto o = m_impl->find_object(obj);
    if (!o) return std::unexpected(o.error());
    if (is_map_like((*o)->type)) {
        auto k = keys(obj);
        if (!k) return std::unexpected(k.error());
        return k->size();
    }
    return m_impl->elements(**o).size();
}

std::expected<std::optional<Item>, Error> Document::get(ObjId obj, std::size_t index) const {
    auto all = get_all(obj, index);
    if (!all) return std::unexpected(all.error());
    if (all->empty()) return std::optional<Item>{};
    return std::optional<Item>(all->back());
}

std::expected<std::vector<Item>, Error> Document::get_all(ObjId obj, std::size_t index) const {
    auto o = m_impl->find_object(obj);
    if (!o) return std::unexpected(o.error());
    if (is_map_like((*o)->type)) return std::unexpected(bad_arg("not a list or text object"));
    auto elems = m_impl->elements(**o);
    std::vector<Item> out;
    if (index >= elems.size()) return out;
    for (std::uint32_t i : elems[index]) out.push_back(m_impl->item_of(m_impl->ops[i]));
    return out;
}

std::expected<std::string, Error> Document::text(ObjId obj) const {
    auto o = m_impl->find_object(obj);
    if (!o) return std::unexpected(o.error());
    if (is_map_like((*o)->type)) return std::unexpected(bad_arg("not a list or text object"));
    std::string out;
    for (const auto& group : m_impl->elements(**o)) {
        const Op& op = m_impl->ops[group.back()];
        if (auto s = op.value.as_str(); s && op.action == set) out.append(*s);
        else out.append("\xEF\xBF\xBC");  // U+FFFC stands for a non-text element
    }
    return out;
}

std::size_t Document::pending_ops() const { return m_impl->pending.size(); }

std::optional<ChangeHash> Document::commit(const CommitOptions& options) { return m_impl->commit(options); }

std::size_t Document::rollback() { return m_impl->rollback(); }

std::vector<ChangeHash> Document::heads() {
    m_impl->commit({});
    std::vector<ChangeHash> out;
    for (std::uint32_t h : m_impl->heads) out.push_back(m_impl->changes[h].hash);
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::uint8_t> Document::save() {
    m_impl->commit({});
    return m_impl->save_document();
}

std::vector<std::vector<std::uint8_t>> Document::changes(std::span<const ChangeHash> have) {
    m_impl->commit({});
    std::vector<bool> known(m_impl->changes.size(), false);
    std::vector<std::uint32_t> stack;
    for (const ChangeHash& h : have) {
        auto it = m_impl->change_index.find(h);
        if (it != m_impl->change_index.end()) stack.push_back(it->second);
    }
    while (!stack.empty()) {
        std::uint32_t c = stack.back();
        stack.pop_back();
        if (known[c]) continue;
        known[c] = true;
        for (std::uint32_t d : m_impl->changes[c].deps) stack.push_back(d);
    }
    std::vector<std::vector<std::uint8_t>> out;
    for (std::uint32_t i = 0; i < m_impl->changes.size(); ++i)
        if (!known[i]) out.push_back(m_impl->encode_change(i));
    return out;
}

std::expected<void, Error> Document::apply(std::span<const std::uint8_t> bytes, const LoadLimits& limits) {
    m_impl->commit({});
    // Apply to a copy so that a refused chunk leaves this document unchanged.
    auto copy = std::make_unique<Impl>(*m_impl);
    auto r = copy->apply_chunks(bytes, limits);
    if (!r) return std::unexpected(r.error());
    m_impl = std::move(copy);
    return {};
}

std::expected<void, Error> Document::merge(Document& other) {
    m_impl->commit({});
    other.m_impl->commit({});
    Bytes all;
    for (std::uint32_t i = 0; i < other.m_impl->changes.size(); ++i) {
        if (m_impl->change_index.contains(other.m_impl->changes[i].hash)) continue;
        Bytes chunk = other.m_impl->encode_change(i);
        all.insert(all.end(), chunk.begin(), chunk.end());
    }
    if (all.empty()) return {};
    LoadLimits unlimited;
    unlimited.max_ops = SIZE_MAX;
    unlimited.max_inflated_bytes = SIZE_MAX;
    if (auto applied = apply(all, unlimited); !applied) return applied;
    // Change chunks write an empty message as none; the merged changes keep
    // the messages they had, as the official merge keeps them.
    for (const detail::Change& theirs : other.m_impl->changes) {
        if (!theirs.message || !theirs.message->empty()) continue;
        auto found = m_impl->change_index.find(theirs.hash);
        if (found != m_impl->change_index.end()) m_impl->changes[found->second].message = theirs.message;
    }
    return {};
}

std::size_t Document::change_count() const { return m_impl->changes.size(); }

std::size_t Document::waiting_change_count() const { return m_impl->queue.size(); }

}  // namespace automerge
