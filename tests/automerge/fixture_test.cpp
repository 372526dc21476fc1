// Documents written by the official package, committed as fixtures so that
// these checks run without Node.
#include "compat_checks.h"

namespace {

using namespace automerge_test;

TEST(OfficialFixtures, LoadAndWriteBackUnchanged) {
    int checked = 0;
    check_official_dir(source_dir() / "fixtures", checked);
    EXPECT_GE(checked, 11);
}

TEST(OfficialFixtures, ReplayedScenariosGiveTheOfficialBytes) {
    int checked = 0;
    check_replay(source_dir() / "scenarios" / "maps.json", source_dir() / "fixtures", checked);
    EXPECT_GE(checked, 6);
}

}  // namespace
