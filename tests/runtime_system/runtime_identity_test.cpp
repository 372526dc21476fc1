#include "runtime_identity/unix.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <vector>

#include "test_dir.h"

namespace {

using vorn_test::TempDir;
using vorn_test::write_file;
namespace identity = runtime_identity::unix;

TEST(RuntimeIdentity, StablePerMachineAndUser) {
  TempDir dir;
  write_file(dir / "a", "3d1219c7c4c5404aaa1f6d2a48adfda4\n");
  write_file(dir / "a-upper", "3D1219C7C4C5404AAA1F6D2A48ADFDA4");
  write_file(dir / "b", "00000000000000000000000000000001\n");
  const std::vector<std::filesystem::path> a{dir / "a"}, upper{dir / "a-upper"}, b{dir / "b"};

  auto first = identity::load_from(a, 1000);
  auto again = identity::load_from(a, 1000);
  ASSERT_TRUE(first && again);
  EXPECT_EQ(first->identifier, again->identifier);
  EXPECT_EQ(first->uid, 1000u);
  EXPECT_EQ(identity::load_from(upper, 1000)->identifier, first->identifier);
  EXPECT_NE(identity::load_from(a, 1001)->identifier, first->identifier);
  EXPECT_NE(identity::load_from(b, 1000)->identifier, first->identifier);
}

TEST(RuntimeIdentity, UnusableMachineIdFilesAreSkipped) {
  TempDir dir;
  write_file(dir / "short", "3d1219c7c4c5404aaa1f6d2a48adfda\n");
  write_file(dir / "zero", "00000000000000000000000000000000\n");
  write_file(dir / "nonhex", "3d1219c7c4c5404aaa1f6d2a48adfdaz\n");
  write_file(dir / "extra", "3d1219c7c4c5404aaa1f6d2a48adfda4\n\n");
  write_file(dir / "big", std::string(5000, 'a'));
  std::filesystem::create_directories(dir / "dir");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);  // must not block
  write_file(dir / "good", "0123456789abcdef0123456789abcdef");

  std::vector<std::filesystem::path> bad{dir / "missing", dir / "short", dir / "zero", dir / "nonhex",
                                         dir / "extra",   dir / "big",   dir / "dir",  dir / "fifo"};
  auto none = identity::load_from(bad, 1000);
  ASSERT_FALSE(none.has_value());
  EXPECT_FALSE(none.error().message.empty());

  bad.push_back(dir / "good");
  const std::vector<std::filesystem::path> good{dir / "good"};
  ASSERT_TRUE(identity::load_from(bad, 7));
  EXPECT_EQ(identity::load_from(bad, 7)->identifier, identity::load_from(good, 7)->identifier);
}

TEST(RuntimeIdentity, LoadsOnThisMachine) {
  auto id = identity::load();
  if (!id) GTEST_SKIP() << "no machine id here: " << id.error().message;
  EXPECT_EQ(id->uid, ::geteuid());
  EXPECT_EQ(identity::load()->identifier, id->identifier);
}

}  // namespace
