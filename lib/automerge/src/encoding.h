// Primitive encodings of the binary format: LEB128 integers and the column
// codecs (run-length, delta, boolean, group and raw value columns).
// Decoders never read past their input and report malformed data as errors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "automerge/error.h"

namespace automerge::detail {

using Bytes = std::vector<std::uint8_t>;
using ByteSpan = std::span<const std::uint8_t>;

inline Error malformed(std::string message) { return Error{ErrorKind::malformed, std::move(message)}; }

void write_uleb(Bytes& out, std::uint64_t v);
void write_leb(Bytes& out, std::int64_t v);
inline void write_bytes(Bytes& out, const void* data, std::size_t n) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    out.insert(out.end(), p, p + n);
}
inline void write_bytes(Bytes& out, ByteSpan data) { write_bytes(out, data.data(), data.size()); }
inline void write_bytes(Bytes& out, std::string_view data) { write_bytes(out, data.data(), data.size()); }
std::size_t uleb_size(std::uint64_t v);

// Reads from a byte range, refusing over-long and over-64-bit LEB128 values.
class Reader {
public:
    explicit Reader(ByteSpan data) : m_data(data) {}
    bool done() const { return m_pos >= m_data.size(); }
    std::size_t pos() const { return m_pos; }
    std::size_t remaining() const { return m_data.size() - m_pos; }

    std::expected<std::uint64_t, Error> uleb();
    std::expected<std::int64_t, Error> leb();
    std::expected<ByteSpan, Error> take(std::size_t n);
    std::expected<std::uint8_t, Error> byte();
    ByteSpan rest() const { return m_data.subspan(m_pos); }

private:
    ByteSpan m_data;
    std::size_t m_pos = 0;
};

bool valid_utf8(std::string_view s);

// ---- run-length encoding ---------------------------------------------------
// Runs: a signed count n > 0 then one value repeated n times; n < 0 then -n
// literal values; 0 then an unsigned count of nulls. The encoder reproduces
// the official writer's choice of runs exactly.
template <typename T>
class RleEncoder {
public:
    void append(const T& v);
    void append_null();
    void append_opt(const std::optional<T>& v) {
        if (v) append(*v); else append_null();
    }
    // Writes the pending run and answers the column bytes. A column of nulls
    // only is empty.
    Bytes finish();
    // The same into `dst` (replacing its contents); the encoder is then empty
    // and keeps its buffers for reuse.
    void finish_to(Bytes& dst) {
        Bytes tmp = finish();
        dst.swap(tmp);
        m_out.swap(tmp);
        m_out.clear();
        m_literal.clear();
    }

private:
    enum class State { empty, initial_nulls, nulls, lone, run, literal };
    void write_value(const T& v);
    void flush_run(const T& v, std::size_t n);
    void flush_literal();
    void flush_nulls(std::size_t n);

    Bytes m_out;
    State m_state = State::empty;
    T m_last{};
    std::size_t m_count = 0;
    std::vector<T> m_literal;
};

using UintEncoder = RleEncoder<std::uint64_t>;
using IntEncoder = RleEncoder<std::int64_t>;
using StrEncoder = RleEncoder<std::string>;
// Borrows its strings: they must outlive the encoder's finish.
using StrViewEncoder = RleEncoder<std::string_view>;

class DeltaEncoder {
public:
    void append(std::int64_t v) {
        m_rle.append(v - m_abs);
        m_abs = v;
    }
    void append_null() { m_rle.append_null(); }
    void append_opt(const std::optional<std::int64_t>& v) {
        if (v) append(*v); else append_null();
    }
    Bytes finish() { return m_rle.finish(); }
    void finish_to(Bytes& dst) {
        m_rle.finish_to(dst);
        m_abs = 0;
    }

private:
    IntEncoder m_rle;
    std::int64_t m_abs = 0;
};

// Alternating run lengths, starting with a run of false.
class BoolEncoder {
public:
    // `only_if_true`: the column stays empty unless some value is true.
    explicit BoolEncoder(bool only_if_true = false) : m_only_if_true(only_if_true) {}
    void append(bool v);
    Bytes finish();
    void finish_to(Bytes& dst) {
        Bytes tmp = finish();
        dst.swap(tmp);
        m_out.swap(tmp);
        m_out.clear();
        m_last = false;
        m_any_true = false;
        m_count = 0;
    }

private:
    Bytes m_out;
    bool m_last = false;
    bool m_any_true = false;
    bool m_only_if_true;
    std::uint64_t m_count = 0;
};

template <typename T>
class RleDecoder {
public:
    RleDecoder() = default;
    explicit RleDecoder(ByteSpan data) : m_reader(data) {}
    // Next value: nullopt is a null. Past the end every value is null.
    std::expected<std::optional<T>, Error> next();
    bool done() const { return m_left == 0 && m_reader.done(); }

private:
    std::expected<T, Error> read_value();
    Reader m_reader{ByteSpan{}};
    enum class Mode { run, literal, nulls } m_mode = Mode::nulls;
    std::uint64_t m_left = 0;
    std::optional<T> m_value;
};

using UintDecoder = RleDecoder<std::uint64_t>;
using IntDecoder = RleDecoder<std::int64_t>;
using StrDecoder = RleDecoder<std::string>;

class DeltaDecoder {
public:
    DeltaDecoder() = default;
    explicit DeltaDecoder(ByteSpan data) : m_rle(data) {}
    std::expected<std::optional<std::int64_t>, Error> next();
    bool done() const { return m_rle.done(); }

private:
    IntDecoder m_rle;
    std::int64_t m_abs = 0;
};

class BoolDecoder {
public:
    BoolDecoder() = default;
    explicit BoolDecoder(ByteSpan data) : m_reader(data) {}
    // Past the end every value is false.
    std::expected<bool, Error> next();
    bool done() const { return m_left == 0 && m_reader.done(); }

private:
    Reader m_reader{ByteSpan{}};
    bool m_value = true;  // flipped before the first run
    std::uint64_t m_left = 0;
};

}  // namespace automerge::detail
