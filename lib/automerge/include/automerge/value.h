// Scalar values stored in an automerge document, and what a key or list
// position holds (a scalar or an object). Plain values; any thread may use them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "automerge/types.h"

namespace automerge {

// One scalar in the document's value types. Strings must be valid UTF-8 to be
// written (Document::put refuses others); `unknown` carries a type code the
// engine does not know (10 to 15) and its raw bytes, kept unchanged.
class Value {
public:
    enum class Kind : std::uint8_t { null, boolean, int64, uint64, f64, str, bytes, counter, timestamp, unknown };

    Value() = default;
    static Value null() { return Value{}; }
    static Value boolean(bool b);
    static Value int64(std::int64_t v);
    static Value uint64(std::uint64_t v);
    static Value f64(double v);
    static Value str(std::string_view text);
    static Value bytes(std::vector<std::uint8_t> data);
    static Value bytes(std::string_view data);
    static Value counter(std::int64_t v);
    // Milliseconds since the Unix epoch.
    static Value timestamp(std::int64_t ms);
    static Value unknown(std::uint8_t type_code, std::vector<std::uint8_t> data);

    Kind kind() const { return m_kind; }
    bool is_null() const { return m_kind == Kind::null; }

    // Each answers the payload only when the kind matches.
    std::optional<bool> as_bool() const;
    std::optional<std::int64_t> as_int64() const;
    std::optional<std::uint64_t> as_uint64() const;
    std::optional<double> as_f64() const;
    std::optional<std::string_view> as_str() const;
    // The raw bytes of a bytes or unknown value.
    std::optional<std::string_view> as_bytes() const;
    std::optional<std::int64_t> as_counter() const;
    std::optional<std::int64_t> as_timestamp() const;
    // The type code of an unknown value (10 to 15), else 0.
    std::uint8_t unknown_type_code() const { return m_unknown_code; }

    // Diagnostic text, e.g. `int64(5)` or `str("a")`.
    std::string debug_text() const;

    friend bool operator==(const Value& a, const Value& b);

private:
    friend struct ValueAccess;
    Kind m_kind = Kind::null;
    std::uint8_t m_unknown_code = 0;
    union {
        bool b;
        std::int64_t i;
        std::uint64_t u;
        double d;
    } m_num{.u = 0};
    std::string m_data;  // str, bytes and unknown payloads
};

// What a map key or list position holds: a scalar value or an object.
struct Item {
    // Set when the entry is an object; `value` is then null.
    std::optional<ObjType> object;
    Value value;
    // The operation that wrote the entry; for an object this is its ObjId.
    ObjId id;

    bool is_object() const { return object.has_value(); }
};

}  // namespace automerge
