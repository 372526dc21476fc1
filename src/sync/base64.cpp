#include "sarn/sync/base64.h"

#include <sodium.h>

#include "sarn/model/text.h"

namespace sarn {

std::expected<std::vector<std::uint8_t>, DeviceSyncError> decode_base64_any(std::string_view text) {
    if (sodium_init() < 0) return std::unexpected(DeviceSyncError::pairing("invalid base64 value"));
    text = trim_white_space(text);
    const int variants[] = {sodium_base64_VARIANT_ORIGINAL, sodium_base64_VARIANT_ORIGINAL_NO_PADDING,
                            sodium_base64_VARIANT_URLSAFE, sodium_base64_VARIANT_URLSAFE_NO_PADDING};
    std::vector<std::uint8_t> out(text.size() / 4 * 3 + 3);
    for (int variant : variants) {
        std::size_t length = 0;
        const char* end = nullptr;
        if (sodium_base642bin(out.data(), out.size(), text.data(), text.size(), nullptr, &length, &end, variant) == 0 &&
            end == text.data() + text.size()) {
            out.resize(length);
            return out;
        }
    }
    return std::unexpected(DeviceSyncError::pairing("invalid base64 value"));
}

std::string encode_base64(std::span<const std::uint8_t> bytes) {
    if (sodium_init() < 0) return {};
    const int variant = sodium_base64_VARIANT_ORIGINAL;
    std::string out(sodium_base64_encoded_len(bytes.size(), variant), '\0');
    sodium_bin2base64(out.data(), out.size(), bytes.data(), bytes.size(), variant);
    out.resize(out.size() - 1);  // the terminating zero
    return out;
}

}  // namespace sarn
