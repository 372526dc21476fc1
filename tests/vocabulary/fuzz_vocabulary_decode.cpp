// Feeds arbitrary bytes to the action, operation and route decoders. Every
// input must give a value or an error text; an accepted value must encode to
// a document that decodes to the same value and encodes to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "json_reader/text.h"
#include "sarn/model/action.h"
#include "sarn/model/operation.h"
#include "sarn/model/route_json.h"

namespace {

template <class Decode>
void check(std::string_view input, Decode decode) {
    const auto value = decode(input);
    if (!value) {
        if (value.error().empty()) std::abort();
        return;
    }
    const std::string encoded = sarn::encode_json(*value);
    if (!json_reader::is_valid_utf8(encoded)) std::abort();
    if (sarn::json_value(*value).dump() != encoded) std::abort();
    (void)sarn::debug_text(*value);
    const auto again = decode(encoded);
    if (!again || !(*again == *value)) std::abort();
    if (sarn::encode_json(*again) != encoded) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    check(input, [](std::string_view bytes) { return sarn::decode_action(bytes); });
    check(input, [](std::string_view bytes) { return sarn::decode_operation(bytes); });
    check(input, [](std::string_view bytes) { return sarn::decode_route(bytes); });
    return 0;
}
