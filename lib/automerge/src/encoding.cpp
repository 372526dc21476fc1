#include "encoding.h"

#include <cstring>
#include <limits>

namespace automerge::detail {

void write_uleb(Bytes& out, std::uint64_t v) {
    do {
        std::uint8_t b = v & 0x7f;
        v >>= 7;
        if (v != 0) b |= 0x80;
        out.push_back(b);
    } while (v != 0);
}

void write_leb(Bytes& out, std::int64_t v) {
    while (true) {
        std::uint8_t b = static_cast<std::uint8_t>(v) & 0x7f;
        v >>= 7;  // arithmetic shift
        bool done = (v == 0 && !(b & 0x40)) || (v == -1 && (b & 0x40));
        if (!done) b |= 0x80;
        out.push_back(b);
        if (done) return;
    }
}

std::size_t uleb_size(std::uint64_t v) {
    std::size_t n = 1;
    while (v >= 0x80) {
        v >>= 7;
        ++n;
    }
    return n;
}


std::expected<std::uint64_t, Error> Reader::uleb() {
    std::uint64_t result = 0;
    unsigned shift = 0;
    for (int i = 0; i < 10; ++i) {
        if (m_pos >= m_data.size()) return std::unexpected(malformed("truncated LEB128 value"));
        std::uint8_t b = m_data[m_pos++];
        std::uint64_t low = b & 0x7f;
        if (shift == 63 && low > 1) return std::unexpected(malformed("LEB128 value exceeds 64 bits"));
        result |= low << shift;
        if (!(b & 0x80)) {
            if (i > 0 && b == 0) return std::unexpected(malformed("over-long LEB128 value"));
            return result;
        }
        shift += 7;
    }
    return std::unexpected(malformed("LEB128 value exceeds 64 bits"));
}

std::expected<std::int64_t, Error> Reader::leb() {
    std::uint64_t result = 0;
    unsigned shift = 0;
    std::uint8_t prev = 0;
    for (int i = 0; i < 10; ++i) {
        if (m_pos >= m_data.size()) return std::unexpected(malformed("truncated LEB128 value"));
        std::uint8_t b = m_data[m_pos++];
        std::uint64_t low = b & 0x7f;
        if (shift == 63) {
            // The last byte holds only the sign: 0x00 or 0x7f.
            if (b != 0x00 && b != 0x7f) return std::unexpected(malformed("LEB128 value exceeds 64 bits"));
        }
        result |= low << shift;
        shift += 7;
        if (!(b & 0x80)) {
            if (i > 0) {
                // Over-long: a last byte that only repeats the previous sign bit.
                bool prev_sign = prev & 0x40;
                if ((b == 0x00 && !prev_sign) || (b == 0x7f && prev_sign))
                    return std::unexpected(malformed("over-long LEB128 value"));
            }
            if (shift < 64 && (b & 0x40)) result |= ~std::uint64_t{0} << shift;
            return static_cast<std::int64_t>(result);
        }
        prev = b;
    }
    return std::unexpected(malformed("LEB128 value exceeds 64 bits"));
}

std::expected<ByteSpan, Error> Reader::take(std::size_t n) {
    if (n > remaining()) return std::unexpected(malformed("truncated data"));
    ByteSpan s = m_data.subspan(m_pos, n);
    m_pos += n;
    return s;
}

std::expected<std::uint8_t, Error> Reader::byte() {
    if (m_pos >= m_data.size()) return std::unexpected(malformed("truncated data"));
    return m_data[m_pos++];
}

bool valid_utf8(std::string_view s) {
    std::size_t i = 0, n = s.size();
    auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    while (i < n) {
        unsigned c = at(i);
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t len;
        std::uint32_t cp;
        if (c >= 0xc2 && c <= 0xdf) { len = 2; cp = c & 0x1f; }
        else if (c >= 0xe0 && c <= 0xef) { len = 3; cp = c & 0x0f; }
        else if (c >= 0xf0 && c <= 0xf4) { len = 4; cp = c & 0x07; }
        else return false;
        if (i + len > n) return false;
        for (std::size_t k = 1; k < len; ++k) {
            unsigned cc = at(i + k);
            if ((cc & 0xc0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3f);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10ffff))) return false;
        if (cp >= 0xd800 && cp <= 0xdfff) return false;
        i += len;
    }
    return true;
}

// ---- RLE encoder -------------------------------------------------------------

template <typename T>
void RleEncoder<T>::write_value(const T& v) {
    if constexpr (std::is_same_v<T, std::uint64_t>) {
        write_uleb(m_out, v);
    } else if constexpr (std::is_same_v<T, std::int64_t>) {
        write_leb(m_out, v);
    } else {
        write_uleb(m_out, v.size());
        write_bytes(m_out, std::string_view(v));
    }
}

template <typename T>
void RleEncoder<T>::flush_run(const T& v, std::size_t n) {
    write_leb(m_out, static_cast<std::int64_t>(n));
    write_value(v);
}

template <typename T>
void RleEncoder<T>::flush_literal() {
    write_leb(m_out, -static_cast<std::int64_t>(m_literal.size()));
    if constexpr (std::is_same_v<T, std::uint64_t> || std::is_same_v<T, std::int64_t>) {
        for (const T& v : m_literal) write_value(v);
    } else {
        // Long literal runs of strings (a map's keys): size the output once.
        std::size_t total = 0;
        for (const T& v : m_literal) total += uleb_size(v.size()) + v.size();
        std::size_t at = m_out.size();
        m_out.resize(at + total);
        std::uint8_t* p = m_out.data() + at;
        for (const T& v : m_literal) {
            std::uint64_t n = v.size();
            do {
                std::uint8_t b = n & 0x7f;
                n >>= 7;
                *p++ = n ? (b | 0x80) : b;
            } while (n);
            if (!v.empty()) std::memcpy(p, v.data(), v.size());
            p += v.size();
        }
    }
    m_literal.clear();
}

template <typename T>
void RleEncoder<T>::flush_nulls(std::size_t n) {
    m_out.push_back(0);
    write_uleb(m_out, n);
}

template <typename T>
void RleEncoder<T>::append(const T& v) {
    switch (m_state) {
    case State::empty:
        m_state = State::lone;
        m_last = v;
        break;
    case State::initial_nulls:
    case State::nulls:
        flush_nulls(m_count);
        m_state = State::lone;
        m_last = v;
        break;
    case State::lone:
        if (m_last == v) {
            m_state = State::run;
            m_count = 2;
        } else {
            m_literal.push_back(m_last);
            m_last = v;
            m_state = State::literal;
        }
        break;
    case State::run:
        if (m_last == v) {
            ++m_count;
        } else {
            flush_run(m_last, m_count);
            m_last = v;
            m_state = State::lone;
        }
        break;
    case State::literal:
        if (m_last == v) {
            flush_literal();
            m_state = State::run;
            m_count = 2;
        } else {
            m_literal.push_back(std::move(m_last));
            m_last = v;
        }
        break;
    }
}

template <typename T>
void RleEncoder<T>::append_null() {
    switch (m_state) {
    case State::empty:
        m_state = State::initial_nulls;
        m_count = 1;
        break;
    case State::initial_nulls:
    case State::nulls:
        ++m_count;
        break;
    case State::lone:
        m_literal.push_back(m_last);
        flush_literal();
        m_state = State::nulls;
        m_count = 1;
        break;
    case State::run:
        flush_run(m_last, m_count);
        m_state = State::nulls;
        m_count = 1;
        break;
    case State::literal:
        m_literal.push_back(m_last);
        flush_literal();
        m_state = State::nulls;
        m_count = 1;
        break;
    }
}

template <typename T>
Bytes RleEncoder<T>::finish() {
    switch (m_state) {
    case State::empty:
    case State::initial_nulls:
        break;
    case State::nulls:
        flush_nulls(m_count);
        break;
    case State::lone:
        m_literal.push_back(m_last);
        flush_literal();
        break;
    case State::run:
        flush_run(m_last, m_count);
        break;
    case State::literal:
        m_literal.push_back(m_last);
        flush_literal();
        break;
    }
    m_state = State::empty;
    return std::move(m_out);
}

template class RleEncoder<std::uint64_t>;
template class RleEncoder<std::int64_t>;
template class RleEncoder<std::string>;
template class RleEncoder<std::string_view>;

// ---- boolean encoder -----------------------------------------------------------

void BoolEncoder::append(bool v) {
    if (v) m_any_true = true;
    if (v == m_last) {
        ++m_count;
    } else {
        write_uleb(m_out, m_count);
        m_last = v;
        m_count = 1;
    }
}

Bytes BoolEncoder::finish() {
    if (m_only_if_true && !m_any_true) return {};
    if (m_count > 0) write_uleb(m_out, m_count);
    return std::move(m_out);
}

// ---- decoders ------------------------------------------------------------------

template <typename T>
std::expected<T, Error> RleDecoder<T>::read_value() {
    if constexpr (std::is_same_v<T, std::uint64_t>) {
        return m_reader.uleb();
    } else if constexpr (std::is_same_v<T, std::int64_t>) {
        return m_reader.leb();
    } else {
        auto len = m_reader.uleb();
        if (!len) return std::unexpected(len.error());
        auto bytes = m_reader.take(*len);
        if (!bytes) return std::unexpected(bytes.error());
        std::string s(reinterpret_cast<const char*>(bytes->data()), bytes->size());
        if (!valid_utf8(s)) return std::unexpected(Error{ErrorKind::invalid_utf8, "string column holds invalid UTF-8"});
        return s;
    }
}

template <typename T>
std::expected<std::optional<T>, Error> RleDecoder<T>::next() {
    while (m_left == 0) {
        if (m_reader.done()) return std::optional<T>{};
        auto count = m_reader.leb();
        if (!count) return std::unexpected(count.error());
        if (*count > 0) {
            m_mode = Mode::run;
            m_left = static_cast<std::uint64_t>(*count);
            auto v = read_value();
            if (!v) return std::unexpected(v.error());
            m_value = std::move(*v);
        } else if (*count < 0) {
            if (*count == std::numeric_limits<std::int64_t>::min())
                return std::unexpected(malformed("literal run too long"));
            m_mode = Mode::literal;
            m_left = static_cast<std::uint64_t>(-*count);
        } else {
            auto n = m_reader.uleb();
            if (!n) return std::unexpected(n.error());
            if (*n == 0) return std::unexpected(malformed("empty null run"));
            m_mode = Mode::nulls;
            m_left = *n;
        }
    }
    --m_left;
    switch (m_mode) {
    case Mode::run:
        return m_value;
    case Mode::literal: {
        auto v = read_value();
        if (!v) return std::unexpected(v.error());
        return std::optional<T>(std::move(*v));
    }
    case Mode::nulls:
        break;
    }
    return std::optional<T>{};
}

template class RleDecoder<std::uint64_t>;
template class RleDecoder<std::int64_t>;
template class RleDecoder<std::string>;

std::expected<std::optional<std::int64_t>, Error> DeltaDecoder::next() {
    auto v = m_rle.next();
    if (!v) return std::unexpected(v.error());
    if (!*v) return std::optional<std::int64_t>{};
    // Wrapping addition: hostile deltas must not overflow into UB.
    m_abs = static_cast<std::int64_t>(static_cast<std::uint64_t>(m_abs) + static_cast<std::uint64_t>(**v));
    return std::optional<std::int64_t>(m_abs);
}

std::expected<bool, Error> BoolDecoder::next() {
    while (m_left == 0) {
        if (m_reader.done()) return false;
        auto n = m_reader.uleb();
        if (!n) return std::unexpected(n.error());
        m_value = !m_value;
        m_left = *n;
    }
    --m_left;
    return m_value;
}

}  // namespace automerge::detail
