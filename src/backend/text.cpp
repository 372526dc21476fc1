#include "sarn/backend/text.h"

#include <utility>

namespace sarn {

std::string utf8_lossy(std::string_view bytes) {
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        if (b0 < 0x80) {
            out.push_back(static_cast<char>(b0));
            ++i;
            continue;
        }
        std::size_t need = 0;
        unsigned char lo = 0x80, hi = 0xBF;  // bounds of the second byte
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            need = 1;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            need = 2;
            if (b0 == 0xE0) lo = 0xA0;
            if (b0 == 0xED) hi = 0x9F;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            need = 3;
            if (b0 == 0xF0) lo = 0x90;
            if (b0 == 0xF4) hi = 0x8F;
        } else {
            out += kReplacement;
            ++i;
            continue;
        }
        // The longest valid prefix of a broken sequence becomes one U+FFFD.
        std::size_t taken = 1;
        bool valid = true;
        for (std::size_t k = 0; k < need; ++k) {
            if (i + taken >= bytes.size()) {
                valid = false;
                break;
            }
            const auto b = static_cast<unsigned char>(bytes[i + taken]);
            const unsigned char min = k == 0 ? lo : 0x80;
            const unsigned char max = k == 0 ? hi : 0xBF;
            if (b < min || b > max) {
                valid = false;
                break;
            }
            ++taken;
        }
        if (valid) {
            out.append(bytes.substr(i, taken));
        } else {
            out += kReplacement;
        }
        i += taken;
    }
    return out;
}

}  // namespace sarn
