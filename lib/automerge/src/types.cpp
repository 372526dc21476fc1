#include "automerge/types.h"

#include <sodium.h>

#include <cstring>

#include "automerge/value.h"

namespace automerge {

namespace {

constexpr char kHex[] = "0123456789abcdef";

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::expected<std::vector<std::uint8_t>, Error> parse_hex(std::string_view hex) {
    if (hex.size() % 2 != 0) return std::unexpected(Error{ErrorKind::invalid_argument, "odd number of hex digits"});
    std::vector<std::uint8_t> out;
    out.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int hi = hex_digit(hex[i]), lo = hex_digit(hex[i + 1]);
        if (hi < 0 || lo < 0) return std::unexpected(Error{ErrorKind::invalid_argument, "not a hex digit"});
        out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    return out;
}

std::string to_hex_text(const std::uint8_t* data, std::size_t n) {
    std::string s;
    s.reserve(n * 2);
    for (std::size_t i = 0; i < n; ++i) {
        s.push_back(kHex[data[i] >> 4]);
        s.push_back(kHex[data[i] & 15]);
    }
    return s;
}

}  // namespace

std::string_view to_string(ObjType type) {
    switch (type) {
    case ObjType::map: return "map";
    case ObjType::list: return "list";
    case ObjType::text: return "text";
    case ObjType::table: return "table";
    }
    return "map";
}

ActorId ActorId::random() {
    static const bool ready = sodium_init() >= 0;
    (void)ready;
    std::vector<std::uint8_t> bytes(16);
    randombytes_buf(bytes.data(), bytes.size());
    return ActorId(std::move(bytes));
}

std::expected<ActorId, Error> ActorId::from_hex(std::string_view hex) {
    auto bytes = parse_hex(hex);
    if (!bytes) return std::unexpected(bytes.error());
    return ActorId(std::move(*bytes));
}

std::string ActorId::to_hex() const { return to_hex_text(m_bytes.data(), m_bytes.size()); }

std::expected<ChangeHash, Error> ChangeHash::from_hex(std::string_view hex) {
    auto bytes = parse_hex(hex);
    if (!bytes) return std::unexpected(bytes.error());
    if (bytes->size() != 32) return std::unexpected(Error{ErrorKind::invalid_argument, "a change hash has 32 bytes"});
    ChangeHash h;
    std::memcpy(h.bytes.data(), bytes->data(), 32);
    return h;
}

std::string ChangeHash::to_hex() const { return to_hex_text(bytes.data(), bytes.size()); }

// ---- Value ---------------------------------------------------------------------

Value Value::boolean(bool b) {
    Value v;
    v.m_kind = Kind::boolean;
    v.m_num.b = b;
    return v;
}
Value Value::int64(std::int64_t i) {
    Value v;
    v.m_kind = Kind::int64;
    v.m_num.i = i;
    return v;
}
Value Value::uint64(std::uint64_t u) {
    Value v;
    v.m_kind = Kind::uint64;
    v.m_num.u = u;
    return v;
}
Value Value::f64(double d) {
    Value v;
    v.m_kind = Kind::f64;
    v.m_num.d = d;
    return v;
}
Value Value::str(std::string_view text) {
    Value v;
    v.m_kind = Kind::str;
    v.m_data.assign(text);
    return v;
}
Value Value::bytes(std::vector<std::uint8_t> data) {
    Value v;
    v.m_kind = Kind::bytes;
    v.m_data.assign(data.begin(), data.end());
    return v;
}
Value Value::bytes(std::string_view data) {
    Value v;
    v.m_kind = Kind::bytes;
    v.m_data.assign(data);
    return v;
}
Value Value::counter(std::int64_t i) {
    Value v;
    v.m_kind = Kind::counter;
    v.m_num.i = i;
    return v;
}
Value Value::timestamp(std::int64_t ms) {
    Value v;
    v.m_kind = Kind::timestamp;
    v.m_num.i = ms;
    return v;
}
Value Value::unknown(std::uint8_t type_code, std::vector<std::uint8_t> data) {
    Value v;
    v.m_kind = Kind::unknown;
    v.m_unknown_code = type_code;
    v.m_data.assign(data.begin(), data.end());
    return v;
}

std::optional<bool> Value::as_bool() const {
    if (m_kind != Kind::boolean) return std::nullopt;
    return m_num.b;
}
std::optional<std::int64_t> Value::as_int64() const {
    if (m_kind != Kind::int64) return std::nullopt;
    return m_num.i;
}
std::optional<std::uint64_t> Value::as_uint64() const {
    if (m_kind != Kind::uint64) return std::nullopt;
    return m_num.u;
}
std::optional<double> Value::as_f64() const {
    if (m_kind != Kind::f64) return std::nullopt;
    return m_num.d;
}
std::optional<std::string_view> Value::as_str() const {
    if (m_kind != Kind::str) return std::nullopt;
    return std::string_view(m_data);
}
std::optional<std::string_view> Value::as_bytes() const {
    if (m_kind != Kind::bytes && m_kind != Kind::unknown) return std::nullopt;
    return std::string_view(m_data);
}
std::optional<std::int64_t> Value::as_counter() const {
    if (m_kind != Kind::counter) return std::nullopt;
    return m_num.i;
}
std::optional<std::int64_t> Value::as_timestamp() const {
    if (m_kind != Kind::timestamp) return std::nullopt;
    return m_num.i;
}

bool operator==(const Value& a, const Value& b) {
    if (a.m_kind != b.m_kind) return false;
    switch (a.m_kind) {
    case Value::Kind::null: return true;
    case Value::Kind::boolean: return a.m_num.b == b.m_num.b;
    case Value::Kind::int64:
    case Value::Kind::counter:
    case Value::Kind::timestamp: return a.m_num.i == b.m_num.i;
    case Value::Kind::uint64: return a.m_num.u == b.m_num.u;
    case Value::Kind::f64: {
        // Bitwise: a stored NaN equals itself.
        std::uint64_t x, y;
        std::memcpy(&x, &a.m_num.d, 8);
        std::memcpy(&y, &b.m_num.d, 8);
        return x == y;
    }
    case Value::Kind::str:
    case Value::Kind::bytes: return a.m_data == b.m_data;
    case Value::Kind::unknown: return a.m_unknown_code == b.m_unknown_code && a.m_data == b.m_data;
    }
    return false;
}

std::string Value::debug_text() const {
    switch (m_kind) {
    case Kind::null: return "null";
    case Kind::boolean: return m_num.b ? "bool(true)" : "bool(false)";
    case Kind::int64: return "int64(" + std::to_string(m_num.i) + ")";
    case Kind::uint64: return "uint64(" + std::to_string(m_num.u) + ")";
    case Kind::f64: return "f64(" + std::to_string(m_num.d) + ")";
    case Kind::str: return "str(\"" + m_data + "\")";
    case Kind::bytes:
        return "bytes(" + to_hex_text(reinterpret_cast<const std::uint8_t*>(m_data.data()), m_data.size()) + ")";
    case Kind::counter: return "counter(" + std::to_string(m_num.i) + ")";
    case Kind::timestamp: return "timestamp(" + std::to_string(m_num.i) + ")";
    case Kind::unknown:
        return "unknown(" + std::to_string(m_unknown_code) + ", " +
               to_hex_text(reinterpret_cast<const std::uint8_t*>(m_data.data()), m_data.size()) + ")";
    }
    return "null";
}

}  // namespace automerge
