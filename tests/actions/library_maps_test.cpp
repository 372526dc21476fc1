// Concurrent copies of the library maps: the program reads them all, and the
// convergence writes make the winning copies hold everything, so that the
// official package, which reads the winners only, sees the whole library.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "doc_reading.h"
#include "sarn/actions/library_maps.h"
#include "sarn/actions/shared_reducer.h"
#include "node_script.h"
#include "test_dir.h"

namespace sarn {
namespace {

namespace a = sarn::action;
using sarn_test::bool_at;
using sarn_test::str_at;

void apply_all(automerge::Document& doc, const std::vector<SarnAction>& actions) {
    for (const SarnAction& action : actions) ASSERT_TRUE(apply_shared_action(action, doc));
    doc.commit();
}

// Two instances that each wrote their first changes on a new document.
automerge::Document two_instances(const std::vector<SarnAction>& first, const std::vector<SarnAction>& second) {
    automerge::Document one;
    automerge::Document two;
    apply_all(one, first);
    apply_all(two, second);
    EXPECT_TRUE(one.merge(two));
    return one;
}

std::optional<nlohmann::json> read_with_node(const std::filesystem::path& file) {
    return vorn_test::run_node_script("library_file.cjs", "read", file);
}

TEST(KeptData, ConcurrentLibraryRootsConvergeOnTheWinner) {
    automerge::Document doc = two_instances(
        {a::SetVideoLiked{"v1", true}, a::SetSetting{Setting::Autoplay, false},
         a::SetCommentReply{"c1", "reply-x", "edited", false}},
        {a::SetSubscription{"UC1", true}, a::SetVideoLiked{"v2", false},
         a::SetSponsorCategory{SponsorCategory::Filler, SponsorMode::Show}, a::SetPreferredQuality{"480p"},
         a::ReplyToComment{"", 0, "c2", "hi"}, a::SetCommentLiked{"c2", true}});
    ASSERT_EQ(LibraryMaps::root(doc).maps().size(), 2u);

    const auto actions = convergence_actions(doc);
    ASSERT_FALSE(actions.empty());
    apply_all(doc, actions);

    EXPECT_EQ(bool_at(doc, "sarn/likes/v1"), true);
    EXPECT_EQ(bool_at(doc, "sarn/likes/v2"), false);  // false entries too
    EXPECT_EQ(bool_at(doc, "sarn/subscriptions/UC1"), true);
    EXPECT_EQ(bool_at(doc, "sarn/settings/autoplay"), false);
    EXPECT_EQ(str_at(doc, "sarn/settings/preferred_quality"), "480p");
    EXPECT_EQ(str_at(doc, "sarn/settings/sponsor_categories/filler"), "show");
    EXPECT_EQ(bool_at(doc, "sarn/comment_likes/c2"), true);
    EXPECT_EQ(str_at(doc, "sarn/comment_replies/c2/" + reply_id_for("c2", "hi")), "hi");
    EXPECT_EQ(str_at(doc, "sarn/comment_replies/c1/reply-x/text"), "edited");
    EXPECT_EQ(bool_at(doc, "sarn/comment_replies/c1/reply-x/active"), false);

    // Converged: nothing more to write, however often it is asked.
    EXPECT_TRUE(convergence_actions(doc).empty());
}

TEST(KeptData, AKeyBothCopiesHoldKeepsTheWinnersValue) {
    automerge::Document doc = two_instances({a::SetVideoLiked{"v", true}}, {a::SetVideoLiked{"v", false}});
    const std::optional<bool> shown = LibraryMaps::root(doc).child(doc, "likes").flag(doc, "v");
    EXPECT_EQ(shown, bool_at(doc, "sarn/likes/v"));
    EXPECT_TRUE(convergence_actions(doc).empty());

    // One copy of everything writes nothing.
    automerge::Document single;
    apply_all(single, {a::SetVideoLiked{"v", true}, a::SetSubscription{"UC", true}});
    EXPECT_TRUE(convergence_actions(single).empty());
    EXPECT_TRUE(convergence_actions(automerge::Document{}).empty());
}

TEST(KeptData, ConcurrentListMapsInsideOneRootConvergeToo) {
    // Both instances share the root, then each creates the queue map.
    automerge::Document base;
    apply_all(base, {a::SetSetting{Setting::Autoplay, true}});
    automerge::Document other = base.fork();
    apply_all(base, {a::SetQueueMembership{"q1", true}});
    apply_all(other, {a::SetQueueMembership{"q2", true}});
    ASSERT_TRUE(base.merge(other));
    ASSERT_EQ(LibraryMaps::root(base).maps().size(), 1u);
    ASSERT_EQ(LibraryMaps::root(base).child(base, "queue").maps().size(), 2u);
    apply_all(base, convergence_actions(base));
    EXPECT_EQ(bool_at(base, "sarn/queue/q1"), true);
    EXPECT_EQ(bool_at(base, "sarn/queue/q2"), true);
}

TEST(KeptData, TheOfficialPackageReadsBothInstancesChangesFromOneMap) {
    if (auto missing = vorn_test::official_package_missing()) GTEST_SKIP() << *missing;

    automerge::Document doc = two_instances({a::SetVideoLiked{"v1", true}}, {a::SetSubscription{"UC1", true}});
    vorn_test::TempDir dir;
    auto save = [&](const std::string& name) {
        const auto path = dir.path() / name;
        const auto bytes = doc.save();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        return path;
    };
    const auto before = read_with_node(save("before.automerge"));
    ASSERT_TRUE(before.has_value()) << "the official package could not load the document";
    EXPECT_EQ((*before)["copies"], 2);
    // The reader sees one instance's change only.
    EXPECT_NE((*before)["sarn"].contains("likes"), (*before)["sarn"].contains("subscriptions"));

    apply_all(doc, convergence_actions(doc));
    const auto after = read_with_node(save("after.automerge"));
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ((*after)["sarn"]["likes"]["v1"], true);
    EXPECT_EQ((*after)["sarn"]["subscriptions"]["UC1"], true);
}

}  // namespace
}  // namespace sarn
