#pragma once
// What the two per-frame projections last read and last left in the Library:
// the shared document's projection (likes, comment likes, subscriptions and
// their removals, queue, settings) and the owner-local history's (the watch-history list).
// A projection whose inputs are all as they were would find nothing to
// replace, so the frame skips reading the document when
//   - the document holds the committed content it read (the same heads, and
//     no write pending: a pending write shows in reads, not in the heads);
//   - what the projection reads from the Library besides the document is as
//     it was (the ids and order of the videos, by which likes are filtered);
//   - what it writes still holds what it left there (a local change made
//     since, such as the at-once effect of a like that the document then
//     refused, is put right by the next projection, as without the memo).
// A new input of a projection belongs here too.
//
// Interface thread only.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "automerge/document.h"
#include "sarn/model/library.h"

namespace sarn {

// The committed content of a document, known by its heads.
class DocumentMark {
public:
    // Whether the document holds what it held when marked; never while a
    // write is pending, nor before a mark.
    bool matches(automerge::Document& document) const;
    // Heads are only taken with nothing pending, so that taking them commits
    // nothing; with a write pending the mark is cleared.
    void mark(automerge::Document& document);
    void clear() { m_heads.reset(); }

private:
    std::optional<std::vector<automerge::ChangeHash>> m_heads;
};

class SharedProjectionMemo {
public:
    // True when projecting the document into the Library would change nothing.
    bool current(automerge::Document& document, const Library& library) const;
    // After a projection: its inputs and what it left.
    void remember(automerge::Document& document, const Library& library);
    void forget() { m_document.clear(); }

private:
    DocumentMark m_document;
    std::vector<std::string> m_video_ids;
    std::vector<std::string> m_likes;
    std::map<std::string, bool, std::less<>> m_comment_likes;
    std::vector<std::string> m_subscriptions;
    std::vector<std::string> m_subscription_removals;
    std::vector<std::string> m_queue;
    PlaybackSettings m_settings;
};

// The liked list is filtered by the videos the Library holds, the catalogue's
// and the kept records', which change without the document changing.
class LikesProjectionMemo {
public:
    // True unless the liked list was projected from the Library as it is now.
    bool stale(const Library& library) const;
    void remember(const Library& library);
    void forget() { m_valid = false; }

private:
    bool m_valid = false;
    std::vector<std::string> m_video_ids;
    std::vector<std::string> m_kept_ids;
    std::vector<std::string> m_likes;
};

class HistoryProjectionMemo {
public:
    bool current(automerge::Document& document, const Library& library) const;
    void remember(automerge::Document& document, const Library& library);
    void forget() { m_document.clear(); }

private:
    DocumentMark m_document;
    std::vector<std::string> m_history;
};

}  // namespace sarn
