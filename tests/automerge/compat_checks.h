// Checks shared by the fixture tests and the live tests against the official
// package: a directory of documents written by the official package (by
// node/harness.mjs build) is compared with our engine.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "scenario.h"

namespace automerge_test {

// Saved documents must be byte-identical, compressed columns included. On a
// difference, say whether only the DEFLATE streams differ.
inline void expect_same_document(std::span<const std::uint8_t> ours, std::span<const std::uint8_t> theirs,
                                 const char* what) {
    SameDocument same = compare_documents(ours, theirs);
    EXPECT_TRUE(same.same && !same.deflate_only)
        << what << (same.same ? " differs only in its DEFLATE streams" : " differs in content");
}

inline nlohmann::json load_json(const std::filesystem::path& p) {
    auto bytes = read_file(p);
    return nlohmann::json::parse(std::string(bytes.begin(), bytes.end()));
}

// Every official document (and its change chunks) loads in ours with the same
// values, conflict order, key order and heads, and is written back unchanged.
inline void check_official_dir(const std::filesystem::path& dir, int& checked) {
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".automerge") continue;
        const std::string name = entry.path().stem().string();
        SCOPED_TRACE(name);
        ++checked;
        const auto saved = read_file(entry.path());
        const auto changes = read_file(dir / (name + ".changes"));
        const auto expected = load_json(dir / (name + ".json"));

        auto doc = automerge::Document::load(saved);
        ASSERT_TRUE(doc) << doc.error().message;
        EXPECT_EQ(dump(*doc), expected);
        expect_same_document(doc->save(), saved, "document written back");
        EXPECT_EQ(concat(doc->changes()), changes) << "change chunks differ";

        auto from_changes = automerge::Document::load(changes);
        ASSERT_TRUE(from_changes) << from_changes.error().message;
        EXPECT_EQ(dump(*from_changes), expected);
        expect_same_document(from_changes->save(), saved, "document saved from change chunks");
    }
}

// Scenarios our writer can play produce the official bytes.
inline void check_replay(const std::filesystem::path& scenarios, const std::filesystem::path& dir, int& checked) {
    for (const auto& scenario : load_json(scenarios)) {
        const std::string name = scenario["name"];
        if (!std::filesystem::exists(dir / (name + ".automerge"))) continue;
        SCOPED_TRACE(name);
        ++checked;
        auto doc = play(scenario);
        ASSERT_TRUE(doc) << doc.error();
        EXPECT_EQ(dump(*doc), load_json(dir / (name + ".json")));
        EXPECT_EQ(concat(doc->changes()), read_file(dir / (name + ".changes"))) << "change chunks differ";
        expect_same_document(doc->save(), read_file(dir / (name + ".automerge")), "saved document");
    }
}

}  // namespace automerge_test
