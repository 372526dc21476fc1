// Runs the tests' Node scripts that read and write documents with the
// official automerge package, installed by the engine's test harness
// (tests/automerge/node).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

namespace vorn_test {

// Why the official package cannot be used here, or none when it can.
inline std::optional<std::string> official_package_missing() {
  if (std::system("node --version > /dev/null 2>&1") != 0) return "node is not installed";
  const auto package =
      std::filesystem::path(VORN_SOURCE_DIR) / "tests/automerge/node/node_modules/@automerge/automerge/package.json";
  if (!std::filesystem::exists(package)) return "run scripts/setup.sh to install the automerge harness";
  return std::nullopt;
}

// tests/actions/node/<script> <mode> <file>: its standard output as JSON;
// none when it fails or prints anything else.
inline std::optional<nlohmann::json> run_node_script(const std::string& script, const std::string& mode,
                                                     const std::filesystem::path& file) {
  const auto path = std::filesystem::path(VORN_SOURCE_DIR) / "tests/actions/node" / script;
  const std::string command = fmt::format("node '{}' {} '{}'", path.string(), mode, file.string());
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return std::nullopt;
  std::string out;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
  if (::pclose(pipe) != 0) return std::nullopt;
  auto json = nlohmann::json::parse(out, nullptr, false);
  if (json.is_discarded()) return std::nullopt;
  return json;
}

}  // namespace vorn_test
