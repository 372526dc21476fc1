#include "vorn_log/log.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>

#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>

namespace vorn_log {

struct CaptureSink::State {
  mutable std::mutex mutex;
  std::vector<Event> events;
};

namespace {

struct Registry {
  std::mutex mutex;
  Filter filter = Filter::parse("warn");
  std::shared_ptr<spdlog::logger> logger;
  std::vector<std::shared_ptr<CaptureSink::State>> captures;
};

Registry& registry() {
  static Registry instance;
  return instance;
}

// The plain facade: one spdlog logger on standard error; our filter decides
// what reaches it.
std::shared_ptr<spdlog::logger> stderr_logger() {
  static std::once_flag once;
  static std::shared_ptr<spdlog::logger> logger;
  std::call_once(once, [] {
    logger = spdlog::get("vorn");
    if (!logger) logger = spdlog::stderr_color_mt("vorn");
    logger->set_pattern("%Y-%m-%dT%H:%M:%S.%fZ %^%5l%$ %v", spdlog::pattern_time_type::utc);
    logger->set_level(spdlog::level::trace);
  });
  return logger;
}

spdlog::level::level_enum to_spdlog(Level level) {
  switch (level) {
    case Level::Trace: return spdlog::level::trace;
    case Level::Debug: return spdlog::level::debug;
    case Level::Info: return spdlog::level::info;
    case Level::Warn: return spdlog::level::warn;
    case Level::Error: return spdlog::level::err;
  }
  return spdlog::level::info;
}

std::optional<Level> parse_level(std::string_view word) {
  static constexpr std::pair<std::string_view, Level> names[] = {
      {"trace", Level::Trace}, {"debug", Level::Debug}, {"info", Level::Info},
      {"warn", Level::Warn},   {"warning", Level::Warn}, {"error", Level::Error}};
  for (const auto& [name, level] : names) {
    if (word.size() == name.size() &&
        std::equal(word.begin(), word.end(), name.begin(),
                   [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; })) {
      return level;
    }
  }
  return std::nullopt;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// A field value is quoted when it would not read back as one word.
std::string render_value(std::string_view value) {
  bool plain = !value.empty() && std::none_of(value.begin(), value.end(), [](char c) {
    return c == ' ' || c == '"' || c == '=' || static_cast<unsigned char>(c) < 0x20;
  });
  if (plain) return std::string(value);
  std::string out = "\"";
  for (char c : value) {
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (static_cast<unsigned char>(c) < 0x20) {
      out += fmt::format("\\x{:02x}", static_cast<unsigned char>(c));
    } else {
      out.push_back(c);
    }
  }
  out.push_back('"');
  return out;
}

}  // namespace

std::string_view level_name(Level level) {
  switch (level) {
    case Level::Trace: return "TRACE";
    case Level::Debug: return "DEBUG";
    case Level::Info: return "INFO";
    case Level::Warn: return "WARN";
    case Level::Error: return "ERROR";
  }
  return "INFO";
}

std::optional<std::string> Event::field(std::string_view name) const {
  for (const auto& f : fields) {
    if (f.name == name) return f.value;
  }
  return std::nullopt;
}

Filter Filter::parse(std::string_view spec) {
  Filter filter;
  while (!spec.empty()) {
    auto comma = spec.find(',');
    std::string_view part = trim(spec.substr(0, comma));
    spec = comma == std::string_view::npos ? std::string_view{} : spec.substr(comma + 1);
    if (part.empty()) continue;
    auto eq = part.find('=');
    if (eq == std::string_view::npos) {
      if (auto level = parse_level(part)) filter.m_default = *level;
      continue;
    }
    auto target = trim(part.substr(0, eq));
    if (auto level = parse_level(trim(part.substr(eq + 1))); level && !target.empty()) {
      filter.m_targets.emplace_back(std::string(target), *level);
    }
  }
  // Longest target first so that the most specific rule wins.
  std::stable_sort(filter.m_targets.begin(), filter.m_targets.end(),
                   [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
  return filter;
}

bool Filter::enabled(Level level, std::string_view target) const {
  for (const auto& [prefix, threshold] : m_targets) {
    if (target.starts_with(prefix) &&
        (target.size() == prefix.size() || target.substr(prefix.size()).starts_with("::"))) {
      return level >= threshold;
    }
  }
  return level >= m_default;
}

std::string format_event(const Event& event) {
  std::string line = fmt::format("{} {}: {}", level_name(event.level), event.target, event.message);
  for (const auto& f : event.fields) {
    line += fmt::format(" {}={}", f.name, render_value(f.value));
  }
  return line;
}

void emit(Level level, std::string_view target, std::string_view message, std::vector<Field> fields) {
  Event event{level, std::string(target), std::string(message), std::move(fields)};
  std::shared_ptr<spdlog::logger> logger;
  std::vector<std::shared_ptr<CaptureSink::State>> captures;
  bool enabled = false;
  {
    auto& reg = registry();
    std::lock_guard lock(reg.mutex);
    captures = reg.captures;
    enabled = reg.filter.enabled(level, target);
    if (enabled) {
      if (!reg.logger) reg.logger = stderr_logger();
      logger = reg.logger;
    }
  }
  for (const auto& capture : captures) {
    std::lock_guard lock(capture->mutex);
    capture->events.push_back(event);
  }
  if (logger) {
    std::string line = fmt::format("{}: {}", event.target, event.message);
    for (const auto& f : event.fields) line += fmt::format(" {}={}", f.name, render_value(f.value));
    logger->log(to_spdlog(level), "{}", line);
  }
}

void install_default_subscriber() {
  const char* spec = std::getenv("VORN_LOG");
  auto logger = stderr_logger();
  auto& reg = registry();
  std::lock_guard lock(reg.mutex);
  reg.filter = Filter::parse(spec != nullptr ? spec : "info");
  reg.logger = logger;
}

CaptureSink::CaptureSink() : m_state(std::make_shared<State>()) {
  auto& reg = registry();
  std::lock_guard lock(reg.mutex);
  reg.captures.push_back(m_state);
}

CaptureSink::~CaptureSink() {
  auto& reg = registry();
  std::lock_guard lock(reg.mutex);
  std::erase(reg.captures, m_state);
}

std::vector<Event> CaptureSink::events() const {
  std::lock_guard lock(m_state->mutex);
  return m_state->events;
}

std::vector<Event> CaptureSink::with_message(std::string_view message) const {
  std::lock_guard lock(m_state->mutex);
  std::vector<Event> out;
  for (const auto& e : m_state->events) {
    if (e.message == message) out.push_back(e);
  }
  return out;
}

void CaptureSink::clear() {
  std::lock_guard lock(m_state->mutex);
  m_state->events.clear();
}

}  // namespace vorn_log
