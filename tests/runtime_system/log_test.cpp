#include "vorn_log/log.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using vorn_log::Level;

TEST(StructuredLog, CaptureKeepsLevelTargetMessageAndFields) {
  vorn_log::CaptureSink outer;
  {
    vorn_log::CaptureSink inner;
    vorn_log::warn("sarn::history_store", "could not persist owner-local Sarn history",
                   {{"error", "disk full"}, vorn_log::field("size", 42)});
    vorn_log::debug("sarn::app", "sarn worker note");
    auto events = inner.events();
    ASSERT_EQ(events.size(), 2u);  // captured whatever the filter says
    EXPECT_EQ(events[0].level, Level::Warn);
    EXPECT_EQ(events[0].target, "sarn::history_store");
    EXPECT_EQ(events[0].field("error"), "disk full");
    EXPECT_EQ(events[0].field("size"), "42");
    EXPECT_EQ(events[0].field("absent"), std::nullopt);
    EXPECT_EQ(inner.with_message("sarn worker note").size(), 1u);
  }
  // Events from other threads reach the sink too; a dead sink gets nothing.
  std::thread([] { vorn_log::info("t", "from a thread"); }).join();
  EXPECT_EQ(outer.events().size(), 3u);
  outer.clear();
  EXPECT_TRUE(outer.events().empty());
}

TEST(StructuredLog, FilterByTargetPrefixAndLevel) {
  const auto filter = vorn_log::Filter::parse(" warn, sarn=info ,sarn::history_store=trace,bogus,x=nope");
  struct Row {
    Level level;
    const char* target;
    bool enabled;
  } rows[] = {
      {Level::Info, "other", false},        {Level::Warn, "other", true},
      {Level::Info, "sarn::app", true},     {Level::Debug, "sarn::app", false},
      {Level::Trace, "sarn::history_store", true}, {Level::Info, "sarnish", false},
      {Level::Info, "sarn", true},          {Level::Error, "x", true},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(filter.enabled(row.level, row.target), row.enabled) << row.target;
  }
  EXPECT_TRUE(vorn_log::Filter::parse("").enabled(Level::Info, "a"));
  EXPECT_FALSE(vorn_log::Filter::parse("").enabled(Level::Debug, "a"));
}

TEST(StructuredLog, FormatQuotesValuesThatAreNotOneWord) {
  vorn_log::Event event{Level::Warn, "sarn::api", "action dispatch failed",
                        {{"kind", "sarn.action"}, {"error", "say \"no\"\nnow"}, {"empty", ""}}};
  EXPECT_EQ(vorn_log::format_event(event),
            "WARN sarn::api: action dispatch failed kind=sarn.action error=\"say \\\"no\\\"\\nnow\" empty=\"\"");
}

}  // namespace
