#pragma once
// Structured log: events with a level, a target, a message and named fields.
//
// Every event is offered to the installed subscriber (spdlog on standard
// error, filtered by target and level) and to every live CaptureSink, which
// keeps the structured form for tests. Before install_default_subscriber the
// events still reach the plain log facade (spdlog's default logger) at
// warning level and above.
//
// Thread safety: every function may be called from any thread.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <fmt/format.h>

namespace vorn_log {

enum class Level : std::uint8_t { Trace, Debug, Info, Warn, Error };

std::string_view level_name(Level level);

struct Field {
  std::string name;
  std::string value;
};

// A field whose value is anything fmt can format.
template <typename T>
Field field(std::string name, const T& value) {
  return Field{std::move(name), fmt::format("{}", value)};
}

struct Event {
  Level level = Level::Info;
  std::string target;
  std::string message;
  std::vector<Field> fields;

  // Value of the first field with this name.
  std::optional<std::string> field(std::string_view name) const;
};

// Emits one event.
void emit(Level level, std::string_view target, std::string_view message,
          std::vector<Field> fields = {});

inline void trace(std::string_view target, std::string_view message, std::vector<Field> fields = {}) {
  emit(Level::Trace, target, message, std::move(fields));
}
inline void debug(std::string_view target, std::string_view message, std::vector<Field> fields = {}) {
  emit(Level::Debug, target, message, std::move(fields));
}
inline void info(std::string_view target, std::string_view message, std::vector<Field> fields = {}) {
  emit(Level::Info, target, message, std::move(fields));
}
inline void warn(std::string_view target, std::string_view message, std::vector<Field> fields = {}) {
  emit(Level::Warn, target, message, std::move(fields));
}
inline void error(std::string_view target, std::string_view message, std::vector<Field> fields = {}) {
  emit(Level::Error, target, message, std::move(fields));
}

// The filter of the subscriber: a default level and per-target levels, in
// the form "info,sarn::history_store=debug" (a target also covers the targets
// below it, "sarn" covers "sarn::app"). Unknown words are ignored.
class Filter {
 public:
  static Filter parse(std::string_view spec);
  bool enabled(Level level, std::string_view target) const;

 private:
  Level m_default = Level::Info;
  std::vector<std::pair<std::string, Level>> m_targets;
};

// Installs the global subscriber: spdlog on standard error, one line per
// event ("<time> <LEVEL> <target>: <message> name=value ..."), filtered by
// the VORN_LOG environment variable (default "info"). Calling it again
// replaces the filter.
void install_default_subscriber();

// Formats an event the way the subscriber writes it (without the time).
std::string format_event(const Event& event);

// Collects every event (whatever the filter says) while it lives.
class CaptureSink {
 public:
  CaptureSink();
  ~CaptureSink();
  CaptureSink(const CaptureSink&) = delete;
  CaptureSink& operator=(const CaptureSink&) = delete;

  std::vector<Event> events() const;
  // Events whose message equals the text.
  std::vector<Event> with_message(std::string_view message) const;
  void clear();

  struct State;

 private:
  std::shared_ptr<State> m_state;
};

}  // namespace vorn_log
