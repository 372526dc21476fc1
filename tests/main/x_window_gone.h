// Ends a window of another client from outside, as a window manager does:
// without a close request first. Kept apart from the tests because Xlib's
// macros clash with everything else. Test thread only.
#pragma once

namespace vorn_test {

// Destroys the window (what `xdotool windowclose` does). Answers whether the
// X server took the request.
bool destroy_window_from_outside(unsigned long window);
// Closes the connection of the client that made the window (what a window
// manager's kill and `xkill` do).
bool kill_client_from_outside(unsigned long window);

}  // namespace vorn_test
