// Identifiers of the automerge engine: actor ids, object ids, change hashes
// and object types. Plain values; any thread may use them.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "automerge/error.h"

namespace automerge {

enum class ObjType : std::uint8_t { map, list, text, table };

std::string_view to_string(ObjType type);

// The identity of one writer of a document: an arbitrary byte string, usually
// 16 random bytes.
class ActorId {
public:
    ActorId() = default;
    explicit ActorId(std::vector<std::uint8_t> bytes) : m_bytes(std::move(bytes)) {}

    // 16 random bytes from the system's random source.
    static ActorId random();
    // Lower-case or upper-case hexadecimal, an even number of digits.
    static std::expected<ActorId, Error> from_hex(std::string_view hex);

    const std::vector<std::uint8_t>& bytes() const { return m_bytes; }
    std::string to_hex() const;

    friend bool operator==(const ActorId&, const ActorId&) = default;
    friend std::strong_ordering operator<=>(const ActorId& a, const ActorId& b) {
        return a.m_bytes <=> b.m_bytes;
    }

private:
    std::vector<std::uint8_t> m_bytes;
};

// The SHA-256 hash of one change chunk.
struct ChangeHash {
    std::array<std::uint8_t, 32> bytes{};

    static std::expected<ChangeHash, Error> from_hex(std::string_view hex);
    std::string to_hex() const;

    friend bool operator==(const ChangeHash&, const ChangeHash&) = default;
    friend std::strong_ordering operator<=>(const ChangeHash&, const ChangeHash&) = default;
};

// Names an object (or the operation that wrote a value) inside one document:
// the counter of the creating operation and the document's own index of its
// actor. Valid for the document that handed it out and for its clones and
// forks; use Document::id_text for a form that other documents understand.
class ObjId {
public:
    constexpr ObjId() = default;
    static constexpr ObjId root() { return ObjId{}; }
    constexpr ObjId(std::uint64_t counter, std::uint32_t actor) : m_counter(counter), m_actor(actor) {}

    constexpr bool is_root() const { return m_counter == 0; }
    constexpr std::uint64_t counter() const { return m_counter; }
    constexpr std::uint32_t actor_index() const { return m_actor; }

    friend constexpr bool operator==(const ObjId&, const ObjId&) = default;

private:
    std::uint64_t m_counter = 0;
    std::uint32_t m_actor = 0;
};

}  // namespace automerge
