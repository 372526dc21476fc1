#include "sarn/backend/json_read.h"

#include <limits>

namespace sarn::json_read {

const Json* member(const Json& value, std::string_view key) {
    if (!value.is_object()) return nullptr;
    const auto found = value.find(key);
    return found == value.end() ? nullptr : &*found;
}

const Json* array(const Json& value, std::string_view key) {
    const Json* found = member(value, key);
    return found != nullptr && found->is_array() ? found : nullptr;
}

std::string text(const Json& value, std::string_view key) {
    const Json* found = member(value, key);
    if (found == nullptr || !found->is_string()) return {};
    return found->get_ref<const std::string&>();
}

std::string first_text(const Json& value, std::initializer_list<std::string_view> keys) {
    for (std::string_view key : keys) {
        const Json* found = member(value, key);
        if (found != nullptr && found->is_string() && !found->get_ref<const std::string&>().empty()) {
            return found->get_ref<const std::string&>();
        }
    }
    return {};
}

std::optional<std::uint64_t> count_if_present(const Json& value, std::string_view key) {
    const Json* found = member(value, key);
    if (found == nullptr) return std::nullopt;
    if (found->is_number_unsigned()) return found->get<std::uint64_t>();
    if (found->is_number_integer()) {
        const auto n = found->get<std::int64_t>();
        if (n >= 0) return static_cast<std::uint64_t>(n);
    }
    return std::nullopt;
}

std::uint64_t count(const Json& value, std::string_view key) { return count_if_present(value, key).value_or(0); }

std::int64_t signed_count(const Json& value, std::string_view key) {
    const Json* found = member(value, key);
    if (found == nullptr) return 0;
    if (found->is_number_unsigned()) {
        const auto n = found->get<std::uint64_t>();
        return n <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) ? static_cast<std::int64_t>(n)
                                                                                         : 0;
    }
    if (found->is_number_integer()) return found->get<std::int64_t>();
    return 0;
}

bool flag(const Json& value, std::string_view key) {
    const Json* found = member(value, key);
    return found != nullptr && found->is_boolean() && found->get<bool>();
}

std::optional<double> as_number(const Json& value) {
    if (value.is_number_float()) return value.get<double>();
    if (value.is_number_unsigned()) return static_cast<double>(value.get<std::uint64_t>());
    if (value.is_number_integer()) return static_cast<double>(value.get<std::int64_t>());
    return std::nullopt;
}

double number(const Json& value, std::string_view key) {
    const Json* found = member(value, key);
    return found == nullptr ? 0.0 : as_number(*found).value_or(0.0);
}

namespace {

constexpr int kMaxDepth = 256;

// True when brackets outside strings nest deeper than the limit.
bool too_deep(std::string_view text) {
    int depth = 0;
    bool in_string = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (in_string) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                in_string = false;
            }
        } else if (c == '"') {
            in_string = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxDepth) return true;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

}  // namespace

std::expected<Json, std::string> parse(std::string_view text) {
    if (too_deep(text)) return std::unexpected(std::string("JSON nested too deeply"));
    try {
        return Json::parse(text);
    } catch (const Json::exception& error) {
        return std::unexpected(std::string(error.what()));
    }
}

}  // namespace sarn::json_read
