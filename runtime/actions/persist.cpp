#include "vorn_ui/persist.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/file.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include <fmt/format.h>

#include "atomic_file/atomic_file.h"
#include "ordered_writer/ordered_writer.h"
#include "platform_dirs/dirs.h"
#include "vorn_ui/action_host.h"
#include "vorn_log/log.h"

namespace vorn_ui::persist {

namespace {

constexpr const char* kTarget = "vorn_ui::persist";

std::string errno_text(int error) { return std::error_code(error, std::generic_category()).message(); }

// Reads the whole file: a regular file of bounded size, opened without
// following a link and without blocking on a FIFO.
std::expected<std::string, std::string> read_document_file(const std::filesystem::path& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::unexpected(errno_text(errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0) return std::unexpected(errno_text(errno));
  if (!S_ISREG(info.st_mode)) return std::unexpected(std::string("not a regular file"));
  if (static_cast<std::uint64_t>(info.st_size) > kMaxDocumentBytes) {
    return std::unexpected(std::string("file exceeds the size limit"));
  }
  std::string bytes(static_cast<std::size_t>(info.st_size) + 1, '\0');
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    ssize_t n = ::read(fd, bytes.data() + filled, bytes.size() - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::unexpected(errno_text(errno));
    if (n == 0) break;
    filled += static_cast<std::size_t>(n);
    if (filled > kMaxDocumentBytes) return std::unexpected(std::string("file exceeds the size limit"));
    if (filled == bytes.size()) bytes.resize(std::min(bytes.size() * 2, kMaxDocumentBytes + 1));
  }
  bytes.resize(filled);
  return bytes;
}

// An exclusive advisory lock on a file beside the document, held while the
// file is read, merged and replaced, so that two instances saving at once
// cannot drop each other's changes. Released when closed.
class SaveLock {
 public:
  static std::expected<SaveLock, std::string> acquire(const std::filesystem::path& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0) return std::unexpected(fmt::format("{}: {}", path.string(), errno_text(errno)));
    SaveLock lock(fd);
    // Another instance holds the lock only while it saves; wait that long,
    // but never hang the interface on a holder that does not let go.
    const auto give_up = std::chrono::steady_clock::now() + kSaveLockWait;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) {
        return std::unexpected(fmt::format("{}: {}", path.string(), errno_text(errno)));
      }
      if (std::chrono::steady_clock::now() >= give_up) {
        return std::unexpected(std::string("another instance is still saving the shared document"));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return lock;
  }
  SaveLock(SaveLock&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
  SaveLock& operator=(SaveLock&&) = delete;
  ~SaveLock() {
    if (m_fd >= 0) ::close(m_fd);
  }

 private:
  static constexpr std::chrono::seconds kSaveLockWait{5};
  explicit SaveLock(int fd) : m_fd(fd) {}
  int m_fd = -1;
};

// Merges the file at `path` into `document` (nothing when it is missing).
std::expected<void, PersistError> merge_file_on_disk(const std::filesystem::path& path,
                                                     automerge::Document& document) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) return {};
    return std::unexpected(PersistError{fmt::format("{}: {}", path.string(), errno_text(errno))});
  }
  // A file that no longer reads or loads is kept as it is, and so is ours
  // until it does.
  auto bytes = read_document_file(path);
  if (!bytes) {
    return std::unexpected(PersistError{
        fmt::format("the shared document on disk could not be read; it is kept and not replaced: {}", bytes.error())});
  }
  auto on_disk = automerge::Document::load(*bytes);
  if (!on_disk) {
    return std::unexpected(PersistError{fmt::format(
        "the shared document on disk does not load; it is kept and not replaced: {}", on_disk.error().message)});
  }
  if (auto merged = document.merge(*on_disk); !merged) {
    return std::unexpected(PersistError{
        fmt::format("the shared document on disk could not be merged; it is kept and not replaced: {}",
                    merged.error().message)});
  }
  return {};
}

// Under the lock beside the file: what another instance on the same data
// folder saved since we last looked joins `document`, so that neither loses
// any changes, and the file is replaced by the result.
std::expected<void, PersistError> merge_and_replace(const std::filesystem::path& path,
                                                    automerge::Document& document) {
  const auto parent = path.parent_path();
  std::error_code error;
  std::filesystem::create_directories(parent, error);
  if (error) return std::unexpected(PersistError{fmt::format("{}: {}", parent.string(), error.message())});
  if (::chmod(parent.c_str(), 0700) != 0) {
    return std::unexpected(PersistError{fmt::format("{}: {}", parent.string(), errno_text(errno))});
  }
  auto lock = SaveLock::acquire(path.string() + ".lock");
  if (!lock) return std::unexpected(PersistError{lock.error()});
  if (auto merged = merge_file_on_disk(path, document); !merged) return merged;
  auto bytes = document.save();
  auto written = atomic_file::write_with_mode(
      path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), 0600);
  if (!written) return std::unexpected(PersistError{fmt::format("{}: {}", path.string(), written.error().message())});
  return {};
}

}  // namespace

// The writer thread and what its saves hand back: the newest merged copy
// that holds changes of other instances.
struct DocumentStore::BackgroundSaves {
  struct Merged {
    std::mutex mutex;
    std::optional<automerge::Document> document;
    std::function<void()> listener;
  };
  std::shared_ptr<Merged> merged = std::make_shared<Merged>();
  // Last: destroyed first, so that it waits for its jobs while the rest lives.
  ordered_writer::OrderedWriter writer;
};

DocumentStore::DocumentStore() = default;
DocumentStore::DocumentStore(DocumentStore&&) noexcept = default;
DocumentStore& DocumentStore::operator=(DocumentStore&&) noexcept = default;
DocumentStore::~DocumentStore() = default;

DocumentStore DocumentStore::in_memory() { return DocumentStore(); }

DocumentStore DocumentStore::open_at(std::filesystem::path path) {
  DocumentStore store;
  store.m_path = path;
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) return store;
    store.m_load_error = errno_text(errno);
  } else if (auto bytes = read_document_file(path); !bytes) {
    store.m_load_error = bytes.error();
  } else if (auto document = automerge::Document::load(*bytes); !document) {
    store.m_load_error = document.error().message;
  } else {
    store.m_document = std::move(*document);
    store.m_saved_heads = store.m_document.heads();
  }
  if (store.m_load_error) {
    vorn_log::warn(kTarget, "shared document could not be loaded; the file is kept and changes will not be saved",
                   {{"path", path.string()}, {"error", *store.m_load_error}});
  }
  return store;
}

std::expected<void, PersistError> DocumentStore::save_if_changed() {
  if (m_load_error) {
    return std::unexpected(PersistError{"shared document persistence is disabled: the existing file did not load"});
  }
  if (!m_path) return {};
  // The background saves land first; a failure among them is made good here.
  (void)finish_saves();
  if (m_document.heads() == m_saved_heads) return {};
  if (auto saved = merge_and_replace(*m_path, m_document); !saved) return saved;
  m_saved_heads = m_document.heads();
  return {};
}

std::expected<void, PersistError> DocumentStore::save_in_background() {
  if (m_load_error) {
    return std::unexpected(PersistError{"shared document persistence is disabled: the existing file did not load"});
  }
  if (!m_path) return {};
  auto earlier = absorb_background();
  auto heads = m_document.heads();
  if (heads == m_saved_heads) return earlier;
  if (!m_background) m_background = std::make_unique<BackgroundSaves>();
  auto bytes = m_document.save();
  if (m_merge_listener) {
    std::lock_guard lock(m_background->merged->mutex);
    m_background->merged->listener = m_merge_listener;
  }
  m_background->writer.submit(
      m_path->string(), [path = *m_path, bytes = std::move(bytes), merged = m_background->merged]()
                            -> std::expected<void, std::string> {
        auto copy = automerge::Document::load(bytes);
        if (!copy) return std::unexpected(fmt::format("{}: {}", path.string(), copy.error().message));
        const auto ours = copy->heads();
        if (auto saved = merge_and_replace(path, *copy); !saved) return std::unexpected(saved.error().message);
        if (copy->heads() != ours) {
          std::function<void()> listener;
          {
            std::lock_guard lock(merged->mutex);
            merged->document = std::move(*copy);
            listener = merged->listener;
          }
          if (listener) listener();
        }
        return {};
      });
  m_saved_heads = std::move(heads);
  return earlier;
}

std::expected<void, PersistError> DocumentStore::finish_saves() {
  if (m_background) m_background->writer.wait_idle();
  return absorb_background();
}

std::expected<void, PersistError> DocumentStore::take_background_results() { return absorb_background(); }

void DocumentStore::set_merge_listener(std::function<void()> listener) {
  m_merge_listener = std::move(listener);
  if (m_background) {
    std::lock_guard lock(m_background->merged->mutex);
    m_background->merged->listener = m_merge_listener;
  }
}

std::expected<void, PersistError> DocumentStore::absorb_background() {
  if (!m_background) return {};
  std::optional<automerge::Document> theirs;
  {
    std::lock_guard lock(m_background->merged->mutex);
    theirs = std::exchange(m_background->merged->document, std::nullopt);
  }
  if (theirs) {
    // Their changes are on disk already: merging them in moves our heads
    // without anything new of ours to save.
    const bool unsaved = m_document.heads() != m_saved_heads;
    if (auto joined = m_document.merge(*theirs); !joined) {
      vorn_log::warn(kTarget, "the other instances' changes could not be merged in",
                     {{"error", joined.error().message}});
    } else if (!unsaved) {
      m_saved_heads = m_document.heads();
    }
  }
  auto failures = m_background->writer.take_failures();
  if (failures.empty()) return {};
  m_saved_heads.clear();
  std::string text = failures.front();
  for (std::size_t i = 1; i < failures.size(); ++i) text += "; " + failures[i];
  return std::unexpected(PersistError{std::move(text)});
}

bool DocumentStore::dispatch(bound_dispatch::DispatchState& state, std::string_view kind,
                             const vorn_actions::TypedAction& action, const vorn_actions::ActionContext* context) {
  const bool applied = action_host::ActionHost::dispatch_with_context(state, m_document, kind, action, context);
  if (auto saved = save_if_changed(); !saved) {
    vorn_log::warn(kTarget, "could not save the shared document", {{"error", saved.error().message}});
  }
  return applied;
}

bool DocumentStore::dispatch_encoded(const vorn_actions::ActionRegistry& registry,
                                     bound_dispatch::DispatchState& state, const vorn_actions::EncodedAction& encoded,
                                     const vorn_actions::ActionContext* context) {
  auto action = registry.decode(encoded);
  if (!action || !*action) {
    vorn_log::warn("vorn_ui::action_host", "action dispatch failed",
                   {{"error", action ? std::string("decoder answered no action") : action.error().to_string()},
                    {"kind", encoded.kind}});
    return false;
  }
  return dispatch(state, encoded.kind, **action, context);
}

std::expected<DocumentStore, PersistError> open(std::string_view application_id) {
  if (application_id.empty() || application_id == "." || application_id == ".." ||
      application_id.find('/') != std::string_view::npos || application_id.find('\0') != std::string_view::npos) {
    return std::unexpected(PersistError{fmt::format("invalid application identifier: \"{}\"", application_id)});
  }
  auto data = platform_dirs::local_data_dir();
  if (!data) return DocumentStore::in_memory();
  return DocumentStore::open_at(*data / "vorn" / std::string(application_id) / "shared.automerge");
}

}  // namespace vorn_ui::persist
