#include "sarn/actions/owner_identity.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "test_dir.h"

namespace {

using namespace sarn;
using vorn_test::mode_of;
using vorn_test::read_file;
using vorn_test::TempDir;
using vorn_test::write_file;

using Env = std::map<std::string, std::string>;

OwnerIdentitySources sources(std::optional<std::filesystem::path> data, Env env = {}, bool runtime = false) {
  OwnerIdentitySources s;
  s.runtime_identity = [runtime]()
      -> std::expected<runtime_identity::unix::LocalIdentity, runtime_identity::unix::IdentityError> {
    if (!runtime) return std::unexpected(runtime_identity::unix::IdentityError{"none"});
    runtime_identity::unix::LocalIdentity id;
    for (std::size_t i = 0; i < id.identifier.size(); ++i) id.identifier[i] = static_cast<std::uint8_t>(i * 7);
    return id;
  };
  s.local_data_dir = std::move(data);
  s.env = [env](const char* name) -> std::optional<std::string> {
    auto it = env.find(name);
    if (it == env.end()) return std::nullopt;
    return it->second;
  };
  return s;
}

bool is_uuid_identity(const std::string& id) {
  if (id.size() != 5 + 36 || !id.starts_with("user:")) return false;
  for (std::size_t i = 5; i < id.size(); ++i) {
    const char c = id[i];
    const std::size_t pos = i - 5;
    if (pos == 8 || pos == 13 || pos == 18 || pos == 23) {
      if (c != '-') return false;
    } else if (!std::isxdigit(static_cast<unsigned char>(c)) || std::isupper(static_cast<unsigned char>(c))) {
      return false;
    }
  }
  return id[5 + 14] == '4';  // version 4
}

TEST(OwnerIdentity, RuntimeIdentityComesFirst) {
  TempDir dir;
  auto id = history_owner_id_from(sources(dir.path(), {}, true));
  EXPECT_EQ(id, "user:00070e151c232a31383f464d545b626970777e858c939aa1a8afb6bdc4cbd2d9");
  EXPECT_FALSE(std::filesystem::exists(dir / "vorn/sarn/history-owner"));
  EXPECT_EQ(history_owner_id().rfind("user:", 0), 0u);
}

TEST(OwnerIdentity, IdentityFileIsReadWholeOrReplacedWhenMalformed) {
  TempDir dir;
  const auto file = dir / "vorn/sarn/history-owner";
  // Missing: a new UUID identity is stored with mode 0600.
  const auto first = history_owner_id_from(sources(dir.path()));
  EXPECT_TRUE(is_uuid_identity(first)) << first;
  EXPECT_EQ(read_file(file), first);
  EXPECT_EQ(mode_of(file), 0600u);
  EXPECT_EQ(history_owner_id_from(sources(dir.path())), first);

  const struct {
    std::string content;
    bool kept;
  } rows[] = {
      {"user:x", true},
      {"user:x\n", true},  // not trimmed
      {"user:", false},
      {"usr:abcdef", false},
      {"", false},
      {"user:\xff\xfe", false},
      {"user:" + std::string(5000, 'a'), false},
  };
  for (const auto& row : rows) {
    write_file(file, row.content);
    auto id = history_owner_id_from(sources(dir.path()));
    if (row.kept) {
      EXPECT_EQ(id, row.content);
      EXPECT_EQ(read_file(file), row.content);
    } else {
      EXPECT_TRUE(is_uuid_identity(id)) << row.content.substr(0, 20);
      EXPECT_EQ(read_file(file), id);
    }
  }
}

TEST(OwnerIdentity, NeverWritesThroughLinksOrOverUnreadableFiles) {
  TempDir dir;
  const auto folder = dir / "vorn/sarn";
  std::filesystem::create_directories(folder);
  const auto file = folder / "history-owner";
  const Env env{{"USER", "ann"}, {"HOSTNAME", "box"}};
  const std::string fallback = fmt::format("user:{:016x}", fnv1a64("ann@box"));

  // A link planted at the identity file: neither followed nor replaced.
  write_file(dir / "elsewhere", "user:planted");
  std::filesystem::create_symlink(dir / "elsewhere", file);
  EXPECT_EQ(history_owner_id_from(sources(dir.path(), env)), fallback);
  EXPECT_TRUE(std::filesystem::is_symlink(file));
  EXPECT_EQ(read_file(dir / "elsewhere"), "user:planted");
  std::filesystem::remove(file);

  // A FIFO does not block and is left alone; so is a directory.
  ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
  EXPECT_EQ(history_owner_id_from(sources(dir.path(), env)), fallback);
  EXPECT_TRUE(std::filesystem::is_fifo(file));
  std::filesystem::remove(file);
  std::filesystem::create_directories(file);
  EXPECT_EQ(history_owner_id_from(sources(dir.path(), env)), fallback);
  EXPECT_TRUE(std::filesystem::is_directory(file));
  std::filesystem::remove(file);

  // Another user's file (CI runs as root, so it can hand the file over).
  if (::geteuid() == 0) {
    write_file(file, "user:theirs");
    ASSERT_EQ(::chown(file.c_str(), 4242, 4242), 0);
    EXPECT_EQ(history_owner_id_from(sources(dir.path(), env)), fallback);
    EXPECT_EQ(read_file(file), "user:theirs");
    std::filesystem::remove(file);
  } else {
    // Unreadable for us: a permission error is not a missing file.
    write_file(file, "user:mine");
    ASSERT_EQ(::chmod(file.c_str(), 0000), 0);
    EXPECT_EQ(history_owner_id_from(sources(dir.path(), env)), fallback);
    ::chmod(file.c_str(), 0600);
    EXPECT_EQ(read_file(file), "user:mine");
  }
}

TEST(OwnerIdentity, EnvironmentFallbackAndUnstoredIdentity) {
  const struct {
    Env env;
    std::string name;  // empty: a random identity is expected
  } rows[] = {
      {{{"USER", "ann"}, {"HOSTNAME", "box"}}, "ann@box"},
      {{{"USERNAME", "bob"}}, "bob@"},
      {{{"USER", ""}, {"USERNAME", "bob"}, {"HOSTNAME", "h"}}, "bob@h"},
      {{{"HOSTNAME", "h"}}, "@h"},
      {{{"USER", "\xff"}, {"HOSTNAME", "h"}}, "@h"},  // not Unicode: empty
      {{}, ""},
  };
  for (const auto& row : rows) {
    // No local data directory: nothing is stored, not even in /tmp.
    auto id = history_owner_id_from(sources(std::nullopt, row.env));
    if (row.name.empty()) {
      EXPECT_TRUE(is_uuid_identity(id)) << id;
      EXPECT_NE(history_owner_id_from(sources(std::nullopt, row.env)), id);
    } else {
      EXPECT_EQ(id, fmt::format("user:{:016x}", fnv1a64(row.name))) << row.name;
    }
  }
  EXPECT_EQ(fnv1a64(""), 0xcbf29ce484222325ULL);
  EXPECT_EQ(fnv1a64("a"), 0xaf63dc4c8601ec8cULL);
}

TEST(OwnerIdentity, UnwritableFolderFallsBack) {
  TempDir dir;
  // The data directory is a file: no identity can be stored there.
  write_file(dir / "data", "x");
  const Env env{{"USER", "ann"}};
  EXPECT_EQ(history_owner_id_from(sources(dir / "data", env)), fmt::format("user:{:016x}", fnv1a64("ann@")));
  auto unstored = history_owner_id_from(sources(dir / "data"));
  EXPECT_TRUE(is_uuid_identity(unstored));
}

}  // namespace
