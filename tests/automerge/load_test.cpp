// Bad input: truncated, bit-flipped, oversized and hostile bytes give an
// error value, never a crash, a hang or unbounded memory.
#include <automerge/document.h>
#include <gtest/gtest.h>
#include <sodium.h>
#include <zlib.h>

#include <cstring>

#include "deflate.h"
#include "encoding.h"
#include "scenario.h"

namespace {

using automerge::Document;
using automerge::ErrorKind;
using namespace automerge::detail;

std::vector<std::uint8_t> valid_document() {
    return automerge_test::read_file(automerge_test::source_dir() / "fixtures" / "concurrent.automerge");
}

// Frames a chunk body with its magic bytes and a correct checksum.
Bytes frame(std::uint8_t type, const Bytes& body) {
    Bytes hashed{type};
    write_uleb(hashed, body.size());
    hashed.insert(hashed.end(), body.begin(), body.end());
    std::uint8_t digest[32];
    crypto_hash_sha256(digest, hashed.data(), hashed.size());
    Bytes out(8 + hashed.size());
    const std::uint8_t magic[4] = {0x85, 0x6f, 0x4a, 0x83};
    std::memcpy(out.data(), magic, 4);
    std::memcpy(out.data() + 4, digest, 4);
    std::memcpy(out.data() + 8, hashed.data(), hashed.size());
    return out;
}

// A document chunk body: no actors unless given, no heads, the columns given.
Bytes document_body(const std::vector<std::pair<std::uint32_t, Bytes>>& change_cols,
                    const std::vector<std::pair<std::uint32_t, Bytes>>& op_cols, std::size_t actors = 0) {
    Bytes b;
    write_uleb(b, actors);
    for (std::size_t i = 0; i < actors; ++i) {
        write_uleb(b, 1);
        b.push_back(static_cast<std::uint8_t>(i + 1));
    }
    write_uleb(b, 0);
    for (const auto* cols : {&change_cols, &op_cols}) {
        write_uleb(b, cols->size());
        for (const auto& [spec, data] : *cols) {
            write_uleb(b, spec);
            write_uleb(b, data.size());
        }
    }
    for (const auto* cols : {&change_cols, &op_cols})
        for (const auto& [spec, data] : *cols) b.insert(b.end(), data.begin(), data.end());
    return b;
}

TEST(LoadBadInput, EveryTruncationIsAnError) {
    auto doc = valid_document();
    for (std::size_t n = 1; n < doc.size(); ++n) {
        auto r = Document::load(std::span(doc.data(), n));
        EXPECT_FALSE(r) << "prefix of " << n << " bytes loaded";
    }
}

TEST(LoadBadInput, EveryBitFlipIsAnError) {
    auto doc = valid_document();
    for (std::size_t i = 0; i < doc.size(); ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            auto copy = doc;
            copy[i] ^= static_cast<std::uint8_t>(1 << bit);
            auto r = Document::load(copy);
            EXPECT_FALSE(r) << "flip of bit " << bit << " in byte " << i << " loaded";
        }
    }
}

TEST(LoadBadInput, HostileChunksAreRefused) {
    // Runs of 2^62 operations: key "k", ids 1, 2, 3, ... of actor 0, "set".
    auto run_of = [](auto write_value) {
        Bytes b;
        write_leb(b, std::int64_t{1} << 62);
        write_value(b);
        return b;
    };
    Bytes key_run = run_of([](Bytes& b) { write_uleb(b, 1); b.push_back('k'); });
    Bytes zero_run = run_of([](Bytes& b) { write_uleb(b, 0); });
    Bytes one_run = run_of([](Bytes& b) { write_uleb(b, 1); });
    Bytes max_op{0x7f};
    write_leb(max_op, std::int64_t{1} << 62);
    Bytes many_ops = frame(0, document_body({{0x01, {0x7f, 0x00}}, {0x03, {0x7f, 0x01}}, {0x13, max_op}},
                                            {{0x15, key_run}, {0x21, zero_run}, {0x23, one_run}, {0x42, one_run}}, 1));
    Bytes huge_nulls{0};
    write_uleb(huge_nulls, std::uint64_t{1} << 62);
    // 8 MiB of zeros deflate to a few KiB.
    Bytes zeros(8u << 20, 0);
    Bytes bomb(compressBound(static_cast<uLong>(zeros.size())));
    {
        z_stream zs{};
        deflateInit2(&zs, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
        zs.next_in = zeros.data();
        zs.avail_in = static_cast<uInt>(zeros.size());
        zs.next_out = bomb.data();
        zs.avail_out = static_cast<uInt>(bomb.size());
        deflate(&zs, Z_FINISH);
        bomb.resize(zs.total_out);
        deflateEnd(&zs);
    }
    struct Case {
        const char* what;
        Bytes chunk;
        ErrorKind kind;
    };
    const Case cases[] = {
        {"a run of 2^62 operations", many_ops, ErrorKind::too_large},
        {"a run of 2^62 null changes", frame(0, document_body({{0x01, huge_nulls}}, {})), ErrorKind::malformed},
        {"a column that inflates past the limit", frame(0, document_body({}, {{0x4a, bomb}})), ErrorKind::too_large},
        {"an actor count beyond the chunk", frame(0, Bytes{0xff, 0xff, 0x03}), ErrorKind::malformed},
        {"an actor index beyond the table", frame(0, document_body({{0x01, {0x7f, 0x05}}, {0x03, {0x7f, 0x01}}, {0x13, {0x7f, 0x00}}}, {}, 1)),
         ErrorKind::malformed},
        {"an unknown chunk type", frame(9, Bytes{}), ErrorKind::unsupported},
        {"not a chunk", Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, ErrorKind::malformed},
        {"an over-long length", Bytes{0x85, 0x6f, 0x4a, 0x83, 0, 0, 0, 0, 0, 0x80, 0x00}, ErrorKind::malformed},
    };
    automerge::LoadLimits limits;
    limits.max_inflated_bytes = 1u << 20;
    limits.max_ops = 100000;
    for (const Case& c : cases) {
        auto r = Document::load(c.chunk, limits);
        ASSERT_FALSE(r) << c.what;
        EXPECT_EQ(r.error().kind, c.kind) << c.what << ": " << r.error().message;
    }
}

// Splits concatenated chunks.
std::vector<Bytes> split_chunks(const Bytes& all) {
    std::vector<Bytes> out;
    std::size_t at = 0;
    while (at < all.size()) {
        Reader r(ByteSpan(all).subspan(at + 9));
        std::size_t len = *r.uleb();
        std::size_t size = 9 + r.pos() + len;
        out.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(at), all.begin() + static_cast<std::ptrdiff_t>(at + size));
        at += size;
    }
    return out;
}

Bytes joined(const std::vector<Bytes>& chunks, std::initializer_list<std::size_t> which) {
    Bytes out;
    for (std::size_t i : which) out.insert(out.end(), chunks[i].begin(), chunks[i].end());
    return out;
}

// Loading bytes that hold a change without the changes it depends on would
// leave that change out of every later save: the load is refused instead.
// Applied to a document, the same bytes wait for what they lack.
TEST(LoadBadInput, ChangesWithMissingDependenciesAreRefusedByLoadAndWaitInApply) {
    const auto all = automerge_test::read_file(automerge_test::source_dir() / "fixtures" / "overwrites.changes");
    const auto chunks = split_chunks(all);
    ASSERT_GE(chunks.size(), 3u);
    auto full = Document::load(joined(chunks, {0, 1, 2}));
    ASSERT_TRUE(full);

    const struct {
        const char* name;
        Bytes bytes;
    } refused[] = {
        {"first change missing", joined(chunks, {1, 2})},
        {"a change missing inside the run", joined(chunks, {0, 2})},
        {"only a later change", joined(chunks, {2})},
        {"a document chunk, then a change whose parent is absent", [&] {
             auto first = Document::load(chunks[0]);
             Bytes out = first->save();
             out.insert(out.end(), chunks[2].begin(), chunks[2].end());
             return out;
         }()},
    };
    for (const auto& row : refused) {
        SCOPED_TRACE(row.name);
        auto loaded = Document::load(row.bytes);
        ASSERT_FALSE(loaded);
        EXPECT_EQ(loaded.error().kind, ErrorKind::missing_dependency);
        EXPECT_EQ(loaded.error().message, "change's deps should already be in the document");
    }

    // Out of order but complete: loads whole.
    auto shuffled = Document::load(joined(chunks, {2, 1, 0}));
    ASSERT_TRUE(shuffled) << shuffled.error().message;
    EXPECT_EQ(shuffled->save(), full->save());

    Document waiting;
    ASSERT_TRUE(waiting.apply(joined(chunks, {1, 2})));
    EXPECT_EQ(waiting.change_count(), 0u);
    EXPECT_EQ(waiting.waiting_change_count(), 2u);
    ASSERT_TRUE(waiting.apply(chunks[0]));
    EXPECT_EQ(waiting.waiting_change_count(), 0u);
    EXPECT_EQ(waiting.heads(), full->heads());
    EXPECT_EQ(waiting.save(), full->save());
}

// A change that waited for its dependency and then turns out invalid refuses
// the load, as it would have in order, rather than being dropped. Here two
// forks under one actor each write that actor's first change; the second of
// them to be applied has a sequence number out of order.
TEST(LoadBadInput, WaitingChangeThatTurnsOutInvalidRefusesTheLoad) {
    using automerge::ActorId;
    using automerge::ObjId;
    using automerge::Value;
    Document base(*ActorId::from_hex("aa"));
    ASSERT_TRUE(base.put(ObjId::root(), "x", Value::int64(1)));
    base.commit({.message = {}, .time = 1});
    Document one = base.fork(*ActorId::from_hex("cc"));
    Document two = base.fork(*ActorId::from_hex("cc"));
    ASSERT_TRUE(one.put(ObjId::root(), "y", Value::int64(1)));
    one.commit({.message = {}, .time = 2});
    ASSERT_TRUE(two.put(ObjId::root(), "y", Value::int64(2)));
    two.commit({.message = {}, .time = 2});
    const auto first = base.changes();
    const auto from_one = one.changes(base.heads());
    const auto from_two = two.changes(base.heads());
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(from_one.size(), 1u);
    ASSERT_EQ(from_two.size(), 1u);

    Bytes bytes;
    for (const auto* c : {&from_one[0], &from_two[0], &first[0]}) bytes.insert(bytes.end(), c->begin(), c->end());
    auto loaded = Document::load(bytes);
    ASSERT_FALSE(loaded);
    EXPECT_EQ(loaded.error().message, "change sequence number out of order");
    // Applied to a document, the same bytes are refused whole.
    Document target;
    EXPECT_FALSE(target.apply(bytes));
    EXPECT_EQ(target.change_count(), 0u);
    EXPECT_EQ(target.waiting_change_count(), 0u);
}

// A document chunk followed by change chunks, some already in the document,
// one DEFLATE-compressed (chunk type 2, its checksum that of the plain change),
// loads as one history.
TEST(LoadMixedChunks, DocumentChunkWithPlainAndCompressedChanges) {
    const auto changes = split_chunks(automerge_test::read_file(automerge_test::source_dir() / "fixtures" / "concurrent.changes"));
    ASSERT_GE(changes.size(), 4u);
    auto full = Document::load(automerge_test::concat(changes));
    ASSERT_TRUE(full);

    const std::size_t half = changes.size() / 2;
    auto early = Document::load(automerge_test::concat({changes.begin(), changes.begin() + static_cast<std::ptrdiff_t>(half)}));
    ASSERT_TRUE(early);
    Bytes mixed = early->save();
    mixed.insert(mixed.end(), changes[0].begin(), changes[0].end());  // already known
    std::size_t compressed_at = 0;
    for (std::size_t i = half; i < changes.size(); ++i) {
        const Bytes& chunk = changes[i];
        if (i + 1 != changes.size()) {
            mixed.insert(mixed.end(), chunk.begin(), chunk.end());
            continue;
        }
        Reader r(ByteSpan(chunk).subspan(9));
        std::size_t len = *r.uleb();
        Bytes body(chunk.end() - static_cast<std::ptrdiff_t>(len), chunk.end());
        Bytes packed;
        deflate_compatible(body, packed);
        Bytes compressed = frame(2, packed);
        std::memcpy(compressed.data() + 4, chunk.data() + 4, 4);
        compressed_at = mixed.size();
        mixed.insert(mixed.end(), compressed.begin(), compressed.end());
    }
    auto loaded = Document::load(mixed);
    ASSERT_TRUE(loaded) << loaded.error().message;
    EXPECT_EQ(loaded->heads(), full->heads());
    EXPECT_EQ(loaded->save(), full->save());

    // The compressed chunk's checksum covers the plain change: a wrong one fails.
    Bytes bad = mixed;
    bad[compressed_at + 4] ^= 1;
    auto refused = Document::load(bad);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, ErrorKind::checksum_mismatch);
}

// The codecs refuse over-long and over-64-bit numbers.
TEST(Encoding, Leb128Limits) {
    struct Row {
        Bytes bytes;
        bool is_signed;
        bool ok;
        std::int64_t value;
    };
    const Row rows[] = {
        {{0x00}, false, true, 0},
        {{0x7f}, false, true, 127},
        {{0x80, 0x01}, false, true, 128},
        {{0x80, 0x00}, false, false, 0},  // over-long
        {{0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01}, false, true, -1},  // 2^64 - 1
        {{0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x02}, false, false, 0},  // 2^64
        {{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}, false, false, 0},
        {{0x80}, false, false, 0},  // truncated
        {{0x7f}, true, true, -1},
        {{0xc0, 0x00}, true, true, 64},
        {{0xff, 0x7f}, true, false, 0},  // over-long -1
        {{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x7f}, true, true, INT64_MIN},
        {{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}, true, false, 0},
    };
    for (const Row& row : rows) {
        Reader r(row.bytes);
        if (row.is_signed) {
            auto v = r.leb();
            EXPECT_EQ(v.has_value(), row.ok);
            if (v && row.ok) {
                EXPECT_EQ(*v, row.value);
            }
        } else {
            auto v = r.uleb();
            EXPECT_EQ(v.has_value(), row.ok);
            if (v && row.ok) {
                EXPECT_EQ(static_cast<std::int64_t>(*v), row.value);
            }
        }
    }
    for (std::int64_t v : {std::int64_t{0}, std::int64_t{-1}, std::int64_t{63}, std::int64_t{64}, std::int64_t{-65},
                           INT64_MAX, INT64_MIN}) {
        Bytes b;
        write_leb(b, v);
        Reader r(b);
        EXPECT_EQ(*r.leb(), v);
        EXPECT_TRUE(r.done());
    }
}

TEST(Encoding, RunLengthColumnsRoundTrip) {
    const std::vector<std::optional<std::uint64_t>> values = {std::nullopt, std::nullopt, 1, 1, 1, 2, 3, 4, 4,
                                                              std::nullopt, 5, 5, 6, 7, 7};
    UintEncoder enc;
    for (const auto& v : values) enc.append_opt(v);
    Bytes bytes = enc.finish();
    UintDecoder dec(bytes);
    for (const auto& v : values) EXPECT_EQ(*dec.next(), v);
    EXPECT_TRUE(dec.done());

    BoolEncoder b;
    const bool bits[] = {true, true, false, true, false, false};
    for (bool v : bits) b.append(v);
    Bytes bb = b.finish();
    EXPECT_EQ(bb, (Bytes{0, 2, 1, 1, 2}));
    BoolDecoder bd(bb);
    for (bool v : bits) EXPECT_EQ(*bd.next(), v);
}

// The writer's DEFLATE streams decode to their input: short and long inputs,
// incompressible bytes (stored blocks), long runs, and inputs past the 64 KiB
// window and the 16 K symbols of a block.
TEST(Encoding, DeflateStreamsInflateBack) {
    std::uint64_t seed = 0x9e3779b97f4a7c15ull;
    auto next = [&] {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        return seed;
    };
    Bytes text;
    for (int i = 0; i < 30000; ++i) {
        std::string line = "video-" + std::to_string(next() % 5000) + ":" + std::to_string(i) + ";";
        text.insert(text.end(), line.begin(), line.end());
    }
    Bytes noise(300000);
    for (auto& b : noise) b = static_cast<std::uint8_t>(next());
    Bytes runs;
    for (int i = 0; i < 2000; ++i) runs.insert(runs.end(), 1 + next() % 400, static_cast<std::uint8_t>(next() % 3));
    const std::pair<const char*, Bytes> cases[] = {
        {"short", Bytes(text.begin(), text.begin() + 300)},
        {"text", text},
        {"noise", noise},
        {"runs", runs},
        {"one byte repeated", Bytes(100000, 0x7f)},
    };
    for (const auto& [what, input] : cases) {
        Bytes packed;
        deflate_compatible(input, packed);
        Bytes back(input.size() + 1);
        z_stream zs{};
        ASSERT_EQ(inflateInit2(&zs, -15), Z_OK);
        zs.next_in = packed.data();
        zs.avail_in = static_cast<uInt>(packed.size());
        zs.next_out = back.data();
        zs.avail_out = static_cast<uInt>(back.size());
        EXPECT_EQ(inflate(&zs, Z_FINISH), Z_STREAM_END) << what;
        back.resize(zs.total_out);
        inflateEnd(&zs);
        EXPECT_TRUE(back == input) << what;
    }
}

}  // namespace
