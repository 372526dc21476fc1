// Reading and writing chunks: change chunks, compressed change chunks and
// document chunks, with their column layouts.
#include <sodium.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "deflate.h"
#include "impl.h"

namespace automerge {

using namespace detail;

namespace {

constexpr std::uint8_t kMagic[4] = {0x85, 0x6f, 0x4a, 0x83};
constexpr std::uint8_t kChunkDocument = 0;
constexpr std::uint8_t kChunkChange = 1;
constexpr std::uint8_t kChunkCompressed = 2;
// Columns at least this long are DEFLATE-compressed in document chunks.
constexpr std::size_t kDeflateMinSize = 256;
constexpr std::uint32_t kDeflateBit = 0x08;

// Column specifications: id << 4 | type (3 bits); bit 3 marks DEFLATE.
enum ColumnSpec : std::uint32_t {
    // operation columns (change and document chunks)
    col_obj_actor = 0x01,
    col_obj_ctr = 0x02,
    col_key_actor = 0x11,
    col_key_ctr = 0x13,
    col_key_str = 0x15,
    col_id_actor = 0x21,
    col_id_ctr = 0x23,
    col_insert = 0x34,
    col_action = 0x42,
    col_val_meta = 0x56,
    col_val_raw = 0x57,
    col_pred_group = 0x70,
    col_pred_actor = 0x71,
    col_pred_ctr = 0x73,
    col_succ_group = 0x80,
    col_succ_actor = 0x81,
    col_succ_ctr = 0x83,
    col_expand = 0x94,
    col_mark_name = 0xa5,
    // change metadata columns of document chunks
    col_ch_actor = 0x01,
    col_ch_seq = 0x03,
    col_ch_max_op = 0x13,
    col_ch_time = 0x23,
    col_ch_message = 0x35,
    col_ch_deps_group = 0x40,
    col_ch_deps_index = 0x43,
    col_ch_extra_meta = 0x56,
    col_ch_extra_raw = 0x57,
};

enum ValueType : std::uint8_t {
    vt_null = 0,
    vt_false = 1,
    vt_true = 2,
    vt_uint = 3,
    vt_int = 4,
    vt_f64 = 5,
    vt_str = 6,
    vt_bytes = 7,
    vt_counter = 8,
    vt_timestamp = 9,
};

bool is_map_like_type(ObjType t) { return t == ObjType::map || t == ObjType::table; }

std::int64_t numeric_value(const Value& v) {
    if (auto i = v.as_int64()) return *i;
    if (auto u = v.as_uint64()) return static_cast<std::int64_t>(*u);
    if (auto c = v.as_counter()) return *c;
    return 0;
}

// The body of a chunk this engine framed.
ByteSpan chunk_body(const Bytes& chunk) {
    Reader r(ByteSpan(chunk).subspan(9));
    auto len = r.uleb();
    return ByteSpan(chunk).subspan(chunk.size() - *len);
}

Error too_large(std::string m) { return Error{ErrorKind::too_large, std::move(m)}; }

void sha256(const std::uint8_t* data, std::size_t n, std::uint8_t out[32]) {
    crypto_hash_sha256(out, data, n);
}

// Frames a chunk body: magic, checksum, type, length, body.
Bytes frame_chunk(std::uint8_t type, const Bytes& body) {
    Bytes header;
    header.push_back(type);
    write_uleb(header, body.size());
    crypto_hash_sha256_state st;
    crypto_hash_sha256_init(&st);
    crypto_hash_sha256_update(&st, header.data(), header.size());
    crypto_hash_sha256_update(&st, body.data(), body.size());
    std::uint8_t digest[32];
    crypto_hash_sha256_final(&st, digest);
    Bytes out(8 + header.size() + body.size());
    std::memcpy(out.data(), kMagic, 4);
    std::memcpy(out.data() + 4, digest, 4);
    std::memcpy(out.data() + 8, header.data(), header.size());
    if (!body.empty()) std::memcpy(out.data() + 8 + header.size(), body.data(), body.size());
    return out;
}

struct ColumnOut {
    std::uint32_t spec;
    Bytes data;
};

void encode_value(const Value& v, UintEncoder& meta, Bytes& raw) {
    auto put = [&](std::uint8_t type, std::size_t before) {
        meta.append((static_cast<std::uint64_t>(raw.size() - before) << 4) | type);
    };
    std::size_t before = raw.size();
    switch (v.kind()) {
    case Value::Kind::null: meta.append(vt_null); break;
    case Value::Kind::boolean: meta.append(*v.as_bool() ? vt_true : vt_false); break;
    case Value::Kind::uint64: write_uleb(raw, *v.as_uint64()); put(vt_uint, before); break;
    case Value::Kind::int64: write_leb(raw, *v.as_int64()); put(vt_int, before); break;
    case Value::Kind::f64: {
        double d = *v.as_f64();
        std::uint8_t b[8];
        std::memcpy(b, &d, 8);  // the format is little-endian, as is every target here
        raw.insert(raw.end(), b, b + 8);
        put(vt_f64, before);
        break;
    }
    case Value::Kind::str: write_bytes(raw, *v.as_str()); put(vt_str, before); break;
    case Value::Kind::bytes: write_bytes(raw, *v.as_bytes()); put(vt_bytes, before); break;
    case Value::Kind::counter: write_leb(raw, *v.as_counter()); put(vt_counter, before); break;
    case Value::Kind::timestamp: write_leb(raw, *v.as_timestamp()); put(vt_timestamp, before); break;
    case Value::Kind::unknown: write_bytes(raw, *v.as_bytes()); put(v.unknown_type_code(), before); break;
    }
}

std::expected<Value, Error> decode_value(std::optional<std::uint64_t> meta, Reader& raw) {
    std::uint64_t m = meta.value_or(0);
    std::uint64_t len = m >> 4;
    auto type = static_cast<std::uint8_t>(m & 15);
    auto bytes = raw.take(len);
    if (!bytes) return std::unexpected(malformed("value column too short"));
    switch (type) {
    case vt_null:
    case vt_false:
    case vt_true:
        if (len != 0) return std::unexpected(malformed("null or boolean value with a length"));
        if (type == vt_null) return Value::null();
        return Value::boolean(type == vt_true);
    case vt_uint: {
        Reader r(*bytes);
        auto u = r.uleb();
        if (!u || !r.done()) return std::unexpected(malformed("bad unsigned value"));
        return Value::uint64(*u);
    }
    case vt_int:
    case vt_counter:
    case vt_timestamp: {
        Reader r(*bytes);
        auto i = r.leb();
        if (!i || !r.done()) return std::unexpected(malformed("bad signed value"));
        if (type == vt_int) return Value::int64(*i);
        if (type == vt_counter) return Value::counter(*i);
        return Value::timestamp(*i);
    }
    case vt_f64: {
        if (len != 8) return std::unexpected(malformed("float value must have 8 bytes"));
        double d;
        std::memcpy(&d, bytes->data(), 8);
        return Value::f64(d);
    }
    case vt_str: {
        std::string_view s(reinterpret_cast<const char*>(bytes->data()), bytes->size());
        if (!valid_utf8(s)) return std::unexpected(Error{ErrorKind::invalid_utf8, "string value is not valid UTF-8"});
        return Value::str(s);
    }
    case vt_bytes:
        return Value::bytes(std::vector<std::uint8_t>(bytes->begin(), bytes->end()));
    default:
        return Value::unknown(type, std::vector<std::uint8_t>(bytes->begin(), bytes->end()));
    }
}

void write_columns(Bytes& out, const std::vector<ColumnOut>& cols) {
    std::size_t n = 0;
    for (const auto& c : cols)
        if (!c.data.empty()) ++n;
    write_uleb(out, n);
    for (const auto& c : cols) {
        if (c.data.empty()) continue;
        write_uleb(out, c.spec);
        write_uleb(out, c.data.size());
    }
}

void write_column_data(Bytes& out, const std::vector<ColumnOut>& cols) {
    for (const auto& c : cols) out.insert(out.end(), c.data.begin(), c.data.end());
}

std::expected<Bytes, Error> inflate_raw(ByteSpan in, std::size_t limit) {
    z_stream zs{};
    if (inflateInit2(&zs, -15) != Z_OK) return std::unexpected(malformed("cannot start inflate"));
    // Inflate straight into the result, growing it geometrically up to the limit.
    Bytes out(std::min(limit, std::max<std::size_t>(in.size() * 4, 4096)));
    zs.next_in = const_cast<Bytef*>(in.data());
    zs.avail_in = static_cast<uInt>(in.size());
    std::size_t have = 0;
    for (;;) {
        if (have == out.size()) {
            if (out.size() >= limit) {
                // Full at the limit: more output means too much.
                std::uint8_t probe;
                zs.next_out = &probe;
                zs.avail_out = 1;
                int rc = inflate(&zs, Z_NO_FLUSH);
                inflateEnd(&zs);
                if (rc == Z_STREAM_END && zs.avail_out == 1) break;
                if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
                    return std::unexpected(malformed("bad DEFLATE data"));
                return std::unexpected(too_large("inflated data exceeds the limit"));
            }
            out.resize(std::min(limit, out.size() * 2));
        }
        std::size_t room = std::min<std::size_t>(out.size() - have, UINT32_MAX);
        zs.next_out = out.data() + have;
        zs.avail_out = static_cast<uInt>(room);
        int rc = inflate(&zs, Z_NO_FLUSH);
        have += room - zs.avail_out;
        if (rc == Z_STREAM_END) {
            inflateEnd(&zs);
            out.resize(have);
            return out;
        }
        if (rc != Z_OK && !(rc == Z_BUF_ERROR && zs.avail_out == 0)) {
            inflateEnd(&zs);
            return std::unexpected(malformed(rc == Z_BUF_ERROR ? "truncated DEFLATE data" : "bad DEFLATE data"));
        }
    }
    out.resize(have);
    return out;
}

// Parsed column metadata and data.
struct Columns {
    std::vector<std::pair<std::uint32_t, ByteSpan>> cols;
    std::vector<Bytes> owned;  // inflated data

    ByteSpan get(std::uint32_t spec) const {
        for (const auto& [s, d] : cols)
            if (s == spec) return d;
        return {};
    }
};

std::expected<std::vector<std::pair<std::uint32_t, std::uint64_t>>, Error> read_column_meta(Reader& r) {
    auto n = r.uleb();
    if (!n) return std::unexpected(n.error());
    if (*n > r.remaining()) return std::unexpected(malformed("too many columns"));
    std::vector<std::pair<std::uint32_t, std::uint64_t>> meta;
    std::uint32_t last = 0;
    for (std::uint64_t i = 0; i < *n; ++i) {
        auto spec = r.uleb();
        if (!spec) return std::unexpected(spec.error());
        auto len = r.uleb();
        if (!len) return std::unexpected(len.error());
        if (*spec > UINT32_MAX) return std::unexpected(malformed("bad column specification"));
        auto s = static_cast<std::uint32_t>(*spec);
        if (i > 0 && (s & ~kDeflateBit) <= last) return std::unexpected(malformed("columns out of order"));
        last = s & ~kDeflateBit;
        meta.emplace_back(s, *len);
    }
    return meta;
}

std::expected<void, Error> read_column_data(Reader& r, const std::vector<std::pair<std::uint32_t, std::uint64_t>>& meta,
                                            Columns& out, std::size_t& inflated_budget) {
    for (const auto& [spec, len] : meta) {
        auto data = r.take(len);
        if (!data) return std::unexpected(data.error());
        if (spec & kDeflateBit) {
            auto inflated = inflate_raw(*data, inflated_budget);
            if (!inflated) return std::unexpected(inflated.error());
            inflated_budget -= inflated->size();
            out.owned.push_back(std::move(*inflated));
            out.cols.emplace_back(spec & ~kDeflateBit, ByteSpan(out.owned.back()));
        } else {
            out.cols.emplace_back(spec, *data);
        }
    }
    return {};
}

template <typename T>
std::expected<T, Error> need(std::expected<std::optional<T>, Error> v, const char* what) {
    if (!v) return std::unexpected(v.error());
    if (!*v) return std::unexpected(malformed(std::string("missing ") + what));
    return **v;
}

#define TRY(var, expr)                                       \
    auto var##_r = (expr);                                   \
    if (!var##_r) return std::unexpected(var##_r.error()); \
    auto var = std::move(*var##_r)

// Column decoders of one operation table.
struct OpColumns {
    UintDecoder obj_actor, obj_ctr, key_actor;
    DeltaDecoder key_ctr;
    StrDecoder key_str;
    UintDecoder id_actor;
    DeltaDecoder id_ctr;
    BoolDecoder insert;
    UintDecoder action, val_meta;
    Reader val_raw{ByteSpan{}};
    UintDecoder ref_group, ref_actor;
    DeltaDecoder ref_ctr;
    BoolDecoder expand;
    StrDecoder mark_name;

    OpColumns(const Columns& c, bool document)
        : obj_actor(c.get(col_obj_actor)), obj_ctr(c.get(col_obj_ctr)), key_actor(c.get(col_key_actor)),
          key_ctr(c.get(col_key_ctr)), key_str(c.get(col_key_str)), id_actor(c.get(col_id_actor)),
          id_ctr(c.get(col_id_ctr)), insert(c.get(col_insert)), action(c.get(col_action)),
          val_meta(c.get(col_val_meta)), val_raw(c.get(col_val_raw)),
          ref_group(c.get(document ? col_succ_group : col_pred_group)),
          ref_actor(c.get(document ? col_succ_actor : col_pred_actor)),
          ref_ctr(c.get(document ? col_succ_ctr : col_pred_ctr)), expand(c.get(col_expand)),
          mark_name(c.get(col_mark_name)) {}

    bool done() const {
        return obj_actor.done() && obj_ctr.done() && key_actor.done() && key_ctr.done() && key_str.done() &&
               id_actor.done() && id_ctr.done() && insert.done() && action.done() && val_meta.done() &&
               ref_group.done() && ref_actor.done() && ref_ctr.done() && expand.done() && mark_name.done();
    }
};

struct RawOp {
    ParsedOp op;
    OpId id;                  // document chunks only
    std::vector<OpId> refs;   // pred (change) or succ (document)
};

std::expected<RawOp, Error> read_op(OpColumns& c, std::size_t num_actors, bool document,
                                    std::size_t& ref_budget) {
    RawOp out;
    ParsedOp& op = out.op;
    auto actor_ok = [&](std::uint64_t a) { return a < num_actors; };
    TRY(oa, c.obj_actor.next());
    TRY(oc, c.obj_ctr.next());
    if (oa.has_value() != oc.has_value()) return std::unexpected(malformed("half an object id"));
    if (oa) {
        if (!actor_ok(*oa) || *oc == 0) return std::unexpected(malformed("bad object id"));
        op.obj = OpId(*oc, static_cast<std::uint32_t>(*oa));
    }
    TRY(ka, c.key_actor.next());
    TRY(kc, c.key_ctr.next());
    TRY(ks, c.key_str.next());
    if (ks) {
        if (ka || kc) return std::unexpected(malformed("key is both a string and an element"));
        op.key = std::move(*ks);
        op.map_key = true;
    } else if (kc) {
        op.map_key = false;
        if (*kc == 0) {
            if (ka) return std::unexpected(malformed("head element with an actor"));
        } else {
            if (!ka || !actor_ok(*ka) || *kc < 0) return std::unexpected(malformed("bad element id"));
            op.elem = OpId(static_cast<std::uint64_t>(*kc), static_cast<std::uint32_t>(*ka));
        }
    } else {
        return std::unexpected(malformed("operation without a key"));
    }
    if (document) {
        TRY(ia, c.id_actor.next());
        TRY(ic, c.id_ctr.next());
        if (!ia || !ic || !actor_ok(*ia) || *ic <= 0) return std::unexpected(malformed("bad operation id"));
        out.id = OpId(static_cast<std::uint64_t>(*ic), static_cast<std::uint32_t>(*ia));
    }
    TRY(ins, c.insert.next());
    op.insert = ins;
    TRY(act, need(c.action.next(), "action"));
    if (act > kMaxAction) return std::unexpected(Error{ErrorKind::unsupported, "unknown operation action"});
    op.action = static_cast<std::uint8_t>(act);
    TRY(meta, c.val_meta.next());
    TRY(val, decode_value(meta, c.val_raw));
    op.value = std::move(val);
    TRY(nrefs, c.ref_group.next());
    std::uint64_t n = nrefs.value_or(0);
    if (n > ref_budget) return std::unexpected(too_large("too many predecessors or successors"));
    ref_budget -= n;
    for (std::uint64_t i = 0; i < n; ++i) {
        TRY(ra, c.ref_actor.next());
        TRY(rc, c.ref_ctr.next());
        if (!ra || !rc || !actor_ok(*ra) || *rc <= 0) return std::unexpected(malformed("bad operation reference"));
        out.refs.emplace_back(static_cast<std::uint64_t>(*rc), static_cast<std::uint32_t>(*ra));
    }
    TRY(exp, c.expand.next());
    op.expand = exp;
    TRY(mn, c.mark_name.next());
    op.mark_name = std::move(mn);
    return out;
}

// Column encoders of one operation table.
struct OpEncoders {
    UintEncoder obj_actor, obj_ctr, key_actor;
    DeltaEncoder key_ctr;
    StrViewEncoder key_str;
    UintEncoder id_actor;
    DeltaEncoder id_ctr;
    BoolEncoder insert;
    UintEncoder action, val_meta;
    Bytes val_raw;
    UintEncoder ref_group, ref_actor;
    DeltaEncoder ref_ctr;
    BoolEncoder expand{true};
    StrViewEncoder mark_name;

    template <typename ActorOf>
    void add(const Op& op, ActorOf actor_of, const std::vector<OpId>& refs, bool document) {
        if (op.obj.counter() == 0) {
            obj_actor.append_null();
            obj_ctr.append_null();
        } else {
            obj_actor.append(actor_of(op.obj.actor_index()));
            obj_ctr.append(op.obj.counter());
        }
        if (op.map_key) {
            key_actor.append_null();
            key_ctr.append_null();
            key_str.append(op.key);
        } else {
            if (op.elem.counter() == 0) {
                key_actor.append_null();
                key_ctr.append(0);
            } else {
                key_actor.append(actor_of(op.elem.actor_index()));
                key_ctr.append(static_cast<std::int64_t>(op.elem.counter()));
            }
            key_str.append_null();
        }
        if (document) {
            id_actor.append(actor_of(op.id.actor_index()));
            id_ctr.append(static_cast<std::int64_t>(op.id.counter()));
        }
        insert.append(op.insert);
        action.append(op.action);
        encode_value(op.value, val_meta, val_raw);
        ref_group.append(refs.size());
        for (const OpId& r : refs) {
            ref_actor.append(actor_of(r.actor_index()));
            ref_ctr.append(static_cast<std::int64_t>(r.counter()));
        }
        expand.append(op.expand);
        if (op.mark_name) mark_name.append(*op.mark_name);
        else mark_name.append_null();
    }

    // Moves the columns into `cols` (resized to fit), keeping every buffer for
    // the next use of these encoders.
    void finish_to(bool document, std::vector<ColumnOut>& cols) {
        cols.resize(document ? 16 : 14);
        std::size_t i = 0;
        auto next = [&](std::uint32_t spec) -> Bytes& {
            cols[i].spec = spec;
            return cols[i++].data;
        };
        obj_actor.finish_to(next(col_obj_actor));
        obj_ctr.finish_to(next(col_obj_ctr));
        key_actor.finish_to(next(col_key_actor));
        key_ctr.finish_to(next(col_key_ctr));
        key_str.finish_to(next(col_key_str));
        if (document) {
            id_actor.finish_to(next(col_id_actor));
            id_ctr.finish_to(next(col_id_ctr));
        }
        insert.finish_to(next(col_insert));
        action.finish_to(next(col_action));
        val_meta.finish_to(next(col_val_meta));
        {
            Bytes& raw = next(col_val_raw);
            raw.swap(val_raw);
            val_raw.clear();
        }
        ref_group.finish_to(next(document ? col_succ_group : col_pred_group));
        ref_actor.finish_to(next(document ? col_succ_actor : col_pred_actor));
        ref_ctr.finish_to(next(document ? col_succ_ctr : col_pred_ctr));
        expand.finish_to(next(col_expand));
        mark_name.finish_to(next(col_mark_name));
    }
};

std::expected<ParsedChange, Error> parse_change_body(ByteSpan body, const LoadLimits& limits, std::size_t& op_budget) {
    Reader r(body);
    ParsedChange pc;
    TRY(ndeps, r.uleb());
    if (ndeps > r.remaining() / 32) return std::unexpected(malformed("truncated dependencies"));
    for (std::uint64_t i = 0; i < ndeps; ++i) {
        TRY(h, r.take(32));
        ChangeHash hash;
        std::memcpy(hash.bytes.data(), h.data(), 32);
        pc.deps.push_back(hash);
    }
    TRY(alen, r.uleb());
    TRY(abytes, r.take(alen));
    pc.actors.emplace_back(std::vector<std::uint8_t>(abytes.begin(), abytes.end()));
    TRY(seq, r.uleb());
    TRY(start, r.uleb());
    TRY(time, r.leb());
    TRY(mlen, r.uleb());
    TRY(mbytes, r.take(mlen));
    pc.seq = seq;
    pc.start_op = start;
    pc.time = time;
    if (mlen > 0) {
        std::string m(reinterpret_cast<const char*>(mbytes.data()), mbytes.size());
        if (!valid_utf8(m)) return std::unexpected(Error{ErrorKind::invalid_utf8, "change message is not valid UTF-8"});
        pc.message = std::move(m);
    }
    TRY(nactors, r.uleb());
    if (nactors > r.remaining()) return std::unexpected(malformed("truncated actor list"));
    for (std::uint64_t i = 0; i < nactors; ++i) {
        TRY(l, r.uleb());
        TRY(b, r.take(l));
        pc.actors.emplace_back(std::vector<std::uint8_t>(b.begin(), b.end()));
    }
    TRY(meta, read_column_meta(r));
    Columns cols;
    std::size_t budget = limits.max_inflated_bytes;
    if (auto ok = read_column_data(r, meta, cols, budget); !ok) return std::unexpected(ok.error());
    ByteSpan rest = r.rest();
    pc.extra.assign(rest.begin(), rest.end());
    OpColumns c(cols, false);
    std::size_t ref_budget = op_budget;
    while (!c.done()) {
        if (op_budget == 0) return std::unexpected(too_large("too many operations"));
        --op_budget;
        TRY(raw, read_op(c, pc.actors.size(), false, ref_budget));
        raw.op.pred = std::move(raw.refs);
        pc.ops.push_back(std::move(raw.op));
    }
    return pc;
}

}  // namespace

namespace detail {
void crypto_hash(const Bytes& chunk, ChangeHash& out) { sha256(chunk.data() + 8, chunk.size() - 8, out.bytes.data()); }
}  // namespace detail

// ---- change chunks -----------------------------------------------------------------

void Document::Impl::change_body(std::uint32_t ci, Bytes& body) const {
    const Change& c = changes[ci];
    thread_local std::vector<std::uint32_t> others;
    thread_local OpEncoders enc;
    thread_local std::vector<ColumnOut> cols;
    thread_local std::vector<OpId> preds;
    others.clear();
    // Actor table of the chunk: the author first, then the others in byte order.
    auto note = [&](std::uint32_t a) {
        if (a != c.actor && std::find(others.begin(), others.end(), a) == others.end()) others.push_back(a);
    };
    for (std::uint32_t oi : c.ops) {
        const Op& op = ops[oi];
        if (op.obj.counter() != 0) note(op.obj.actor_index());
        if (!op.map_key && op.elem.counter() != 0) note(op.elem.actor_index());
        for (const OpId& p : op.pred) note(p.actor_index());
    }
    std::sort(others.begin(), others.end(),
              [&](std::uint32_t a, std::uint32_t b) { return actor_rank[a] < actor_rank[b]; });
    auto actor_of = [&](std::uint32_t a) -> std::uint64_t {
        if (a == c.actor) return 0;
        return static_cast<std::uint64_t>(std::find(others.begin(), others.end(), a) - others.begin()) + 1;
    };

    for (std::uint32_t oi : c.ops) {
        const Op& op = ops[oi];
        if (op.pred.size() <= 1) {
            enc.add(op, actor_of, op.pred, false);
        } else {
            preds = op.pred;
            std::sort(preds.begin(), preds.end(), [&](OpId a, OpId b) { return lamport_less(a, b); });
            enc.add(op, actor_of, preds, false);
        }
    }
    enc.finish_to(false, cols);

    body.clear();
    write_uleb(body, c.deps.size());
    for (std::uint32_t d : c.deps) write_bytes(body, ByteSpan(changes[d].hash.bytes));
    const auto& author = actors[c.actor].bytes();
    write_uleb(body, author.size());
    write_bytes(body, ByteSpan(author));
    write_uleb(body, c.seq);
    write_uleb(body, c.start_op);
    write_leb(body, c.time);
    if (c.message) {
        write_uleb(body, c.message->size());
        write_bytes(body, std::string_view(*c.message));
    } else {
        write_uleb(body, 0);
    }
    write_uleb(body, others.size());
    for (std::uint32_t a : others) {
        write_uleb(body, actors[a].bytes().size());
        write_bytes(body, ByteSpan(actors[a].bytes()));
    }
    write_columns(body, cols);
    write_column_data(body, cols);
    write_bytes(body, ByteSpan(c.extra));
}

Bytes Document::Impl::encode_change(std::uint32_t ci) const {
    Bytes body;
    change_body(ci, body);
    return frame_chunk(kChunkChange, body);
}

ChangeHash Document::Impl::hash_change(std::uint32_t ci) const {
    thread_local Bytes body;
    change_body(ci, body);
    std::uint8_t header[11];
    header[0] = kChunkChange;
    std::size_t n = 1;
    for (std::uint64_t v = body.size();;) {
        std::uint8_t byte = v & 0x7f;
        v >>= 7;
        header[n++] = v ? (byte | 0x80) : byte;
        if (!v) break;
    }
    crypto_hash_sha256_state st;
    crypto_hash_sha256_init(&st);
    crypto_hash_sha256_update(&st, header, n);
    crypto_hash_sha256_update(&st, body.data(), body.size());
    ChangeHash h;
    crypto_hash_sha256_final(&st, h.bytes.data());
    return h;
}

// ---- document chunks ----------------------------------------------------------------

Bytes Document::Impl::save_document() const {
    // Actors that wrote changes, in byte order.
    std::vector<std::uint32_t> used;
    for (std::uint32_t a = 0; a < actors.size(); ++a)
        if (!actor_changes[a].empty()) used.push_back(a);
    std::sort(used.begin(), used.end(), [&](std::uint32_t a, std::uint32_t b) { return actor_rank[a] < actor_rank[b]; });
    std::vector<std::uint64_t> doc_index(actors.size(), 0);
    for (std::size_t i = 0; i < used.size(); ++i) doc_index[used[i]] = i;
    auto actor_of = [&](std::uint32_t a) { return doc_index[a]; };

    // Change metadata in history order.
    UintEncoder ch_actor;
    DeltaEncoder ch_seq, ch_max_op, ch_time, ch_deps_index;
    StrEncoder ch_message;
    UintEncoder ch_deps_group, ch_extra_meta;
    Bytes ch_extra_raw;
    for (const Change& c : changes) {
        ch_actor.append(actor_of(c.actor));
        ch_seq.append(static_cast<std::int64_t>(c.seq));
        ch_max_op.append(static_cast<std::int64_t>(c.max_op));
        ch_time.append(c.time);
        ch_message.append_opt(c.message);
        ch_deps_group.append(c.deps.size());
        for (std::uint32_t d : c.deps) ch_deps_index.append(d);
        ch_extra_meta.append((static_cast<std::uint64_t>(c.extra.size()) << 4) | vt_bytes);
        write_bytes(ch_extra_raw, ByteSpan(c.extra));
    }
    std::vector<ColumnOut> change_cols;
    change_cols.push_back({col_ch_actor, ch_actor.finish()});
    change_cols.push_back({col_ch_seq, ch_seq.finish()});
    change_cols.push_back({col_ch_max_op, ch_max_op.finish()});
    change_cols.push_back({col_ch_time, ch_time.finish()});
    change_cols.push_back({col_ch_message, ch_message.finish()});
    change_cols.push_back({col_ch_deps_group, ch_deps_group.finish()});
    change_cols.push_back({col_ch_deps_index, ch_deps_index.finish()});
    change_cols.push_back({col_ch_extra_meta, ch_extra_meta.finish()});
    change_cols.push_back({col_ch_extra_raw, std::move(ch_extra_raw)});

    // Operations: objects in id order, map keys in byte order, then Lamport.
    std::vector<std::uint32_t> objs(objects.size());
    for (std::uint32_t i = 0; i < objs.size(); ++i) objs[i] = i;
    std::sort(objs.begin(), objs.end(),
              [&](std::uint32_t a, std::uint32_t b) { return lamport_less(objects[a].id, objects[b].id); });
    // Kept per thread: a large document's columns need megabytes, which the
    // next save reuses instead of faulting in fresh pages.
    thread_local OpEncoders enc;
    thread_local std::vector<ColumnOut> op_cols;
    std::vector<OpId> succ;
    auto add = [&](std::uint32_t oi) {
        const Op& op = ops[oi];
        if (op.succ.size() <= 1) {
            enc.add(op, actor_of, op.succ, true);
            return;
        }
        succ = op.succ;
        std::sort(succ.begin(), succ.end(), [&](OpId a, OpId b) { return lamport_less(a, b); });
        enc.add(op, actor_of, succ, true);
    };
    for (std::uint32_t o : objs) {
        const Object& obj = objects[o];
        for (const auto& [key, list] : obj.props)
            for (std::uint32_t oi : list) add(oi);
        for (std::uint32_t oi : obj.seq) add(oi);
    }
    enc.finish_to(true, op_cols);

    // Long columns are written compressed; the encoders keep their buffers.
    // The change columns and then the operation columns go, in order, through
    // one model of the official writer's output vector.
    OutputVector vector;
    auto pack = [&vector](const std::vector<ColumnOut>& cols) {
        std::vector<ColumnOut> out(cols.size());
        for (std::size_t i = 0; i < cols.size(); ++i) {
            const ColumnOut& c = cols[i];
            if (c.data.size() < kDeflateMinSize) {
                out[i] = {c.spec, c.data};
                if (!c.data.empty()) vector.append(c.data.size());
                continue;
            }
            out[i].spec = c.spec | kDeflateBit;
            out[i].data.reserve(c.data.size() / 4 + 64);
            deflate_compatible(c.data, out[i].data, vector);
        }
        return out;
    };
    change_cols = pack(change_cols);
    std::vector<ColumnOut> packed_ops = pack(op_cols);

    std::vector<std::uint32_t> sorted_heads = heads;
    std::sort(sorted_heads.begin(), sorted_heads.end(),
              [&](std::uint32_t a, std::uint32_t b) { return changes[a].hash < changes[b].hash; });

    Bytes body;
    write_uleb(body, used.size());
    for (std::uint32_t a : used) {
        write_uleb(body, actors[a].bytes().size());
        write_bytes(body, ByteSpan(actors[a].bytes()));
    }
    write_uleb(body, sorted_heads.size());
    for (std::uint32_t h : sorted_heads) write_bytes(body, ByteSpan(changes[h].hash.bytes));
    write_columns(body, change_cols);
    write_columns(body, packed_ops);
    write_column_data(body, change_cols);
    write_column_data(body, packed_ops);
    for (std::uint32_t h : sorted_heads) write_uleb(body, h);
    return frame_chunk(kChunkDocument, body);
}

std::expected<void, Error> Document::Impl::load_document(ByteSpan body, const LoadLimits& limits) {
    Reader r(body);
    TRY(nactors, r.uleb());
    if (nactors > r.remaining()) return std::unexpected(malformed("truncated actor list"));
    std::vector<ActorId> doc_actors;
    for (std::uint64_t i = 0; i < nactors; ++i) {
        TRY(l, r.uleb());
        TRY(b, r.take(l));
        doc_actors.emplace_back(std::vector<std::uint8_t>(b.begin(), b.end()));
    }
    TRY(nheads, r.uleb());
    if (nheads > r.remaining() / 32) return std::unexpected(malformed("truncated heads"));
    std::vector<ChangeHash> stored_heads;
    for (std::uint64_t i = 0; i < nheads; ++i) {
        TRY(h, r.take(32));
        ChangeHash hash;
        std::memcpy(hash.bytes.data(), h.data(), 32);
        stored_heads.push_back(hash);
    }
    TRY(change_meta, read_column_meta(r));
    TRY(op_meta, read_column_meta(r));
    Columns change_cols, op_cols;
    std::size_t budget = limits.max_inflated_bytes;
    if (auto ok = read_column_data(r, change_meta, change_cols, budget); !ok) return std::unexpected(ok.error());
    if (auto ok = read_column_data(r, op_meta, op_cols, budget); !ok) return std::unexpected(ok.error());
    // What follows are the head indices of newer writers; the heads are
    // recomputed below, so they are not needed.

    // The document must be empty: actors of the chunk map to the same indices.
    for (const ActorId& a : doc_actors) {
        if (actor_lookup.contains(a.bytes())) return std::unexpected(malformed("duplicate actor"));
        intern_actor(a);
    }
    const std::size_t n_actors = doc_actors.size();

    // Change metadata.
    {
        UintDecoder actor(change_cols.get(col_ch_actor));
        DeltaDecoder seq(change_cols.get(col_ch_seq)), max_op_d(change_cols.get(col_ch_max_op)),
            time(change_cols.get(col_ch_time)), deps_index(change_cols.get(col_ch_deps_index));
        StrDecoder message(change_cols.get(col_ch_message));
        UintDecoder deps_group(change_cols.get(col_ch_deps_group)), extra_meta(change_cols.get(col_ch_extra_meta));
        Reader extra_raw(change_cols.get(col_ch_extra_raw));
        std::size_t dep_budget = limits.max_ops;
        {
            // Size the change list once: count the rows of the actor column,
            // trusting the count only as far as the limits and the chunk's
            // size make it plausible.
            UintDecoder rows(change_cols.get(col_ch_actor));
            std::size_t n = 0;
            const std::size_t cap = std::min(limits.max_ops, body.size() / 2 + 64);
            while (n < cap && !rows.done() && rows.next()) ++n;
            changes.reserve(n);
        }
        while (!(actor.done() && seq.done() && max_op_d.done() && time.done() && message.done() &&
                 deps_group.done() && deps_index.done() && extra_meta.done())) {
            if (changes.size() >= limits.max_ops) return std::unexpected(too_large("too many changes"));
            Change c;
            TRY(a, need(actor.next(), "change actor"));
            if (a >= n_actors) return std::unexpected(malformed("change actor out of range"));
            c.actor = static_cast<std::uint32_t>(a);
            TRY(s, need(seq.next(), "change seq"));
            TRY(m, need(max_op_d.next(), "change max op"));
            TRY(t, time.next());
            TRY(msg, message.next());
            TRY(nd, deps_group.next());
            if (s < 1 || m < 0) return std::unexpected(malformed("bad change numbers"));
            c.seq = static_cast<std::uint64_t>(s);
            c.max_op = static_cast<std::uint64_t>(m);
            c.time = t.value_or(0);
            c.message = std::move(msg);
            std::uint64_t ndeps = nd.value_or(0);
            if (ndeps > dep_budget) return std::unexpected(too_large("too many dependencies"));
            dep_budget -= ndeps;
            for (std::uint64_t i = 0; i < ndeps; ++i) {
                TRY(d, need(deps_index.next(), "dependency"));
                if (d < 0 || static_cast<std::uint64_t>(d) >= changes.size())
                    return std::unexpected(malformed("dependency out of order"));
                c.deps.push_back(static_cast<std::uint32_t>(d));
            }
            TRY(em, extra_meta.next());
            TRY(ev, decode_value(em, extra_raw));
            if (auto b = ev.as_bytes(); b && ev.kind() == Value::Kind::bytes) c.extra.assign(b->begin(), b->end());
            else if (!ev.is_null()) return std::unexpected(malformed("change extra bytes of a wrong type"));
            auto& list = actor_changes[c.actor];
            if (c.seq != list.size() + 1) return std::unexpected(malformed("change sequence numbers out of order"));
            if (!list.empty() && c.max_op < changes[list.back()].max_op)
                return std::unexpected(malformed("change op counters out of order"));
            list.push_back(static_cast<std::uint32_t>(changes.size()));
            changes.push_back(std::move(c));
        }
    }

    auto change_of = [&](OpId id) -> std::optional<std::uint32_t> {
        const auto& list = actor_changes[id.actor_index()];
        auto it = std::lower_bound(list.begin(), list.end(), id.counter(),
                                   [&](std::uint32_t ci, std::uint64_t ctr) { return changes[ci].max_op < ctr; });
        if (it == list.end()) return std::nullopt;
        return *it;
    };

    // Operations in document order.
    struct Ref {
        std::uint64_t counter;
        std::uint32_t pred_op;
    };
    std::vector<std::vector<Ref>> refs(changes.size());
    {
        // Room for every operation the changes claim, within the limits.
        std::uint64_t claimed = 0;
        for (const auto& list : actor_changes)
            if (!list.empty()) claimed += changes[list.back()].max_op;
        ops.reserve(static_cast<std::size_t>(std::min<std::uint64_t>({claimed, limits.max_ops, body.size() / 2 + 64})));
        change_index.reserve(changes.size());
        std::uint32_t last_obj = UINT32_MAX;
        OpId last_obj_id;
        OpColumns c(op_cols, true);
        std::size_t ref_budget = limits.max_ops;
        while (!c.done()) {
            if (ops.size() >= limits.max_ops) return std::unexpected(too_large("too many operations"));
            TRY(raw, read_op(c, n_actors, true, ref_budget));
            Op op;
            op.id = raw.id;
            op.obj = raw.op.obj;
            op.elem = raw.op.elem;
            op.key = std::move(raw.op.key);
            op.value = std::move(raw.op.value);
            op.mark_name = std::move(raw.op.mark_name);
            op.action = raw.op.action;
            op.insert = raw.op.insert;
            op.expand = raw.op.expand;
            op.map_key = raw.op.map_key;
            op.succ = std::move(raw.refs);
            if (op.action == del) return std::unexpected(malformed("delete operation in a document"));
            // The operations of one object are contiguous: look it up once.
            if (!(op.obj == last_obj_id) || last_obj == UINT32_MAX) {
                auto oit = object_index.find(op.obj);
                if (oit == object_index.end()) return std::unexpected(malformed("operation on a missing object"));
                last_obj = oit->second;
                last_obj_id = op.obj;
            }
            Object& obj = objects[last_obj];
            if (op.map_key != is_map_like_type(obj.type)) return std::unexpected(malformed("operation key does not fit its object"));
            auto ci = change_of(op.id);
            if (!ci) return std::unexpected(malformed("operation outside every change"));
            op.change = *ci;
            auto index = static_cast<std::uint32_t>(ops.size());
            for (const OpId& s : op.succ) {
                auto sc = change_of(s);
                if (!sc) return std::unexpected(malformed("successor outside every change"));
                refs[*sc].push_back({s.counter(), index});
            }
            if (op.map_key) obj.props[op.key].push_back(index);
            else obj.seq.push_back(index);
            std::optional<ObjType> made = made_type(op.action);
            OpId id = op.id;
            ops.push_back(std::move(op));
            if (made) {
                if (object_index.contains(id)) return std::unexpected(malformed("object created twice"));
                Object child;
                child.type = *made;
                child.id = id;
                object_index.emplace(id, static_cast<std::uint32_t>(objects.size()));
                objects.push_back(std::move(child));
            }
        }
    }

    {
        // Each change's stored operations, sized once.
        std::vector<std::uint32_t> counts(changes.size(), 0);
        for (const Op& op : ops) ++counts[op.change];
        for (std::uint32_t ci = 0; ci < changes.size(); ++ci) changes[ci].ops.reserve(counts[ci] + refs[ci].size());
        for (std::uint32_t i = 0; i < ops.size(); ++i) changes[ops[i].change].ops.push_back(i);
    }

    // Rebuild each change's operations: the stored ones plus the deletions
    // that only appear as successors, each with its predecessors.
    for (std::uint32_t ci = 0; ci < changes.size(); ++ci) {
        Change& c = changes[ci];
        auto& list = c.ops;
        std::sort(list.begin(), list.end(), [&](std::uint32_t a, std::uint32_t b) { return ops[a].id.counter() < ops[b].id.counter(); });
        auto& rs = refs[ci];
        std::sort(rs.begin(), rs.end(), [&](const Ref& a, const Ref& b) {
            if (a.counter != b.counter) return a.counter < b.counter;
            return lamport_less(ops[a.pred_op].id, ops[b.pred_op].id);
        });
        // When no successor points into this change its ops are all stored;
        // otherwise merge in the deletions.
        if (!rs.empty()) {
            std::vector<std::uint32_t> merged;
            std::size_t i = 0, j = 0;
            while (i < list.size() || j < rs.size()) {
                std::uint64_t next_ctr;
                if (i < list.size() && (j >= rs.size() || ops[list[i]].id.counter() <= rs[j].counter))
                    next_ctr = ops[list[i]].id.counter();
                else
                    next_ctr = rs[j].counter;
                std::uint32_t target;
                if (i < list.size() && ops[list[i]].id.counter() == next_ctr) {
                    target = list[i++];
                    if (i < list.size() && ops[list[i]].id.counter() == next_ctr)
                        return std::unexpected(malformed("two operations with one id"));
                } else {
                    const Op& p = ops[rs[j].pred_op];
                    Op d;
                    d.id = OpId(next_ctr, c.actor);
                    d.obj = p.obj;
                    d.map_key = p.map_key;
                    if (p.map_key) d.key = p.key;
                    else d.elem = p.insert ? p.id : p.elem;
                    d.action = del;
                    d.change = ci;
                    target = static_cast<std::uint32_t>(ops.size());
                    if (ops.size() >= limits.max_ops) return std::unexpected(too_large("too many operations"));
                    ops.push_back(std::move(d));
                }
                while (j < rs.size() && rs[j].counter == next_ctr) {
                    std::uint32_t p = rs[j++].pred_op;
                    Op& t = ops[target];
                    if (!t.pred.empty() && t.pred.back() == ops[p].id) continue;
                    t.pred.push_back(ops[p].id);
                    if (t.action == inc) {
                        ++ops[p].inc_succ;
                        ops[p].inc_sum = static_cast<std::int64_t>(static_cast<std::uint64_t>(ops[p].inc_sum) +
                                                                   static_cast<std::uint64_t>(numeric_value(t.value)));
                    }
                }
                merged.push_back(target);
            }
            c.ops = std::move(merged);
        }
        if (c.ops.size() > c.max_op)
            return std::unexpected(malformed("change holds more operations than its counters"));
        c.start_op = c.max_op + 1 - c.ops.size();
        for (std::size_t k = 0; k < c.ops.size(); ++k)
            if (ops[c.ops[k]].id.counter() != c.start_op + k)
                return std::unexpected(malformed("change operations are not contiguous"));
        if (c.start_op == 0) return std::unexpected(malformed("change start op is zero"));
        if (c.max_op > max_op) max_op = c.max_op;
    }

    // Hashes, in history order (dependencies come first).
    std::vector<bool> has_child(changes.size(), false);
    for (std::uint32_t ci = 0; ci < changes.size(); ++ci) {
        changes[ci].hash = hash_change(ci);
        if (!change_index.emplace(changes[ci].hash, ci).second) return std::unexpected(malformed("duplicate change"));
        for (std::uint32_t d : changes[ci].deps) has_child[d] = true;
    }
    heads.clear();
    for (std::uint32_t ci = 0; ci < changes.size(); ++ci)
        if (!has_child[ci]) heads.push_back(ci);
    std::vector<ChangeHash> computed;
    for (std::uint32_t h : heads) computed.push_back(changes[h].hash);
    std::sort(computed.begin(), computed.end());
    std::sort(stored_heads.begin(), stored_heads.end());
    if (computed != stored_heads)
        return std::unexpected(Error{ErrorKind::heads_mismatch, "the document's heads do not match its changes"});
    return {};
}

std::expected<void, Error> Document::Impl::apply_chunks(ByteSpan bytes, const LoadLimits& limits) {
    Reader r(bytes);
    std::size_t op_budget = limits.max_ops;
    if (bytes.empty()) return {};
    while (!r.done()) {
        std::size_t chunk_start = r.pos();
        TRY(magic, r.take(4));
        if (std::memcmp(magic.data(), kMagic, 4) != 0) return std::unexpected(malformed("not an automerge chunk"));
        TRY(checksum, r.take(4));
        TRY(type, r.byte());
        TRY(len, r.uleb());
        TRY(body, r.take(len));
        ByteSpan hashed = bytes.subspan(chunk_start + 8, r.pos() - chunk_start - 8);
        std::uint8_t digest[32];
        if (type == kChunkDocument || type == kChunkChange) {
            sha256(hashed.data(), hashed.size(), digest);
            if (std::memcmp(digest, checksum.data(), 4) != 0)
                return std::unexpected(Error{ErrorKind::checksum_mismatch, "chunk checksum does not match"});
        }
        if (type == kChunkDocument) {
            if (changes.empty() && queue.empty() && pending.empty() && actors.empty()) {
                if (auto ok = load_document(body, limits); !ok) return std::unexpected(ok.error());
            } else {
                Impl other;
                if (auto ok = other.load_document(body, limits); !ok) return std::unexpected(ok.error());
                for (std::uint32_t ci = 0; ci < other.changes.size(); ++ci) {
                    if (change_index.contains(other.changes[ci].hash)) continue;
                    Bytes chunk = other.encode_change(ci);
                    auto pc = parse_change_body(chunk_body(chunk), limits, op_budget);
                    if (!pc) return std::unexpected(pc.error());
                    pc->hash = other.changes[ci].hash;
                    if (auto ok = apply_parsed(std::move(*pc)); !ok) return std::unexpected(ok.error());
                }
            }
        } else if (type == kChunkChange || type == kChunkCompressed) {
            Bytes inflated;
            ByteSpan change_body = body;
            ChangeHash hash;
            if (type == kChunkCompressed) {
                TRY(data, inflate_raw(body, limits.max_inflated_bytes));
                inflated = std::move(data);
                change_body = inflated;
                Bytes header;
                header.push_back(kChunkChange);
                write_uleb(header, inflated.size());
                crypto_hash_sha256_state st;
                crypto_hash_sha256_init(&st);
                crypto_hash_sha256_update(&st, header.data(), header.size());
                crypto_hash_sha256_update(&st, inflated.data(), inflated.size());
                crypto_hash_sha256_final(&st, hash.bytes.data());
                if (std::memcmp(hash.bytes.data(), checksum.data(), 4) != 0)
                    return std::unexpected(Error{ErrorKind::checksum_mismatch, "chunk checksum does not match"});
            } else {
                std::memcpy(hash.bytes.data(), digest, 32);
            }
            TRY(pc, parse_change_body(change_body, limits, op_budget));
            pc.hash = hash;
            if (auto ok = apply_parsed(std::move(pc)); !ok) return std::unexpected(ok.error());
        } else {
            return std::unexpected(Error{ErrorKind::unsupported, "unknown chunk type"});
        }
    }
    return drain_queue();
}

}  // namespace automerge
