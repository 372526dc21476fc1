// The search catalog (results indexed by n-gram and token postings behind a
// read-write lock) and the provider interface the action surfaces query.
// Any thread may query a catalog; writers take its write lock.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "vorn_ui/control.h"

namespace vorn_ui::search {

struct SearchResult {
  std::string title;
  std::string section;  // group label
  std::string action;   // U+0001 "action" and an encoded action address
  std::optional<std::string> subtitle;
  std::optional<std::uint16_t> icon;  // icon number

  // The action text for an address.
  static std::string action_text(const ActionAddress& address);
  // Parses `action` back into an address; nothing when it is not an action text.
  std::optional<ActionAddress> action_address() const;
  friend bool operator==(const SearchResult&, const SearchResult&) = default;
};

// Lower-cases (Unicode case folding), splits accented letters and ligatures
// and drops the accents, turns every run of characters that are neither
// letters nor digits into one space, and trims.
std::string normalize_search_text(std::string_view text);
// Hashes of the character trigrams of each word of a normalized text (words
// shorter than three characters give one gram of the whole word); unique, sorted.
std::vector<std::uint32_t> index_grams(std::string_view normalized);
// The words of a normalized text; unique, in first-seen order.
std::vector<std::string> index_tokens(std::string_view normalized);

struct SearchCursor {
  std::string query;
  std::size_t offset = 0;
  std::uint64_t generation = 0;
};

struct SearchPage {
  std::vector<SearchResult> results;
  std::optional<SearchCursor> next;  // present when more results follow
};

struct CatalogStats {
  std::size_t entries = 0;
  std::size_t grams = 0;   // distinct grams with postings
  std::size_t tokens = 0;  // distinct tokens with postings
  std::uint64_t generation = 0;
};

class SearchCatalog {
 public:
  explicit SearchCatalog(std::string name);
  static std::shared_ptr<SearchCatalog> make(std::string name) { return std::make_shared<SearchCatalog>(std::move(name)); }

  const std::shared_ptr<const std::string>& name() const { return m_name; }

  // Stores `result` under `key`, indexed by the already built postings;
  // replaces (and unindexes) an entry under the same key.
  void insert_indexed(const std::string& key, SearchResult result, std::vector<std::uint32_t> grams,
                      std::vector<std::string> tokens);
  // normalize_search_text, index_grams, index_tokens, then insert_indexed.
  void upsert(const std::string& key, std::string_view search_text, SearchResult result);
  bool remove(const std::string& key);
  std::optional<SearchResult> get(const std::string& key) const;

  // Results whose words start with every query word (or contain it, for
  // words of three or more characters), best first, at most `limit`.
  std::vector<SearchResult> search_limited(std::string_view query, std::size_t limit) const;
  // One page of a query; a cursor from an older generation starts over.
  SearchPage query_page(std::string_view query, const std::optional<SearchCursor>& cursor, std::size_t page_size) const;
  // Whether results were not added or removed since the cursor was made.
  bool cursor_is_current(const SearchCursor& cursor) const;
  CatalogStats stats() const;

 private:
  struct Entry {
    SearchResult result;
    std::vector<std::uint32_t> grams;
    std::vector<std::string> tokens;
    std::uint64_t order = 0;
  };
  void remove_postings(const std::string& key, const Entry& entry);
  std::vector<std::pair<const std::string*, const Entry*>> ranked(std::string_view query) const;

  std::shared_ptr<const std::string> m_name;
  mutable std::shared_mutex m_mutex;  // guards everything below
  std::unordered_map<std::string, Entry> m_entries;
  std::unordered_map<std::uint32_t, std::unordered_set<std::string>> m_gram_postings;
  std::map<std::string, std::unordered_set<std::string>, std::less<>> m_token_postings;
  std::uint64_t m_generation = 0;
  std::uint64_t m_next_order = 0;
};

// A source of search results for the action surfaces.
class SearchProvider {
 public:
  virtual ~SearchProvider() = default;
  virtual std::string name() const = 0;
  virtual std::vector<SearchResult> search(std::string_view query) const = 0;
  virtual std::vector<SearchResult> search_limited(std::string_view query, std::size_t limit) const = 0;
  virtual SearchPage query_page(std::string_view query, const std::optional<SearchCursor>& cursor,
                                std::size_t page_size) const = 0;
  virtual bool cursor_is_current(const SearchCursor& cursor) const = 0;
  // A figure describing the provider's size (what it counts is the provider's).
  virtual std::optional<std::uint64_t> stats() const { return std::nullopt; }
  virtual std::optional<std::string> description() const { return std::nullopt; }
  virtual std::optional<std::uint16_t> icon() const { return std::nullopt; }
};

}  // namespace vorn_ui::search
