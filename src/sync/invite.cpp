#include "sarn/sync/invite.h"

#include <nlohmann/json.hpp>

#include "sarn/sync/base64.h"
#include "sarn/model/text.h"

namespace sarn {
namespace {

using nlohmann::json;

DeviceSyncError malformed() { return DeviceSyncError::pairing("pairing metadata is malformed or exceeds its bounds"); }

std::expected<void, DeviceSyncError> check(std::string_view key, const std::vector<std::string>& addresses,
                                           std::int64_t port, std::size_t code_size) {
    auto decoded = decode_base64_any(key);
    if (!decoded) return std::unexpected(decoded.error());
    if (decoded->size() != 32) return std::unexpected(malformed());
    if (addresses.empty() || addresses.size() > 8) return std::unexpected(malformed());
    for (const std::string& address : addresses) {
        if (address.empty() || address.size() > 255) return std::unexpected(malformed());
    }
    if (port < 1 || port > 65535) return std::unexpected(malformed());
    if (code_size > kPairingCodeMaxBytes) return std::unexpected(malformed());
    return {};
}

}  // namespace

std::expected<SyncDeviceInfo, std::string> decode_sync_device_info(std::string_view text) {
    json document;
    try {
        document = json::parse(text);
    } catch (const json::exception& e) {
        return std::unexpected(std::string(e.what()));
    }
    if (!document.is_object()) return std::unexpected(std::string("expected a JSON object"));
    SyncDeviceInfo info;
    auto key = document.find("publicKey");
    if (key == document.end()) return std::unexpected(std::string("missing field `publicKey`"));
    if (!key->is_string()) return std::unexpected(std::string("invalid type for `publicKey`, expected a string"));
    info.public_key = key->get<std::string>();
    auto addresses = document.find("addresses");
    if (addresses == document.end()) return std::unexpected(std::string("missing field `addresses`"));
    if (!addresses->is_array()) return std::unexpected(std::string("invalid type for `addresses`, expected an array"));
    for (const json& address : *addresses) {
        if (!address.is_string()) return std::unexpected(std::string("invalid type in `addresses`, expected a string"));
        info.addresses.push_back(address.get<std::string>());
    }
    auto port = document.find("port");
    if (port == document.end()) return std::unexpected(std::string("missing field `port`"));
    if (!port->is_number_integer()) return std::unexpected(std::string("invalid type for `port`, expected an integer"));
    if (port->is_number_unsigned() && port->get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX)) {
        return std::unexpected(std::string("`port` is out of range"));
    }
    info.port = port->get<std::int64_t>();
    if (auto code = document.find("pairingCode"); code != document.end() && !code->is_null()) {
        if (!code->is_string()) return std::unexpected(std::string("invalid type for `pairingCode`, expected a string"));
        info.pairing_code = code->get<std::string>();
    }
    return info;
}

std::expected<void, DeviceSyncError> validate_pairing_metadata(const SyncDeviceInfo& info) {
    return check(info.public_key, info.addresses, info.port, info.pairing_code ? info.pairing_code->size() : 0);
}

std::expected<void, DeviceSyncError> validate_peer_descriptor(const PeerDescriptor& descriptor) {
    auto checked = check(descriptor.public_key, descriptor.addresses, descriptor.port, 0);
    if (!checked) return std::unexpected(DeviceSyncError::peer_store("stored peer connection metadata is invalid"));
    return {};
}

std::expected<SyncDeviceInfo, DeviceSyncError> parse_pairing_invite(std::string_view invite) {
    const std::string_view text = trim_white_space(invite);
    if (text.empty() || text.size() > kInviteMaxBytes) {
        return std::unexpected(DeviceSyncError::pairing("pairing invite is empty or too large"));
    }
    if (auto direct = decode_sync_device_info(text)) {
        if (auto valid = validate_pairing_metadata(*direct); !valid) return std::unexpected(valid.error());
        return *direct;
    }
    const auto cut = text.find_last_of("/:");
    if (cut != std::string_view::npos && text.find(':') == std::string_view::npos) {
        // The standard alphabet has "/" itself: such an invite is tried whole
        // before it is cut at its last "/".
        if (auto whole = decode_base64_any(text); whole && whole->size() <= kInviteMaxBytes) {
            auto info = decode_sync_device_info(
                std::string_view(reinterpret_cast<const char*>(whole->data()), whole->size()));
            if (info) {
                if (auto valid = validate_pairing_metadata(*info); !valid) return std::unexpected(valid.error());
                return *info;
            }
        }
    }
    const std::string_view segment = cut == std::string_view::npos ? text : text.substr(cut + 1);
    auto bytes = decode_base64_any(segment);
    if (!bytes) return std::unexpected(bytes.error());
    if (bytes->size() > kInviteMaxBytes) {
        return std::unexpected(DeviceSyncError::pairing("decoded pairing invite is too large"));
    }
    auto info = decode_sync_device_info(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    if (!info) return std::unexpected(DeviceSyncError::pairing("unrecognized pairing blob: " + info.error()));
    if (auto valid = validate_pairing_metadata(*info); !valid) return std::unexpected(valid.error());
    return *info;
}

}  // namespace sarn
