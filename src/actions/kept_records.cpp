#include "sarn/actions/kept_records.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <limits>
#include <set>
#include <system_error>

#include <fmt/format.h>

#include "atomic_file/atomic_file.h"
#include "json_reader/reader.h"
#include "json_reader/text.h"
#include "unique_fd/unique_fd.h"
#include "vorn_log/log.h"

namespace sarn {

namespace {

using json_reader::Reader;
using json_reader::Result;

constexpr std::array<std::string_view, 3> kFileFields = {"version", "videos", "channels"};
constexpr std::array<std::string_view, 14> kVideoFields = {
    "id",    "title",    "dearrow_title", "channel_id", "channel_name", "channel_seed",  "channel_avatar_url",
    "views", "published", "duration",     "likes",      "seed",         "thumbnail_url", "live"};
constexpr std::array<std::string_view, 7> kChannelFields = {"id",   "name",      "handle", "subscribers",
                                                            "verified", "seed", "avatar_url"};

// ---- writing ----

void field(std::string& out, std::string_view name, std::string_view text, bool first = false) {
    if (!first) out += ',';
    json_reader::append_json_string(out, name);
    out += ':';
    json_reader::append_json_string(out, text);
}

void field(std::string& out, std::string_view name, std::uint64_t number) {
    out += ',';
    json_reader::append_json_string(out, name);
    out += ':';
    out += std::to_string(number);
}

void flag(std::string& out, std::string_view name, bool value) {
    out += ',';
    json_reader::append_json_string(out, name);
    out += value ? ":true" : ":false";
}

// ---- reading ----

template <class T, class Set>
Result<void> take(Result<T> value, Set&& set) {
    if (!value) return std::unexpected(std::move(value.error()));
    set(std::move(*value));
    return {};
}

Result<void> read_text(Reader& r, std::string& out) {
    return take(r.read_string(), [&](std::string v) { out = std::move(v); });
}

Result<void> read_count(Reader& r, std::uint64_t& out) {
    return take(r.read_u64(), [&](std::uint64_t v) { out = v; });
}

Result<void> read_flag(Reader& r, bool& out) {
    return take(r.read_bool(), [&](bool v) { out = v; });
}

Result<void> read_optional_text(Reader& r, std::optional<std::string>& out) {
    if (r.peek_after_whitespace() == std::optional<unsigned char>('n')) {
        out.reset();
        return r.read_unit();
    }
    return take(r.read_string(), [&](std::string v) { out = std::move(v); });
}

Result<Video> read_video(Reader& r) {
    Video v;
    std::uint64_t duration = 0;
    auto done = r.read_struct({"struct KeptVideo", kVideoFields}, [&](std::size_t i, Reader& f) -> Result<void> {
        switch (i) {
            case 0: return read_text(f, v.id);
            case 1: return read_text(f, v.title);
            case 2: return read_optional_text(f, v.dearrow_title);
            case 3: return read_text(f, v.channel_id);
            case 4: return read_text(f, v.channel_name);
            case 5: return read_text(f, v.channel_seed);
            case 6: return read_text(f, v.channel_avatar_url);
            case 7: return read_count(f, v.views);
            case 8: return read_text(f, v.published);
            case 9: return read_count(f, duration);
            case 10: return read_count(f, v.likes);
            case 11: return read_text(f, v.seed);
            case 12: return read_text(f, v.thumbnail_url);
            default: return read_flag(f, v.live);
        }
    });
    if (!done) return std::unexpected(std::move(done.error()));
    if (duration > std::numeric_limits<std::uint32_t>::max()) {
        return std::unexpected(r.fix(json_reader::Error::custom("duration out of range")));
    }
    if (v.id.empty()) return std::unexpected(r.fix(json_reader::Error::custom("a video without an id")));
    v.duration = static_cast<std::uint32_t>(duration);
    return v;
}

Result<Channel> read_channel(Reader& r) {
    Channel c;
    auto done = r.read_struct({"struct KeptChannel", kChannelFields}, [&](std::size_t i, Reader& f) -> Result<void> {
        switch (i) {
            case 0: return read_text(f, c.id);
            case 1: return read_text(f, c.name);
            case 2: return read_text(f, c.handle);
            case 3: return read_count(f, c.subscribers);
            case 4: return read_flag(f, c.verified);
            case 5: return read_text(f, c.seed);
            default: return read_text(f, c.avatar_url);
        }
    });
    if (!done) return std::unexpected(std::move(done.error()));
    if (c.id.empty()) return std::unexpected(r.fix(json_reader::Error::custom("a channel without an id")));
    return c;
}

// A JSON array of records; a later record of an id already read is dropped.
template <class Record, class ReadOne>
Result<void> read_list(Reader& r, std::vector<Record>& out, ReadOne read_one) {
    const auto next = r.peek_after_whitespace();
    if (!next) return std::unexpected(r.peek_error(json_reader::message::kEofWhileParsingValue));
    if (*next != '[') return std::unexpected(r.fix(r.peek_invalid_type("a sequence")));
    if (auto depth = r.enter_nesting(); !depth) return depth;
    r.eat();
    std::set<std::string, std::less<>> seen;
    bool first = true;
    for (;;) {
        auto more = r.has_next_element(first);
        if (!more) return std::unexpected(std::move(more.error()));
        if (!*more) break;
        auto record = read_one(r);
        if (!record) return std::unexpected(std::move(record.error()));
        if (seen.insert(record->id).second) out.push_back(std::move(*record));
    }
    r.leave_nesting();
    return r.end_seq();
}

std::string errno_text(int error) { return std::error_code(error, std::generic_category()).message(); }

// The whole file: a regular file of bounded size, opened without following a
// link and without blocking on a FIFO. None when there is no file.
std::expected<std::optional<std::string>, std::string> read_file(const std::filesystem::path& path) {
    const int raw = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (raw < 0) {
        if (errno == ENOENT) return std::optional<std::string>();
        return std::unexpected(errno_text(errno));
    }
    unique_fd::UniqueFd fd(raw);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return std::unexpected(errno_text(errno));
    if (!S_ISREG(info.st_mode)) return std::unexpected(std::string("not a regular file"));
    if (static_cast<std::uint64_t>(info.st_size) > kKeptRecordsFileLimit) {
        return std::unexpected(std::string("the file exceeds its size limit"));
    }
    std::string bytes(static_cast<std::size_t>(info.st_size), '\0');
    std::size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            // The file may have grown since fstat; read on up to the limit.
            if (bytes.size() >= kKeptRecordsFileLimit) {
                char probe = 0;
                const ssize_t extra = ::read(fd.get(), &probe, 1);
                if (extra > 0) return std::unexpected(std::string("the file exceeds its size limit"));
                break;
            }
            bytes.resize(std::min<std::size_t>(bytes.size() * 2 + 4096, kKeptRecordsFileLimit));
        }
        const ssize_t n = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::unexpected(errno_text(errno));
        if (n == 0) break;
        filled += static_cast<std::size_t>(n);
    }
    bytes.resize(filled);
    return std::optional<std::string>(std::move(bytes));
}

std::expected<void, std::string> write_file(const std::filesystem::path& path, const std::string& bytes) {
    auto written = atomic_file::write_creating_parent_with_mode(path, bytes, 0600);
    if (!written) return std::unexpected(fmt::format("{}: {}", path.string(), written.error().message()));
    return {};
}

}  // namespace

Video kept_fields(const Video& video) {
    Video out;
    out.id = video.id;
    out.title = video.title;
    out.dearrow_title = video.dearrow_title;
    out.channel_id = video.channel_id;
    out.channel_name = video.channel_name;
    out.channel_seed = video.channel_seed;
    out.channel_avatar_url = video.channel_avatar_url;
    out.views = video.views;
    out.published = video.published;
    out.duration = video.duration;
    out.likes = video.likes;
    out.seed = video.seed;
    out.thumbnail_url = video.thumbnail_url;
    out.live = video.live;
    return out;
}

Channel kept_fields(const Channel& channel) {
    Channel out;
    out.id = channel.id;
    out.name = channel.name;
    out.handle = channel.handle;
    out.subscribers = channel.subscribers;
    out.verified = channel.verified;
    out.seed = channel.seed;
    out.avatar_url = channel.avatar_url;
    return out;
}

std::string encode_kept_records(const KeptRecords& records) {
    std::string out;
    out.reserve(64 + records.videos.size() * 400 + records.channels.size() * 200);
    out += "{\"version\":";
    out += std::to_string(kKeptRecordsVersion);
    out += ",\"videos\":[";
    for (std::size_t i = 0; i < records.videos.size(); ++i) {
        const Video& v = records.videos[i];
        out += i == 0 ? "\n{" : ",\n{";
        field(out, "id", v.id, true);
        field(out, "title", v.title);
        out += ",\"dearrow_title\":";
        if (v.dearrow_title) {
            json_reader::append_json_string(out, *v.dearrow_title);
        } else {
            out += "null";
        }
        field(out, "channel_id", v.channel_id);
        field(out, "channel_name", v.channel_name);
        field(out, "channel_seed", v.channel_seed);
        field(out, "channel_avatar_url", v.channel_avatar_url);
        field(out, "views", v.views);
        field(out, "published", v.published);
        field(out, "duration", std::uint64_t{v.duration});
        field(out, "likes", v.likes);
        field(out, "seed", v.seed);
        field(out, "thumbnail_url", v.thumbnail_url);
        flag(out, "live", v.live);
        out += '}';
    }
    out += "],\"channels\":[";
    for (std::size_t i = 0; i < records.channels.size(); ++i) {
        const Channel& c = records.channels[i];
        out += i == 0 ? "\n{" : ",\n{";
        field(out, "id", c.id, true);
        field(out, "name", c.name);
        field(out, "handle", c.handle);
        field(out, "subscribers", c.subscribers);
        flag(out, "verified", c.verified);
        field(out, "seed", c.seed);
        field(out, "avatar_url", c.avatar_url);
        out += '}';
    }
    out += "]}\n";
    return out;
}

std::expected<KeptRecords, std::string> decode_kept_records(std::string_view text) {
    KeptRecords records;
    std::uint64_t version = 0;
    auto decoded = Reader::decode(text, [&](Reader& reader) -> Result<void> {
        return reader.read_struct({"struct KeptRecords", kFileFields}, [&](std::size_t i, Reader& r) -> Result<void> {
            if (i == 0) {
                if (auto read = read_count(r, version); !read) return read;
                if (version != kKeptRecordsVersion) {
                    return std::unexpected(r.fix(json_reader::Error::custom(
                        fmt::format("version {} is not {}", version, kKeptRecordsVersion))));
                }
                return {};
            }
            if (i == 1) return read_list(r, records.videos, read_video);
            return read_list(r, records.channels, read_channel);
        });
    });
    if (!decoded) return std::unexpected(decoded.error().text());
    return records;
}

KeptRecordsStore::KeptRecordsStore(KeptRecordsStore&&) noexcept = default;
KeptRecordsStore& KeptRecordsStore::operator=(KeptRecordsStore&&) noexcept = default;
// The writer goes first: it waits for its jobs, which hold copies of what they write.
KeptRecordsStore::~KeptRecordsStore() { m_writer.reset(); }

KeptRecordsStore KeptRecordsStore::in_memory() { return KeptRecordsStore(); }

std::filesystem::path KeptRecordsStore::records_path(const std::filesystem::path& local_data_dir) {
    return local_data_dir / "vorn" / "sarn" / "kept-records.json";
}

KeptRecordsStore KeptRecordsStore::open_in(const std::optional<std::filesystem::path>& local_data_dir) {
    KeptRecordsStore store;
    if (!local_data_dir) return store;
    store.m_path = records_path(*local_data_dir);
    auto bytes = read_file(*store.m_path);
    if (bytes && !*bytes) return store;  // no file yet
    std::expected<KeptRecords, std::string> records =
        bytes ? decode_kept_records(**bytes) : std::unexpected(std::move(bytes.error()));
    if (records) {
        store.m_records = std::make_shared<const KeptRecords>(std::move(*records));
        return store;
    }
    store.m_read_error = records.error();
    vorn_log::error(kKeptRecordsTarget, "the kept records could not be read; the file is left as it is",
                    {{"path", store.m_path->string()}, {"error", records.error()}});
    return store;
}

void KeptRecordsStore::use_writer_thread() {
    if (!m_writer) m_writer = std::make_unique<ordered_writer::OrderedWriter>();
}

void KeptRecordsStore::save(KeptRecords records) {
    m_records = std::make_shared<const KeptRecords>(std::move(records));
    m_unsaved = false;
    if (!m_path) return;
    if (!m_writer) {
        const auto written = write_file(*m_path, encode_kept_records(*m_records));
        if (!written && !m_failure) m_failure = written.error();
        return;
    }
    m_writer->submit(m_path->string(), [path = *m_path, records = m_records] {
        return write_file(path, encode_kept_records(*records));
    });
}

std::optional<std::string> KeptRecordsStore::take_write_failure() {
    std::vector<std::string> failures;
    if (m_failure) failures.push_back(*std::exchange(m_failure, std::nullopt));
    if (m_writer) {
        for (std::string& failure : m_writer->take_failures()) failures.push_back(std::move(failure));
    }
    if (failures.empty()) return std::nullopt;
    m_unsaved = true;
    for (const std::string& failure : failures) {
        vorn_log::warn(kKeptRecordsTarget, "the kept records could not be saved", {{"error", failure}});
    }
    return failures.front();
}

void KeptRecordsStore::finish_writes() {
    if (m_writer) m_writer->wait_idle();
}

}  // namespace sarn
