#include "vorn_ui/persist.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "test_dir.h"

namespace {

using vorn_test::mode_of;
using vorn_test::read_file;
using vorn_test::TempDir;
using vorn_test::write_file;
using vorn_ui::persist::DocumentStore;

void put_flag(automerge::Document& doc, bool value) {
  ASSERT_TRUE(doc.put(automerge::ObjId::root(), "flag", automerge::Value::boolean(value)));
  doc.commit();
}

std::optional<bool> flag(const automerge::Document& doc) {
  auto item = doc.get(automerge::ObjId::root(), "flag");
  if (!item || !*item) return std::nullopt;
  return (*item)->value.as_bool();
}

TEST(Persist, SavesWhenChangedAndLoadsAtStart) {
  TempDir dir;
  const auto path = dir / "data/vorn/app/shared.automerge";
  {
    auto store = DocumentStore::open_at(path);
    EXPECT_FALSE(store.load_error());
    ASSERT_TRUE(store.save_if_changed());
    EXPECT_FALSE(std::filesystem::exists(path)) << "nothing changed, nothing written";
    put_flag(store.document(), true);
    ASSERT_TRUE(store.save_if_changed());
  }
  EXPECT_EQ(mode_of(path), 0600u);
  EXPECT_EQ(mode_of(path.parent_path()), 0700u);
  auto store = DocumentStore::open_at(path);
  EXPECT_FALSE(store.load_error());
  EXPECT_EQ(flag(store.document()), true);
}

// Sets "flag" to true, or refuses.
class FlagAction final : public vorn_actions::TypedAction {
 public:
  explicit FlagAction(bool refuse) : m_refuse(refuse) {}
  std::string debug_text() const override { return "Flag"; }
  std::expected<void, vorn_actions::ActionError> apply(automerge::Document& doc) const override {
    if (m_refuse) return std::unexpected(vorn_actions::ActionError::message("no"));
    auto put = doc.put(automerge::ObjId::root(), "flag", automerge::Value::boolean(true));
    if (!put) return std::unexpected(vorn_actions::ActionError::document(put.error()));
    return {};
  }
  bool is_collaborative() const override { return false; }
  std::expected<std::string, std::string> encode_json() const override { return std::string("\"Flag\""); }

 private:
  bool m_refuse;
};

TEST(Persist, EveryDispatchIsSaved) {
  TempDir dir;
  const auto path = dir / "shared.automerge";
  auto store = DocumentStore::open_at(path);
  vorn_ui::bound_dispatch::DispatchState state;
  EXPECT_FALSE(store.dispatch(state, "test.action", FlagAction(true), nullptr));
  EXPECT_FALSE(std::filesystem::exists(path));
  vorn_actions::ActionRegistry registry;
  registry.register_action_namespace("test.action", [](std::string_view)
                                         -> std::expected<std::unique_ptr<vorn_actions::TypedAction>,
                                                          vorn_actions::ActionError> {
    return std::make_unique<FlagAction>(false);
  });
  EXPECT_FALSE(store.dispatch_encoded(registry, state, {"other", "\"Flag\""}, nullptr));
  EXPECT_TRUE(store.dispatch_encoded(registry, state, {"test.action", "\"Flag\""}, nullptr));
  auto reopened = DocumentStore::open_at(path);
  EXPECT_EQ(flag(reopened.document()), true);
}

TEST(Persist, CorruptOrUntrustedFilesAreKeptAndReported) {
  TempDir dir;
  const std::string garbage = "\x85o\x4a\x83 definitely not a document";
  write_file(dir / "corrupt", garbage);
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  std::filesystem::create_directories(dir / "folder");
  write_file(dir / "real", "x");
  std::filesystem::create_symlink(dir / "real", dir / "link");
  for (const char* name : {"corrupt", "fifo", "folder", "link"}) {
    auto store = DocumentStore::open_at(dir / name);
    EXPECT_TRUE(store.load_error()) << name;
    put_flag(store.document(), true);
    EXPECT_FALSE(store.save_if_changed()) << name;
  }
  EXPECT_EQ(read_file(dir / "corrupt"), garbage);
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link"));
  EXPECT_EQ(read_file(dir / "real"), "x");
}

TEST(Persist, OpenUsesTheLocalDataDirectory) {
  TempDir dir;
  const char* old = std::getenv("XDG_DATA_HOME");
  std::string saved = old ? old : "";
  ::setenv("XDG_DATA_HOME", dir.path().c_str(), 1);
  auto store = vorn_ui::persist::open("org.example.App");
  ASSERT_TRUE(store);
  EXPECT_EQ(store->path(), dir.path() / "vorn/org.example.App/shared.automerge");
  EXPECT_FALSE(vorn_ui::persist::open("../escape"));
  EXPECT_FALSE(vorn_ui::persist::open(""));
  if (old) ::setenv("XDG_DATA_HOME", saved.c_str(), 1); else ::unsetenv("XDG_DATA_HOME");
}

}  // namespace
