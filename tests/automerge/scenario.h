// Test support: plays the JSON scenarios shared with the Node harness on our
// engine, and dumps documents in the harness's dump format.
#pragma once

#include <automerge/document.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace automerge_test {

// Plays one scenario; answers the result document, or a failure text.
std::expected<automerge::Document, std::string> play(const nlohmann::json& scenario);

// The harness's dump of a document: heads and every object, with all
// concurrent values in order.
nlohmann::json dump(automerge::Document& doc);

std::vector<std::uint8_t> read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);
std::vector<std::uint8_t> concat(const std::vector<std::vector<std::uint8_t>>& chunks);

// A document chunk with every DEFLATE-compressed column inflated and its
// checksum cleared, so that two writers' documents compare by content; other
// input comes back unchanged.
std::vector<std::uint8_t> inflate_columns(std::span<const std::uint8_t> chunk);

// Whether two saved documents are the same bytes, or differ only in how
// their compressed columns were compressed (`deflate_only` then set).
struct SameDocument {
    bool same = false;
    bool deflate_only = false;
};
SameDocument compare_documents(std::span<const std::uint8_t> ours, std::span<const std::uint8_t> theirs);

// Directory of the committed scenarios and fixtures.
std::filesystem::path source_dir();

// Runs a command line; answers its exit status and output.
struct RunResult {
    int status = -1;
    std::string output;
};
RunResult run(const std::string& command);

}  // namespace automerge_test
