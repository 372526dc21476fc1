#include "sarn/sync/peer_store.h"

#include "platform_dirs/dirs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace sarn {
namespace {

using nlohmann::json;

DeviceSyncError system_error(int code) { return DeviceSyncError::peer_store(std::strerror(code)); }

// A JSON decoding failure with the library's own wording where it has one.
struct DecodeFailure {
    std::string message;
};

const json& required(const json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end()) throw DecodeFailure{std::string("missing field `") + key + "`"};
    return *it;
}

std::string as_string(const json& value, const char* key) {
    if (!value.is_string()) throw DecodeFailure{std::string("invalid type for `") + key + "`, expected a string"};
    return value.get<std::string>();
}

std::uint64_t as_unsigned(const json& value, const char* key) {
    if (!value.is_number_unsigned()) {
        throw DecodeFailure{std::string("invalid type for `") + key + "`, expected an unsigned integer"};
    }
    return value.get<std::uint64_t>();
}

std::optional<std::uint64_t> optional_unsigned(const json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return std::nullopt;
    return as_unsigned(*it, key);
}

PeerDescriptor decode_descriptor(const json& value) {
    if (!value.is_object()) throw DecodeFailure{"invalid type for `descriptor`, expected an object"};
    PeerDescriptor d;
    d.public_key = as_string(required(value, "public_key"), "public_key");
    const json& addresses = required(value, "addresses");
    if (!addresses.is_array()) throw DecodeFailure{"invalid type for `addresses`, expected an array"};
    for (const json& address : addresses) d.addresses.push_back(as_string(address, "addresses"));
    const json& port = required(value, "port");
    if (!port.is_number_integer()) throw DecodeFailure{"invalid type for `port`, expected an integer"};
    d.port = port.get<std::int64_t>();
    return d;
}

PeerRecord decode_record(const json& value) {
    if (!value.is_object()) throw DecodeFailure{"invalid type for a peer record, expected an object"};
    PeerRecord r;
    r.id = as_string(required(value, "id"), "id");
    r.name = as_string(required(value, "name"), "name");
    r.descriptor = decode_descriptor(required(value, "descriptor"));
    r.approved_at = as_unsigned(required(value, "approved_at"), "approved_at");
    if (auto it = value.find("pending_approval"); it != value.end() && !it->is_null()) {
        if (!it->is_boolean()) throw DecodeFailure{"invalid type for `pending_approval`, expected a boolean"};
        r.pending_approval = it->get<bool>();
    }
    r.revoked_at = optional_unsigned(value, "revoked_at");
    r.last_sync_at = optional_unsigned(value, "last_sync_at");
    if (auto it = value.find("last_error"); it != value.end() && !it->is_null()) {
        r.last_error = as_string(*it, "last_error");
    }
    return r;
}

bool within_bounds(const std::vector<PeerRecord>& peers) {
    if (peers.size() > kPeerStoreMaxRecords) return false;
    for (const PeerRecord& r : peers) {
        if (r.id.size() > kPeerStoreMaxFieldBytes || r.name.size() > kPeerStoreMaxFieldBytes ||
            r.descriptor.public_key.size() > kPeerStoreMaxFieldBytes) {
            return false;
        }
        if (r.descriptor.addresses.size() > kPeerStoreMaxAddresses) return false;
        for (const std::string& address : r.descriptor.addresses) {
            if (address.empty() || address.size() > kPeerStoreMaxAddressBytes) return false;
        }
    }
    return true;
}

std::string random_uuid() {
    uuid_t id;
    uuid_generate_random(id);
    char text[37];
    uuid_unparse_lower(id, text);
    return text;
}

bool write_all(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::expected<std::filesystem::path, DeviceSyncError> default_peer_store_path() {
    std::filesystem::path base;
    if (const char* state = std::getenv("XDG_STATE_HOME")) {
        base = state;
    } else if (auto state_dir = platform_dirs::state_dir()) {
        base = *state_dir;
    } else {
        return std::unexpected(DeviceSyncError::peer_store("no private state directory is available"));
    }
    return base / "vorn-sarn" / "grayjay-peers.json";
}

std::expected<std::vector<PeerRecord>, DeviceSyncError> load_peer_store(const std::filesystem::path& path) {
    // O_NONBLOCK: opening a FIFO for reading must not wait for a writer.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT) return std::vector<PeerRecord>{};
        return std::unexpected(system_error(errno));
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    struct stat info {};
    if (::fstat(fd, &info) != 0) return std::unexpected(system_error(errno));
    if (!S_ISREG(info.st_mode) || static_cast<std::uint64_t>(info.st_size) > kPeerStoreMaxBytes) {
        return std::unexpected(DeviceSyncError::peer_store("invalid peer store"));
    }

    // Sized by the file, plus one byte to notice a file that grew; never more
    // than the bound plus one byte.
    std::string content(static_cast<std::size_t>(info.st_size) + 1, '\0');
    std::size_t used = 0;
    for (;;) {
        if (used == content.size()) {
            if (content.size() > kPeerStoreMaxBytes) break;
            content.resize(std::min(content.size() * 2, kPeerStoreMaxBytes + 1));
        }
        ssize_t n = ::read(fd, content.data() + used, content.size() - used);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::unexpected(system_error(errno));
        }
        if (n == 0) break;
        used += static_cast<std::size_t>(n);
    }
    if (used > kPeerStoreMaxBytes) return std::unexpected(DeviceSyncError::peer_store("invalid peer store"));
    content.resize(used);

    json document;
    try {
        document = json::parse(content);
    } catch (const json::exception& e) {
        return std::unexpected(DeviceSyncError::peer_store(e.what()));
    }

    std::vector<PeerRecord> peers;
    std::int64_t version = 0;
    try {
        if (!document.is_object()) throw DecodeFailure{"invalid type for the peer store, expected an object"};
        const json& v = required(document, "version");
        if (!v.is_number_integer()) throw DecodeFailure{"invalid type for `version`, expected an integer"};
        version = v.get<std::int64_t>();
        const json& list = required(document, "peers");
        if (!list.is_array()) throw DecodeFailure{"invalid type for `peers`, expected an array"};
        peers.reserve(std::min(list.size(), kPeerStoreMaxRecords));
        for (const json& item : list) peers.push_back(decode_record(item));
    } catch (const DecodeFailure& failure) {
        return std::unexpected(DeviceSyncError::peer_store(failure.message));
    } catch (const json::exception& e) {
        return std::unexpected(DeviceSyncError::peer_store(e.what()));
    }
    if (version != 1) return std::unexpected(DeviceSyncError::peer_store("unsupported peer store version"));
    if (!within_bounds(peers)) {
        return std::unexpected(DeviceSyncError::peer_store("peer store exceeds its structural bounds"));
    }
    return peers;
}

nlohmann::ordered_json peer_record_json(const PeerRecord& r) {
    nlohmann::ordered_json descriptor;
    descriptor["public_key"] = r.descriptor.public_key;
    descriptor["addresses"] = r.descriptor.addresses;
    descriptor["port"] = r.descriptor.port;
    nlohmann::ordered_json out;
    out["id"] = r.id;
    out["name"] = r.name;
    out["descriptor"] = std::move(descriptor);
    out["approved_at"] = r.approved_at;
    out["pending_approval"] = r.pending_approval;
    out["revoked_at"] = r.revoked_at ? nlohmann::ordered_json(*r.revoked_at) : nlohmann::ordered_json(nullptr);
    out["last_sync_at"] = r.last_sync_at ? nlohmann::ordered_json(*r.last_sync_at) : nlohmann::ordered_json(nullptr);
    out["last_error"] = r.last_error ? nlohmann::ordered_json(*r.last_error) : nlohmann::ordered_json(nullptr);
    return out;
}

std::expected<void, DeviceSyncError> save_peer_store(const std::filesystem::path& path,
                                                     const std::vector<PeerRecord>& peers) {
    const std::filesystem::path directory = path.parent_path();
    if (directory.empty()) return std::unexpected(DeviceSyncError::peer_store("peer store has no parent"));
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    if (ec) return std::unexpected(DeviceSyncError::peer_store(ec.message()));
    if (::chmod(directory.c_str(), 0700) != 0) return std::unexpected(system_error(errno));

    std::string text;
    try {
        nlohmann::ordered_json document;
        document["version"] = 1;
        document["peers"] = nlohmann::ordered_json::array();
        for (const PeerRecord& r : peers) document["peers"].push_back(peer_record_json(r));
        text = document.dump(2);
    } catch (const nlohmann::json::exception& e) {
        return std::unexpected(DeviceSyncError::peer_store(e.what()));
    }

    const std::filesystem::path temporary = directory / (".peers-" + random_uuid() + ".tmp");
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return std::unexpected(system_error(errno));
    int failure = 0;
    if (!write_all(fd, text) || ::fsync(fd) != 0) failure = errno;
    if (::close(fd) != 0 && failure == 0) failure = errno;
    if (failure == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) failure = errno;
    if (failure == 0) {
        int dir_fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir_fd < 0 || ::fsync(dir_fd) != 0) failure = errno;
        if (dir_fd >= 0) ::close(dir_fd);
    }
    if (failure != 0) {
        ::unlink(temporary.c_str());
        return std::unexpected(system_error(failure));
    }
    return {};
}

}  // namespace sarn
