#include "sarn/main/error.h"

#include "json_reader/text.h"

namespace sarn::entry {

MainError MainError::from_text(std::string_view text) { return MainError{json_reader::debug_quoted(text)}; }

MainError MainError::from_launch(const vorn_ui::launch::LaunchError& error) {
    return MainError{"LaunchError { message: " + json_reader::debug_quoted(error.message) + " }"};
}

MainError MainError::from_layout(const vorn_ui::layout::LayoutError& error) {
    const std::string_view kind =
        error.kind == vorn_ui::layout::LayoutError::Kind::InvalidNode ? "InvalidNode" : "ChildIsAncestor";
    return MainError{"LayoutError { kind: " + std::string(kind) +
                     ", message: " + json_reader::debug_quoted(error.message) + " }"};
}

std::string error_line(const MainError& error) { return "Error: " + error.debug + "\n"; }

}  // namespace sarn::entry
