#pragma once
// The kept records: what the program keeps of the videos and channels that
// the user's lists name (likes, queue, watch history, subscriptions), so that
// those lists show their titles and names after a restart, offline too. The
// shared document and the history hold only ids; these records are the
// program's own and are never shared.
//
// File: <local data>/vorn/sarn/kept-records.json, mode 0600, written whole
// and atomically (temporary file, flush, rename). Its JSON:
//   {"version":1,
//    "videos":[{"id":…,"title":…,"dearrow_title":… or null,"channel_id":…,
//               "channel_name":…,"channel_seed":…,"channel_avatar_url":…,
//               "views":…,"published":…,"duration":…,"likes":…,"seed":…,
//               "thumbnail_url":…,"live":…}, …],
//    "channels":[{"id":…,"name":…,"handle":…,"subscribers":…,"verified":…,
//                 "seed":…,"avatar_url":…}, …]}
// Every field of a record is required; unknown members are skipped; a later
// record of an id already read is dropped. A file that does not read (not a
// regular file, larger than kKeptRecordsFileLimit, not this JSON, another
// version) is refused whole: the store starts without records, logs why and
// leaves the file as it is until the next save replaces it.
//
// Interface thread only. save hands the records to the store's writer
// thread, which encodes and writes them (or writes at once when it has none); writes land in the order they were
// made, take_write_failure answers a failed one, and the destructor waits for
// every pending write.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ordered_writer/ordered_writer.h"
#include "sarn/model/records.h"

namespace sarn {

inline constexpr std::uint64_t kKeptRecordsFileLimit = 16u << 20;
inline constexpr std::uint64_t kKeptRecordsVersion = 1;
inline constexpr std::string_view kKeptRecordsTarget = "sarn::kept_records";

struct KeptRecords {
    std::vector<Video> videos;
    std::vector<Channel> channels;
    friend bool operator==(const KeptRecords&, const KeptRecords&) = default;
};

// The fields a kept record holds (what the cards, rows, tiles and the watch
// page's header show); every other field is left at its default.
Video kept_fields(const Video& video);
Channel kept_fields(const Channel& channel);

std::string encode_kept_records(const KeptRecords& records);
// The records of the file's text, or why it does not read.
std::expected<KeptRecords, std::string> decode_kept_records(std::string_view text);

class KeptRecordsStore {
public:
    KeptRecordsStore(KeptRecordsStore&&) noexcept;
    KeptRecordsStore& operator=(KeptRecordsStore&&) noexcept;
    ~KeptRecordsStore();

    // A store without a file: it starts empty and saves nothing.
    static KeptRecordsStore in_memory();
    // Reads <local data>/vorn/sarn/kept-records.json (none: in memory).
    static KeptRecordsStore open_in(const std::optional<std::filesystem::path>& local_data_dir);
    static std::filesystem::path records_path(const std::filesystem::path& local_data_dir);

    // What the file held when it was read, then what was saved since.
    const KeptRecords& records() const { return *m_records; }
    // Why the file that was there was refused; none when it read or was absent.
    const std::optional<std::string>& read_error() const { return m_read_error; }
    const std::optional<std::filesystem::path>& path() const { return m_path; }

    // From now on save hands its writes to a writer thread.
    void use_writer_thread();
    // Replaces the file with these records (nothing without a file).
    void save(KeptRecords records);
    // The first failure of the writes since the last call, logged.
    std::optional<std::string> take_write_failure();
    // A write failed since the last save: the file may not hold records().
    bool unsaved() const { return m_unsaved; }
    // Waits for every pending write.
    void finish_writes();

private:
    KeptRecordsStore() = default;
    // Shared with the writes in flight, which encode it on the writer thread.
    std::shared_ptr<const KeptRecords> m_records = std::make_shared<const KeptRecords>();
    std::optional<std::filesystem::path> m_path;
    std::optional<std::string> m_read_error;
    std::optional<std::string> m_failure;  // of a write made on this thread
    bool m_unsaved = false;
    std::unique_ptr<ordered_writer::OrderedWriter> m_writer;
};

}  // namespace sarn
