#include "atomic_file/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "test_dir.h"

namespace {

using vorn_test::mode_of;
using vorn_test::read_file;
using vorn_test::TempDir;
using vorn_test::write_file;

std::size_t entries_in(const std::filesystem::path& dir) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++n;
  return n;
}

bool has_temporaries(const std::filesystem::path& dir) {
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    if (e.path().filename().string().ends_with(".tmp")) return true;
  }
  return false;
}

TEST(AtomicFile, WritesCreatesParentsAndSetsTheExactMode) {
  TempDir dir;
  const mode_t old_umask = ::umask(0077);
  struct Case {
    const char* name;
    mode_t mode;
  } cases[] = {{"a/b/c/file.bin", 0600}, {"shot.png", 0644}, {"x/y", 0640}};
  for (const auto& c : cases) {
    const auto path = dir / c.name;
    ASSERT_TRUE(atomic_file::write_creating_parent_with_mode(path, "first", c.mode).has_value()) << c.name;
    EXPECT_EQ(read_file(path), "first");
    EXPECT_EQ(mode_of(path), c.mode) << c.name;
    // Replacing keeps one file with the new bytes and no temporary left over.
    ASSERT_TRUE(atomic_file::write_creating_parent_with_mode(path, std::string(100000, 'z'), c.mode));
    EXPECT_EQ(read_file(path), std::string(100000, 'z'));
    EXPECT_FALSE(has_temporaries(path.parent_path())) << c.name;
  }
  ::umask(old_umask);
  ASSERT_TRUE(atomic_file::write_creating_parent(dir / "plain", ""));
  EXPECT_EQ(read_file(dir / "plain"), "");
  EXPECT_EQ(mode_of(dir / "plain"), 0644u);
}

TEST(AtomicFile, ReplacesALinkInsteadOfWritingThroughIt) {
  TempDir dir;
  write_file(dir / "victim", "keep me");
  std::filesystem::create_symlink(dir / "victim", dir / "target");
  ASSERT_TRUE(atomic_file::write_with_mode(dir / "target", "new", 0600));
  EXPECT_EQ(read_file(dir / "victim"), "keep me");
  EXPECT_FALSE(std::filesystem::is_symlink(dir / "target"));
  EXPECT_EQ(read_file(dir / "target"), "new");
}

TEST(AtomicFile, FailuresLeaveTheTargetAndNoTemporary) {
  TempDir dir;
  // The target is a directory: the rename fails, the directory stays.
  std::filesystem::create_directories(dir / "is-dir" / "inner");
  auto result = atomic_file::write_with_mode(dir / "is-dir", "bytes", 0600);
  ASSERT_FALSE(result.has_value());
  EXPECT_TRUE(std::filesystem::is_directory(dir / "is-dir" / "inner"));
  EXPECT_EQ(entries_in(dir.path()), 1u);

  // A parent that is a file cannot be created.
  write_file(dir / "file", "x");
  EXPECT_FALSE(atomic_file::write_creating_parent_with_mode(dir / "file" / "child", "b", 0600).has_value());
  EXPECT_EQ(read_file(dir / "file"), "x");

  // A missing parent without creation.
  EXPECT_EQ(atomic_file::write_with_mode(dir / "missing" / "f", "b", 0600).error(),
            std::make_error_code(std::errc::no_such_file_or_directory));
}

}  // namespace
