// Feeds arbitrary bytes to the text-facing parsers of the interface runtime:
// action addresses, search normalization and indexing, catalog queries.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "vorn_ui/control.h"
#include "vorn_ui/search.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto a = vorn_ui::decode_address(text)) {
    auto again = vorn_ui::decode_address(vorn_ui::encode_address(*a));
    if (!again || !(*again == *a)) __builtin_trap();
  }
  const std::string normalized = vorn_ui::search::normalize_search_text(text);
  (void)vorn_ui::search::index_grams(normalized);
  (void)vorn_ui::search::index_tokens(normalized);
  static vorn_ui::search::SearchCatalog catalog("fuzz");
  if (catalog.stats().entries < 64) {
    vorn_ui::search::SearchResult r{std::string(text.substr(0, 40)), "Videos",
                                    vorn_ui::search::SearchResult::action_text({"k", "open"}), std::nullopt, std::nullopt};
    catalog.upsert("k" + std::to_string(size % 97), text, r);
  }
  (void)catalog.search_limited(text, 16);
  (void)catalog.query_page(text, std::nullopt, 4);
  return 0;
}
