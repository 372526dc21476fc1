// A Library answering catalogue queries from its own records: the offline
// sample catalogue, or the user's current library for the action palette.
//
// Threads: the thread that owns the Library (for a borrowed one, the
// interface thread), one call at a time.
#pragma once

#include <cstddef>
#include <limits>
#include <memory>

#include "sarn/backend/catalog_backend.h"
#include "sarn/model/library.h"

namespace sarn {

class LibraryBackend final : public CatalogBackend {
public:
    // Borrows the library; it must outlive the backend.
    explicit LibraryBackend(const Library& library) : m_library(&library) {}
    // Owns its own copy, e.g. LibraryBackend::owning(Library::sample()).
    static LibraryBackend owning(Library library);
    // A search answers at most `limit` videos, the first ones.
    LibraryBackend with_search_limit(std::size_t limit) && {
        m_search_limit = limit;
        return std::move(*this);
    }

    const Library& library() const { return *m_library; }

    std::string_view name() const override { return "offline sample"; }
    CatalogResult<CatalogPage> search(std::string_view query) override;
    CatalogResult<CatalogPage> video(std::string_view id) override;
    CatalogResult<CatalogPage> channel(std::string_view id) override;
    CatalogResult<CatalogPage> related(std::string_view id) override;
    CatalogResult<CatalogPage> trending() override;

private:
    LibraryBackend(std::unique_ptr<Library> owned) : m_owned(std::move(owned)), m_library(m_owned.get()) {}

    std::unique_ptr<Library> m_owned;
    const Library* m_library;
    std::size_t m_search_limit = std::numeric_limits<std::size_t>::max();
};

}  // namespace sarn
