#pragma once
// What ends the program with status 1: an error carried in its debug form,
// which main writes as "Error: {debug}".
//
// Any thread.

#include <string>
#include <string_view>

#include "vorn_ui/launch.h"
#include "vorn_ui/layout.h"

namespace sarn::entry {

struct MainError {
    std::string debug;

    // A text: its debug form is the text in double quotes, escaped.
    static MainError from_text(std::string_view text);
    // The launcher's own error record.
    static MainError from_launch(const vorn_ui::launch::LaunchError& error);
    // A failure of the layout tree.
    static MainError from_layout(const vorn_ui::layout::LayoutError& error);
};

// The line main writes to standard error for the error, line end included.
std::string error_line(const MainError& error);

}  // namespace sarn::entry
