#include "vorn_ui/wake.h"

#include <mutex>

namespace vorn_ui::wake {
namespace {

std::mutex g_waker_mutex;
std::function<void()> g_waker;

}  // namespace

void set_loop_waker(std::function<void()> waker) {
  std::lock_guard lock(g_waker_mutex);
  g_waker = std::move(waker);
}

void wake_loop() {
  std::function<void()> waker;
  {
    std::lock_guard lock(g_waker_mutex);
    waker = g_waker;
  }
  if (waker) waker();
}

WakeHandle::WakeHandle() : m_closed(std::make_shared<std::atomic<bool>>(false)) {}

bool WakeHandle::authorize_publication() const { return !m_closed->load(std::memory_order_acquire); }
void WakeHandle::wake() const {
  if (!is_closed()) wake_loop();
}
void WakeHandle::close() { m_closed->store(true, std::memory_order_release); }
bool WakeHandle::is_closed() const { return m_closed->load(std::memory_order_acquire); }

}  // namespace vorn_ui::wake
