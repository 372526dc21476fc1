// The compiled BLAKE3 sources against the published test vectors (all three
// modes, extended output, several update splits) and against b3sum.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "blake3.h"
#include "blake3/hex.h"

namespace {

std::vector<std::uint8_t> vector_input(std::size_t length) {
  std::vector<std::uint8_t> input(length);
  for (std::size_t i = 0; i < length; ++i) input[i] = static_cast<std::uint8_t>(i % 251);
  return input;
}

std::string to_hex(const std::vector<std::uint8_t>& bytes) {
  std::string out;
  for (auto b : bytes) out += fmt::format("{:02x}", b);
  return out;
}

enum class Mode { Hash, Keyed, DeriveKey };

struct Vectors {
  std::string key;
  std::string context;
  nlohmann::json cases;
};

Vectors load_vectors() {
  std::ifstream in(BLAKE3_VECTORS);
  auto doc = nlohmann::json::parse(in);
  return {doc.at("key").get<std::string>(), doc.at("context_string").get<std::string>(),
          doc.at("cases")};
}

std::vector<std::uint8_t> run(Mode mode, const Vectors& v, const std::vector<std::uint8_t>& input,
                              std::size_t split, std::size_t out_len) {
  blake3_hasher hasher;
  switch (mode) {
    case Mode::Hash: blake3_hasher_init(&hasher); break;
    case Mode::Keyed:
      blake3_hasher_init_keyed(&hasher, reinterpret_cast<const std::uint8_t*>(v.key.data()));
      break;
    case Mode::DeriveKey: blake3_hasher_init_derive_key(&hasher, v.context.c_str()); break;
  }
  std::size_t offset = 0;
  while (offset < input.size()) {
    std::size_t n = split == 0 ? input.size() : std::min(split, input.size() - offset);
    blake3_hasher_update(&hasher, input.data() + offset, n);
    offset += n;
  }
  std::vector<std::uint8_t> out(out_len);
  blake3_hasher_finalize(&hasher, out.data(), out.size());
  return out;
}

TEST(Blake3, PublishedVectorsInEveryModeAndSplit) {
  const Vectors v = load_vectors();
  ASSERT_EQ(v.key.size(), BLAKE3_KEY_LEN);
  ASSERT_GT(v.cases.size(), 30u);
  const struct { Mode mode; const char* field; } modes[] = {
      {Mode::Hash, "hash"}, {Mode::Keyed, "keyed_hash"}, {Mode::DeriveKey, "derive_key"}};
  // Whole input, byte by byte, and splits that straddle block and chunk edges.
  const std::size_t splits[] = {0, 1, 63, 1023, 4097};
  for (const auto& c : v.cases) {
    const auto length = c.at("input_len").get<std::size_t>();
    const auto input = vector_input(length);
    for (const auto& m : modes) {
      const std::string expected = c.at(m.field).get<std::string>();
      for (std::size_t split : splits) {
        if (split == 1 && length > 8192) continue;  // keep the byte-wise run short
        SCOPED_TRACE(fmt::format("len {} mode {} split {}", length, m.field, split));
        EXPECT_EQ(to_hex(run(m.mode, v, input, split, expected.size() / 2)), expected);
        EXPECT_EQ(to_hex(run(m.mode, v, input, split, BLAKE3_OUT_LEN)), expected.substr(0, 64));
      }
    }
  }
}

TEST(Blake3, HexDigestMatchesVectorsAndB3sum) {
  const Vectors v = load_vectors();
  for (const auto& c : v.cases) {
    const auto input = vector_input(c.at("input_len").get<std::size_t>());
    std::string bytes(input.begin(), input.end());
    EXPECT_EQ(blake3::hex_digest(bytes), c.at("hash").get<std::string>().substr(0, 64));
  }
  EXPECT_EQ(blake3::hex_digest("user:abc").size(), 64u);

  if (!std::filesystem::exists("/usr/bin/b3sum")) GTEST_SKIP() << "b3sum not installed";
  const auto dir = std::filesystem::temp_directory_path() /
                   fmt::format("blake3-test-{}", ::testing::UnitTest::GetInstance()->random_seed());
  std::filesystem::create_directories(dir);
  for (std::size_t length : {0u, 1u, 1024u, 1025u, 65536u, 1000003u}) {
    std::string bytes;
    bytes.reserve(length);
    std::uint32_t state = 2166136261u;
    for (std::size_t i = 0; i < length; ++i) {
      state = state * 16777619u ^ static_cast<std::uint32_t>(i);
      bytes.push_back(static_cast<char>(state >> 13));
    }
    const auto file = dir / fmt::format("in-{}", length);
    std::ofstream(file, std::ios::binary) << bytes;
    std::string command = fmt::format("/usr/bin/b3sum --no-names '{}'", file.string());
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[128] = {};
    ASSERT_NE(std::fgets(line, sizeof line, pipe), nullptr);
    ::pclose(pipe);
    std::string reference(line);
    while (!reference.empty() && (reference.back() == '\n' || reference.back() == '\r')) reference.pop_back();
    EXPECT_EQ(blake3::hex_digest(bytes), reference) << "length " << length;
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
