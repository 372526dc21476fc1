// The desktop clipboard. While a window is open the text goes to the desktop's
// clipboard; without one (developer modes, tests) it is kept in the process, so that
// `clipboard_text` still answers it. Interface thread only.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vorn_ui::text_selection {

// Places the text on the clipboard; false when the desktop refused it.
bool clipboard_copy(std::string_view text);
// The clipboard's text, when it holds text.
std::optional<std::string> clipboard_text();

}  // namespace vorn_ui::text_selection
