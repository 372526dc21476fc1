#include "vorn_ui/search.h"

#include "fnv1a.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/uscript.h>

#include <algorithm>
#include <mutex>

namespace vorn_ui::search {
namespace {

constexpr std::string_view kActionPrefix = "\x01" "action";

using detail::fnv1a;

// Byte offsets of the code points of a UTF-8 word (plus its end).
std::vector<std::size_t> code_point_offsets(std::string_view word) {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < word.size(); ++i)
    if ((static_cast<unsigned char>(word[i]) & 0xC0) != 0x80) out.push_back(i);
  out.push_back(word.size());
  return out;
}

std::vector<std::string_view> words(std::string_view normalized) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  while (start < normalized.size()) {
    std::size_t end = normalized.find(' ', start);
    if (end == std::string_view::npos) end = normalized.size();
    if (end > start) out.push_back(normalized.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

void word_grams(std::string_view word, std::vector<std::uint32_t>& out) {
  auto cps = code_point_offsets(word);
  const std::size_t n = cps.size() - 1;
  if (n < 3) {
    out.push_back(fnv1a(word));
    return;
  }
  for (std::size_t i = 0; i + 3 <= n; ++i) out.push_back(fnv1a(word.substr(cps[i], cps[i + 3] - cps[i])));
}

}  // namespace

std::string SearchResult::action_text(const ActionAddress& address) {
  return std::string(kActionPrefix) + encode_address(address);
}

std::optional<ActionAddress> SearchResult::action_address() const {
  if (!std::string_view(action).starts_with(kActionPrefix)) return std::nullopt;
  return decode_address(std::string_view(action).substr(kActionPrefix.size()));
}

std::string normalize_search_text(std::string_view text) {
  icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  u.foldCase();
  // Compatibility decomposition splits accented letters and ligatures, so
  // that "Pokémon" is found by "pokemon" and "ﬁle" by "file".
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfkd = icu::Normalizer2::getNFKDInstance(status);
  if (U_SUCCESS(status) && nfkd) {
    icu::UnicodeString decomposed = nfkd->normalize(u, status);
    if (U_SUCCESS(status)) u = std::move(decomposed);
  }
  icu::UnicodeString cleaned;
  bool pending_space = false;
  bool after_alphabet = false;  // the last base letter was Latin, Greek or Cyrillic
  for (int32_t i = 0; i < u.length();) {
    const UChar32 c = u.char32At(i);
    i += U16_LENGTH(c);
    if (u_charType(c) == U_NON_SPACING_MARK) {
      if (after_alphabet) continue;  // accents on alphabetic letters go; other scripts keep their marks
    } else {
      UErrorCode script_status = U_ZERO_ERROR;
      const UScriptCode script = uscript_getScript(c, &script_status);
      after_alphabet = script == USCRIPT_LATIN || script == USCRIPT_GREEK || script == USCRIPT_CYRILLIC;
    }
    if (u_isalnum(c) || (u_getIntPropertyValue(c, UCHAR_GENERAL_CATEGORY_MASK) & U_GC_M_MASK) != 0) {
      if (pending_space && cleaned.length() > 0) cleaned.append(static_cast<UChar>(' '));
      pending_space = false;
      cleaned.append(c);
    } else {
      pending_space = true;
    }
  }
  std::string out;
  cleaned.toUTF8String(out);
  return out;
}

std::vector<std::uint32_t> index_grams(std::string_view normalized) {
  std::vector<std::uint32_t> out;
  for (std::string_view w : words(normalized)) word_grams(w, out);
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

std::vector<std::string> index_tokens(std::string_view normalized) {
  std::vector<std::string> out;
  std::unordered_set<std::string_view> seen;
  for (std::string_view w : words(normalized))
    if (seen.insert(w).second) out.emplace_back(w);
  return out;
}

SearchCatalog::SearchCatalog(std::string name) : m_name(std::make_shared<const std::string>(std::move(name))) {}

void SearchCatalog::remove_postings(const std::string& key, const Entry& entry) {
  for (std::uint32_t g : entry.grams) {
    auto it = m_gram_postings.find(g);
    if (it == m_gram_postings.end()) continue;
    it->second.erase(key);
    if (it->second.empty()) m_gram_postings.erase(it);
  }
  for (const std::string& t : entry.tokens) {
    auto it = m_token_postings.find(t);
    if (it == m_token_postings.end()) continue;
    it->second.erase(key);
    if (it->second.empty()) m_token_postings.erase(it);
  }
}

void SearchCatalog::insert_indexed(const std::string& key, SearchResult result, std::vector<std::uint32_t> grams,
                                   std::vector<std::string> tokens) {
  std::unique_lock lock(m_mutex);
  auto existing = m_entries.find(key);
  std::uint64_t order = m_next_order++;
  if (existing != m_entries.end()) {
    remove_postings(key, existing->second);
    m_entries.erase(existing);
  }
  for (std::uint32_t g : grams) m_gram_postings[g].insert(key);
  for (const std::string& t : tokens) m_token_postings[t].insert(key);
  m_entries[key] = Entry{std::move(result), std::move(grams), std::move(tokens), order};
  ++m_generation;
}

void SearchCatalog::upsert(const std::string& key, std::string_view search_text, SearchResult result) {
  const std::string normalized = normalize_search_text(search_text);
  insert_indexed(key, std::move(result), index_grams(normalized), index_tokens(normalized));
}

bool SearchCatalog::remove(const std::string& key) {
  std::unique_lock lock(m_mutex);
  auto it = m_entries.find(key);
  if (it == m_entries.end()) return false;
  remove_postings(key, it->second);
  m_entries.erase(it);
  ++m_generation;
  return true;
}

std::optional<SearchResult> SearchCatalog::get(const std::string& key) const {
  std::shared_lock lock(m_mutex);
  auto it = m_entries.find(key);
  if (it == m_entries.end()) return std::nullopt;
  return it->second.result;
}

// Caller holds the lock (shared).
std::vector<std::pair<const std::string*, const SearchCatalog::Entry*>> SearchCatalog::ranked(
    std::string_view query) const {
  std::vector<std::pair<const std::string*, const Entry*>> out;
  const std::string q = normalize_search_text(query);
  const auto qwords = index_tokens(q);
  if (qwords.empty()) return out;

  // Per query word: the keys whose tokens start with it, or (three or more
  // characters) whose grams hold all of the word's grams.
  std::unordered_map<std::string, int> score;
  bool first = true;
  for (const std::string& w : qwords) {
    std::unordered_map<std::string, int> matched;
    for (auto it = m_token_postings.lower_bound(w); it != m_token_postings.end() && it->first.starts_with(w); ++it) {
      const int points = it->first == w ? 3 : 2;
      for (const std::string& key : it->second) matched[key] = std::max(matched[key], points);
    }
    if (code_point_offsets(w).size() - 1 >= 3) {
      std::vector<std::uint32_t> grams;
      word_grams(w, grams);
      std::sort(grams.begin(), grams.end());
      grams.erase(std::unique(grams.begin(), grams.end()), grams.end());
      const std::unordered_set<std::string>* smallest = nullptr;
      for (std::uint32_t g : grams) {
        auto it = m_gram_postings.find(g);
        if (it == m_gram_postings.end()) {
          smallest = nullptr;
          break;
        }
        if (!smallest || it->second.size() < smallest->size()) smallest = &it->second;
      }
      if (smallest) {
        for (const std::string& key : *smallest) {
          const Entry& e = m_entries.at(key);
          const bool all = std::all_of(grams.begin(), grams.end(),
                                       [&](std::uint32_t g) { return std::binary_search(e.grams.begin(), e.grams.end(), g); });
          if (all) matched.try_emplace(key, 1);
        }
      }
    }
    if (first) {
      score = std::move(matched);
      first = false;
    } else {
      std::unordered_map<std::string, int> both;
      for (auto& [key, s] : score) {
        auto it = matched.find(key);
        if (it != matched.end()) both[key] = s + it->second;
      }
      score = std::move(both);
    }
    if (score.empty()) return out;
  }
  for (auto& [key, s] : score) {
    auto it = m_entries.find(key);
    if (it == m_entries.end()) continue;
    // A title that starts with the query ranks first.
    if (normalize_search_text(it->second.result.title).starts_with(q)) s += 10;
    out.emplace_back(&it->first, &it->second);
  }
  std::sort(out.begin(), out.end(), [&](const auto& a, const auto& b) {
    const int sa = score.at(*a.first), sb = score.at(*b.first);
    if (sa != sb) return sa > sb;
    return a.second->order < b.second->order;
  });
  return out;
}

std::vector<SearchResult> SearchCatalog::search_limited(std::string_view query, std::size_t limit) const {
  std::shared_lock lock(m_mutex);
  auto hits = ranked(query);
  std::vector<SearchResult> out;
  for (std::size_t i = 0; i < hits.size() && i < limit; ++i) out.push_back(hits[i].second->result);
  return out;
}

SearchPage SearchCatalog::query_page(std::string_view query, const std::optional<SearchCursor>& cursor,
                                     std::size_t page_size) const {
  std::shared_lock lock(m_mutex);
  std::size_t offset = 0;
  if (cursor && cursor->generation == m_generation && cursor->query == query) offset = cursor->offset;
  auto hits = ranked(query);
  SearchPage page;
  const std::size_t size = std::max<std::size_t>(page_size, 1);
  for (std::size_t i = offset; i < hits.size() && i < offset + size; ++i) page.results.push_back(hits[i].second->result);
  if (offset + size < hits.size()) page.next = SearchCursor{std::string(query), offset + size, m_generation};
  return page;
}

bool SearchCatalog::cursor_is_current(const SearchCursor& cursor) const {
  std::shared_lock lock(m_mutex);
  return cursor.generation == m_generation;
}

CatalogStats SearchCatalog::stats() const {
  std::shared_lock lock(m_mutex);
  return {m_entries.size(), m_gram_postings.size(), m_token_postings.size(), m_generation};
}

}  // namespace vorn_ui::search
