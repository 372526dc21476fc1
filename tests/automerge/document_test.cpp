#include <automerge/document.h>
#include <gtest/gtest.h>

#include "scenario.h"

#include <string>
#include <vector>

namespace {

using automerge::ActorId;
using automerge::Document;
using automerge::ObjId;
using automerge::ObjType;
using automerge::Value;

std::vector<std::uint8_t> from_hex(std::string_view hex) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return out;
}

ActorId actor(std::string_view hex) { return *ActorId::from_hex(hex); }

TEST(Document, PutGetKeysAndTransaction) {
    Document doc(actor("aa"));
    ASSERT_TRUE(doc.put(ObjId::root(), "b", Value::str("x")));
    auto child = doc.put_object(ObjId::root(), "a", ObjType::map);
    ASSERT_TRUE(child);
    ASSERT_TRUE(doc.put(*child, "flag", Value::boolean(true)));
    EXPECT_EQ(doc.pending_ops(), 3u);
    EXPECT_EQ(*doc.keys(ObjId::root()), (std::vector<std::string>{"a", "b"}));
    auto got = doc.get(ObjId::root(), "a");
    ASSERT_TRUE(got && *got);
    EXPECT_EQ((*got)->object, ObjType::map);
    EXPECT_EQ((*got)->id, *child);
    EXPECT_EQ(*doc.object_type(*child), ObjType::map);
    ASSERT_TRUE(doc.commit({.message = {}, .time = 1}));
    EXPECT_FALSE(doc.commit());  // nothing pending

    ASSERT_TRUE(doc.put(ObjId::root(), "b", Value::str("y")));
    ASSERT_TRUE(doc.put(ObjId::root(), "c", Value::int64(3)));
    EXPECT_EQ(doc.rollback(), 2u);
    EXPECT_EQ((*doc.get(ObjId::root(), "b"))->value, Value::str("x"));
    EXPECT_FALSE(*doc.get(ObjId::root(), "c"));
    EXPECT_EQ(doc.change_count(), 1u);
}

TEST(Document, RefusesBadWrites) {
    Document doc;
    EXPECT_EQ(doc.put(ObjId::root(), "k", Value::str("\xff")).error().kind, automerge::ErrorKind::invalid_utf8);
    EXPECT_EQ(doc.put(ObjId::root(), "\xc0\x80", Value::int64(1)).error().kind, automerge::ErrorKind::invalid_utf8);
    EXPECT_EQ(doc.put(ObjId(7, 0), "k", Value::int64(1)).error().kind, automerge::ErrorKind::invalid_argument);
    EXPECT_EQ(doc.pending_ops(), 0u);
}

// Two replicas write the same key concurrently: after a merge both values
// are kept in Lamport order (the greater actor wins a tie of counters), the
// merge is symmetric, and a later write replaces both.
TEST(Document, MergeKeepsConcurrentValuesInOrder) {
    Document a(actor("aa"));
    auto history = a.put_object(ObjId::root(), "history", ObjType::map);
    ASSERT_TRUE(history);
    a.commit({.message = {}, .time = 1});
    Document b = a.fork(actor("bb"));
    ASSERT_TRUE(a.put(*history, "video", Value::str("from a")));
    a.commit({.message = {}, .time = 2});
    ASSERT_TRUE(b.put(*history, "video", Value::str("from b")));
    ASSERT_TRUE(b.put(*history, "only_b", Value::uint64(7)));
    b.commit({.message = {}, .time = 3});

    Document a2 = a.clone();
    ASSERT_TRUE(a.merge(b));
    ASSERT_TRUE(b.merge(a2));
    for (Document* doc : {&a, &b}) {
        auto all = doc->get_all(*history, "video");
        ASSERT_TRUE(all);
        ASSERT_EQ(all->size(), 2u);
        EXPECT_EQ((*all)[0].value, Value::str("from a"));
        EXPECT_EQ((*all)[1].value, Value::str("from b"));
        EXPECT_EQ((*doc->get(*history, "video"))->value, Value::str("from b"));
        EXPECT_EQ(*doc->keys(*history), (std::vector<std::string>{"only_b", "video"}));
    }
    EXPECT_EQ(a.heads(), b.heads());
    EXPECT_EQ(a.heads().size(), 2u);
    // Like the official writer, each side saves its changes in the order it
    // applied them, so the two documents differ in bytes but not in content.
    EXPECT_EQ(a.change_count(), b.change_count());

    ASSERT_TRUE(a.put(*history, "video", Value::str("resolved")));
    a.commit({.message = {}, .time = 4});
    EXPECT_EQ(a.get_all(*history, "video")->size(), 1u);
    EXPECT_EQ(a.heads().size(), 1u);

    // The same history through change chunks, and through save and load.
    Document c(actor("cc"));
    for (const auto& chunk : a.changes()) ASSERT_TRUE(c.apply(chunk));
    EXPECT_EQ(c.heads(), a.heads());
    auto loaded = Document::load(a.save());
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->heads(), a.heads());
    EXPECT_EQ(loaded->save(), a.save());
    // Only what the other side lacks.
    auto heads_before = b.heads();
    EXPECT_EQ(a.changes(heads_before).size(), 1u);
}

TEST(Document, RollbackDropsCreatedObjectsAndActorCanChange) {
    Document doc(actor("01"));
    auto m = doc.put_object(ObjId::root(), "m", ObjType::map);
    ASSERT_TRUE(m);
    ASSERT_TRUE(doc.put(*m, "k", Value::boolean(true)));
    EXPECT_EQ(doc.rollback(), 2u);
    EXPECT_FALSE(doc.object_type(*m));
    EXPECT_TRUE(doc.keys(ObjId::root())->empty());
    EXPECT_TRUE(doc.heads().empty());
    // An empty document still saves and loads.
    auto empty = Document::load(doc.save());
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->keys(ObjId::root())->empty());

    ASSERT_TRUE(doc.put(ObjId::root(), "x", Value::int64(1)));
    doc.set_actor_id(actor("02"));  // commits the pending write as actor 01
    ASSERT_TRUE(doc.put(ObjId::root(), "x", Value::int64(2)));
    doc.commit({.message = {}, .time = 9});
    EXPECT_EQ(doc.change_count(), 2u);
    auto item = doc.get(ObjId::root(), "x");
    ASSERT_TRUE(item && *item);
    EXPECT_EQ(doc.id_text((*item)->id), "2@02");
    EXPECT_EQ(*doc.parse_id("2@02"), (*item)->id);
}

// Bytes written by the official package for the same actor, times and
// operations: {a: 1, b: "hi", m: {x: true}} at 1000, then a = 2 and b
// deleted at 64 with a message.
TEST(Document, SaveMatchesOfficialBytes) {
    const std::string official_doc =
        "856f4a833c567c9800b30101100102030405060708090a0b0c0d0e0f100185d2918af64beae3956ef8ccc6d00c644ab7fda75423"
        "5b0b53712d9c32df1661080102030213032305350a4003430256020c01040204150a210223063401420556065704800106810102"
        "830103020002017e04027ee807d87800017f067365636f6e647e00017f00020700047f0000047f030201617d0162016d01780500"
        "7d01047d02010503017e000102147d260002010268697d010001020002007e050101";
    Document doc(actor("0102030405060708090a0b0c0d0e0f10"));
    ASSERT_TRUE(doc.put(ObjId::root(), "a", Value::int64(1)));
    ASSERT_TRUE(doc.put(ObjId::root(), "b", Value::str("hi")));
    auto m = doc.put_object(ObjId::root(), "m", ObjType::map);
    ASSERT_TRUE(m);
    ASSERT_TRUE(doc.put(*m, "x", Value::boolean(true)));
    doc.commit({.message = {}, .time = 1000});
    ASSERT_TRUE(doc.put(ObjId::root(), "a", Value::int64(2)));
    ASSERT_TRUE(doc.delete_key(ObjId::root(), "b"));
    doc.commit({.message = "second", .time = 64});
    EXPECT_EQ(doc.save(), from_hex(official_doc));

    auto loaded = Document::load(from_hex(official_doc));
    ASSERT_TRUE(loaded) << loaded.error().message;
    EXPECT_EQ(*loaded->keys(ObjId::root()), (std::vector<std::string>{"a", "m"}));
    EXPECT_EQ((*loaded->get(ObjId::root(), "a"))->value, Value::int64(2));
    EXPECT_EQ(loaded->heads(), doc.heads());
    EXPECT_EQ(loaded->save(), from_hex(official_doc));
}

// A commit with an empty message and one without a message make the same
// change (change chunks write both as a zero length, so the hashes agree), but
// a saved document keeps them apart, as the official package writes them.
TEST(Document, EmptyMessageIsKeptApartFromNoMessage) {
    // The official package's saves of {a: 1} committed at 5 by actor aa, with
    // the message "" and without one.
    const auto official_empty = from_hex(
        "856f4a8354cde95500630101aa01cdbe9afb8bb9c9da69295f6fa7ed0e50b1599d938d28ad12cb27aee8aa830ca507010203021302"
        "23023502400256020815032102230234014202560257018001027f007f017f017f057f007f007f077f01617f007f01017f017f1401"
        "7f0000");
    const auto official_none = from_hex(
        "856f4a83ac8821f4005f0101aa01cdbe9afb8bb9c9da69295f6fa7ed0e50b1599d938d28ad12cb27aee8aa830ca506010203021302"
        "2302400256020815032102230234014202560257018001027f007f017f017f057f007f077f01617f007f01017f017f14017f0000");
    auto commit_with = [](std::optional<std::string> message) {
        Document doc(actor("aa"));
        EXPECT_TRUE(doc.put(ObjId::root(), "a", Value::int64(1)));
        doc.commit({.message = std::move(message), .time = 5});
        return doc;
    };
    Document empty = commit_with("");
    Document none = commit_with(std::nullopt);
    EXPECT_EQ(empty.save(), official_empty);
    EXPECT_EQ(none.save(), official_none);
    EXPECT_EQ(empty.heads(), none.heads());
    EXPECT_EQ(empty.changes(), none.changes());

    for (const auto* bytes : {&official_empty, &official_none}) {
        auto loaded = Document::load(*bytes);
        ASSERT_TRUE(loaded) << loaded.error().message;
        EXPECT_EQ(loaded->save(), *bytes) << "a load and save keeps the message as it was";
    }
    // From change chunks the two cannot be told apart: no message, as in the
    // official package.
    auto from_changes = Document::load(empty.changes().front());
    ASSERT_TRUE(from_changes);
    EXPECT_EQ(from_changes->save(), official_none);
}

// Like the official writer, a put of the value a key already holds writes
// nothing: a counter compares by its current value (increments included),
// floats by number (-0 equals 0), and other types never equal each other.
TEST(Document, PutOfTheCurrentValueWritesNothing) {
    auto doc = Document::load(automerge_test::read_file(automerge_test::source_dir() / "fixtures" / "rich_counter.automerge"));
    ASSERT_TRUE(doc) << doc.error().message;
    auto n = doc->get(ObjId::root(), "n");
    ASSERT_TRUE(n && *n);
    const std::int64_t current = *(*n)->value.as_counter();
    EXPECT_NE(current, 10);  // incremented since it was set to 10
    struct Row {
        const char* key;
        Value value;
        std::size_t pending;
    };
    ASSERT_TRUE(doc->put(ObjId::root(), "f", Value::f64(0.0)));
    ASSERT_TRUE(doc->put(ObjId::root(), "i", Value::int64(1)));
    doc->commit({.message = {}, .time = 9});
    const Row rows[] = {
        {"n", Value::counter(current), 0}, {"n", Value::counter(10), 1}, {"n", Value::int64(current), 1},
        {"f", Value::f64(-0.0), 0},        {"i", Value::uint64(1), 1},
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(doc->put(ObjId::root(), row.key, row.value));
        EXPECT_EQ(doc->pending_ops(), row.pending) << row.key << " " << row.value.debug_text();
        doc->rollback();
    }
}

}  // namespace
