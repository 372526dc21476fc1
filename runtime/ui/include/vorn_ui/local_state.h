// LocalState: a value shared between the interface and other threads, with a
// generation counter that grows on every publication. Any thread may read or
// publish; the value sits behind a read-write lock.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>

#include "vorn_ui/wake.h"

namespace vorn_ui::local_state {

template <class T>
class LocalState {
 public:
  // A cell holding `initial`, generation 0, with a new wake handle.
  explicit LocalState(T initial = T{}) : m_cell(std::make_shared<Cell>(std::move(initial))) {}
  static LocalState make(T initial) { return LocalState(std::move(initial)); }

  // Replaces the value when the wake handle authorizes it; answers the new
  // generation, or nothing when refused or when the counter would overflow
  // (the old value then stays).
  std::optional<std::uint64_t> publish(T value) const {
    if (!m_cell->wake.authorize_publication()) return std::nullopt;
    std::uint64_t generation = 0;
    {
      std::unique_lock lock(m_cell->mutex);
      if (m_cell->generation == std::numeric_limits<std::uint64_t>::max()) return std::nullopt;
      generation = ++m_cell->generation;
      m_cell->value = std::move(value);
    }
    m_cell->wake.wake();
    return generation;
  }

  T get() const {
    std::shared_lock lock(m_cell->mutex);
    return m_cell->value;
  }
  // The text of a text cell (a copy).
  T text() const { return get(); }
  std::uint64_t generation() const {
    std::shared_lock lock(m_cell->mutex);
    return m_cell->generation;
  }
  // Value and generation read together.
  std::pair<T, std::uint64_t> snapshot() const {
    std::shared_lock lock(m_cell->mutex);
    return {m_cell->value, m_cell->generation};
  }
  const wake::WakeHandle& wake_handle() const { return m_cell->wake; }
  wake::WakeHandle& wake_handle() { return m_cell->wake; }
  bool same_cell(const LocalState& other) const { return m_cell == other.m_cell; }

 private:
  struct Cell {
    explicit Cell(T v) : value(std::move(v)) {}
    mutable std::shared_mutex mutex;
    T value;
    std::uint64_t generation = 0;
    wake::WakeHandle wake;
  };
  std::shared_ptr<Cell> m_cell;
};

using TextState = LocalState<std::string>;

}  // namespace vorn_ui::local_state
