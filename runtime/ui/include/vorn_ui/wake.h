// Wake handles: how another thread tells the interface loop that shared state
// changed. Any thread may call a handle; the window backend installs the
// waker once, on the interface thread, before the first frame.
#pragma once

#include <atomic>
#include <functional>
#include <memory>

namespace vorn_ui::wake {

// Installs the function that wakes a sleeping interface loop (nothing before).
void set_loop_waker(std::function<void()> waker);
// Wakes the interface loop; harmless when no waker is installed.
void wake_loop();

class WakeHandle {
 public:
  WakeHandle();

  // Whether a publication through this handle may go ahead; true until the
  // handle is closed. An authorized publication also wakes the loop.
  bool authorize_publication() const;
  void wake() const;
  // After this, publications are refused (the owner is going away).
  void close();
  bool is_closed() const;

 private:
  std::shared_ptr<std::atomic<bool>> m_closed;
};

}  // namespace vorn_ui::wake
