// Live checks against the official package under Node: documents it writes
// load in ours, documents we write load in it (which recomputes every change
// hash and checks the heads), and our bytes equal its bytes. Needs node and
// the harness's node_modules (scripts/setup.sh installs them); their absence
// is a failure, not a skip.
#include <filesystem>
#include <fstream>

#include "compat_checks.h"

namespace {

using namespace automerge_test;
namespace fs = std::filesystem;

class LiveOfficial : public ::testing::Test {
protected:
    void SetUp() override {
        harness = source_dir() / "node";
        ASSERT_EQ(run("node --version").status, 0) << "node is not installed";
        ASSERT_TRUE(fs::exists(harness / "node_modules" / "@automerge" / "automerge" / "package.json"))
            << "the harness's packages are missing: run scripts/setup.sh";
        work = fs::path(VORN_BINARY_DIR) / "automerge-live" /
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(work);
        fs::create_directories(work);
    }

    RunResult node(const std::string& args) {
        return run("cd '" + harness.string() + "' && node harness.mjs " + args);
    }

    fs::path harness;
    fs::path work;
};

TEST_F(LiveOfficial, OfficialDocumentsLoadInOursAndReplayToTheSameBytes) {
    for (const char* set : {"maps", "rich"}) {
        auto built = node("build '" + (source_dir() / "scenarios" / (std::string(set) + ".json")).string() + "' '" +
                          (work / "official").string() + "'");
        ASSERT_EQ(built.status, 0) << built.output;
    }
    int checked = 0;
    check_official_dir(work / "official", checked);
    EXPECT_GE(checked, 12);
    int replayed = 0;
    check_replay(source_dir() / "scenarios" / "maps.json", work / "official", replayed);
    EXPECT_GE(replayed, 8);
}

// Commits with an empty message, without one and with a text, and a merge of
// another replica's empty-message change: our saves equal the official ones.
TEST_F(LiveOfficial, EmptyMessagesAreSavedAsTheOfficialPackageSavesThem) {
    const auto scenarios = source_dir() / "scenarios" / "messages.json";
    auto built = node("build '" + scenarios.string() + "' '" + (work / "official").string() + "'");
    ASSERT_EQ(built.status, 0) << built.output;
    int replayed = 0;
    check_replay(scenarios, work / "official", replayed);
    EXPECT_EQ(replayed, 2);
    for (const char* name : {"message_empty", "message_merged"}) {
        SCOPED_TRACE(name);
        const auto saved = read_file(work / "official" / (std::string(name) + ".automerge"));
        auto loaded = automerge::Document::load(saved);
        ASSERT_TRUE(loaded) << loaded.error().message;
        expect_same_document(loaded->save(), saved, "official document written back");
    }
}

TEST_F(LiveOfficial, OurDocumentsLoadInTheOfficialPackage) {
    fs::create_directories(work / "ours");
    auto keep = [&](const std::string& name, automerge::Document& doc) {
        write_file(work / "ours" / (name + ".automerge"), doc.save());
        std::ofstream(work / "ours" / (name + ".json")) << dump(doc).dump() << "\n";
    };
    for (const auto& scenario : load_json(source_dir() / "scenarios" / "maps.json")) {
        auto doc = play(scenario);
        ASSERT_TRUE(doc) << doc.error();
        keep(scenario["name"], *doc);
    }
    // Lists, text, marks and counters that only the official writer makes,
    // loaded and written back by ours.
    for (const auto& entry : fs::directory_iterator(source_dir() / "fixtures")) {
        if (entry.path().extension() != ".automerge" || !entry.path().stem().string().starts_with("rich_")) continue;
        auto doc = automerge::Document::load(read_file(entry.path()));
        ASSERT_TRUE(doc) << doc.error().message;
        keep("resaved_" + entry.path().stem().string(), *doc);
    }
    // A value of a type code the official package does not know survives.
    automerge::Document unknown(*automerge::ActorId::from_hex("abcdef01"));
    ASSERT_TRUE(unknown.put(automerge::ObjId::root(), "future", automerge::Value::unknown(12, {1, 2, 3})));
    ASSERT_TRUE(unknown.put(automerge::ObjId::root(), "known", automerge::Value::uint64(7)));
    unknown.commit({.message = "unknown type", .time = 5});
    keep("unknown_type", unknown);

    auto verified = node("verify '" + (work / "ours").string() + "'");
    EXPECT_EQ(verified.status, 0) << verified.output;
}

// An owner history of 10,000 entries written by the official package: its
// long columns span several DEFLATE blocks and slide the 32 KiB window, and
// the whole document still saves back to the same bytes.
TEST_F(LiveOfficial, LargeHistoryDocumentSavesBackToTheSameBytes) {
    const fs::path file = work / "history-10000.automerge";
    auto built = run("cd '" + harness.string() + "' && node bench_peer.mjs 10000 '" + file.string() + "' 1");
    ASSERT_EQ(built.status, 0) << built.output;
    const auto official = read_file(file);
    auto doc = automerge::Document::load(official);
    ASSERT_TRUE(doc) << doc.error().message;
    EXPECT_EQ(doc->change_count(), 10000u);
    expect_same_document(doc->save(), official, "saved history");
}

}  // namespace
