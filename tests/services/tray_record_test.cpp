#include "services/tray_record.h"

#include <gtest/gtest.h>

namespace {

struct ShellCall {
  DWORD operation;
  NotifyIconData data;
  std::vector<TrayMenuItem> menu;
};

class RecordingShell : public TrayShell {
 public:
  explicit RecordingShell(std::vector<ShellCall>* calls) : calls_(calls) {}
  void NotifyIcon(DWORD operation, const NotifyIconData& data,
                  const std::vector<TrayMenuItem>& menu) override {
    calls_->push_back({operation, data, menu});
  }

 private:
  std::vector<ShellCall>* calls_;
};

class TrayRecordTest : public ::testing::Test {
 protected:
  std::vector<ShellCall> calls_;
  TrayRecord record_{std::make_unique<RecordingShell>(&calls_)};

  int TicksUntilCleared() {
    for (int tick = 1; tick < 1000; ++tick)
      if (record_.TipTick()) return tick;
    return -1;
  }
};

TEST(TrayMenuSpecTest, AlternatesTextAndLow16BitNumbers) {
  EXPECT_EQ(ParseTrayMenuSpec(u"Open,1001,Exit,1002"),
            (std::vector<TrayMenuItem>{{u"Open", 1001}, {u"Exit", 1002}}));
  EXPECT_EQ(ParseTrayMenuSpec(u"A,1,"), (std::vector<TrayMenuItem>{{u"A", 1}}));
  EXPECT_EQ(ParseTrayMenuSpec(u"A,1,B"), (std::vector<TrayMenuItem>{{u"A", 1}}));
  EXPECT_EQ(ParseTrayMenuSpec(u"A,x"), (std::vector<TrayMenuItem>{{u"A", 0}}));
  EXPECT_EQ(ParseTrayMenuSpec(u",5"), (std::vector<TrayMenuItem>{{u"", 5}}));
  EXPECT_EQ(ParseTrayMenuSpec(u"A, 12abc,B,-1,C,65537"),
            (std::vector<TrayMenuItem>{{u"A", 12}, {u"B", 65535}, {u"C", 1}}));
  EXPECT_TRUE(ParseTrayMenuSpec(u"no comma").empty());
  EXPECT_TRUE(ParseTrayMenuSpec(u"").empty());
}

TEST(CutToFieldTest, KeepsOneUnitLessThanTheField) {
  EXPECT_EQ(CutToField(Text(200, u'x'), kTipField).size(), 127u);
  EXPECT_EQ(CutToField(Text(300, u'x'), kInfoField).size(), 255u);
  EXPECT_EQ(CutToField(Text(100, u'x'), kInfoTitleField).size(), 63u);
  EXPECT_EQ(CutToField(u"short", kInfoTitleField), u"short");
  // A surrogate pair across the cut goes whole rather than leaving half a character.
  Text pair_at_cut = Text(62, u'x') + u"\U0001F600";
  EXPECT_EQ(CutToField(pair_at_cut, kInfoTitleField), Text(62, u'x'));
}

TEST_F(TrayRecordTest, ShowTrayAddsOnceThenModifiesWithTheNewMenu) {
  record_.AdoptWindow(42, u"/icon.svg");
  record_.ShowTray(Text(200, u't'), u"Open,1001,Exit,1002");
  record_.ShowTray(u"T", u"Settings,7");
  ASSERT_EQ(calls_.size(), 2u);
  EXPECT_EQ(calls_[0].operation, NIM_ADD);
  EXPECT_EQ(calls_[0].data.szTip.size(), 127u);
  EXPECT_EQ(calls_[0].data.uFlags, 7u);
  EXPECT_EQ(calls_[0].data.hWnd, 42u);
  EXPECT_EQ(calls_[0].data.uCallbackMessage, 0x464u);
  EXPECT_EQ(calls_[0].data.cbSize, 952u);
  EXPECT_EQ(calls_[1].operation, NIM_MODIFY);
  EXPECT_EQ(calls_[1].menu, (std::vector<TrayMenuItem>{{u"Settings", 7}}));
}

TEST_F(TrayRecordTest, NewestWindowOwnsTheRecordUntilTheIconIsShown) {
  record_.AdoptWindow(1, u"/icon.svg");
  record_.AdoptWindow(2, u"/icon.svg");
  EXPECT_EQ(record_.data().hWnd, 2u);
  record_.ShowTip(u"title", u"text", 300);
  record_.AdoptWindow(3, u"/icon.svg");
  EXPECT_EQ(record_.data().hWnd, 2u);
  record_.FreeTray();
  record_.AdoptWindow(4, u"/icon.svg");
  EXPECT_EQ(record_.data().hWnd, 2u);  // the shown flag stays after FreeTray
  EXPECT_TRUE(record_.shown());
}

TEST_F(TrayRecordTest, ShowTipBeforeShowTrayAddsTheIconWithoutMenuOrTip) {
  record_.AdoptWindow(5, u"/icon.svg");
  record_.ShowTip(Text(100, u'h'), u"body", 3000);
  ASSERT_EQ(calls_.size(), 1u);
  EXPECT_EQ(calls_[0].operation, NIM_ADD);
  EXPECT_EQ(calls_[0].data.uFlags, 0x17u);
  EXPECT_EQ(calls_[0].data.dwInfoFlags, NIIF_INFO);
  EXPECT_EQ(calls_[0].data.szInfoTitle.size(), 63u);
  EXPECT_EQ(calls_[0].data.uTimeout, 3000u);
  EXPECT_TRUE(calls_[0].data.szTip.empty());
  EXPECT_TRUE(calls_[0].menu.empty());
  EXPECT_FALSE(record_.menu().has_value());
}

TEST_F(TrayRecordTest, TipTimerClearsTheBalloonAfterItsTime) {
  record_.AdoptWindow(5, u"/icon.svg");
  const struct {
    int32_t time;
    int ticks;
  } rows[] = {{3000, 30}, {250, 3}, {0, 1}, {-500, 1}, {100, 1}, {101, 2}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.time);
    record_.ShowTip(u"t", u"text", row.time);
    calls_.clear();
    EXPECT_EQ(TicksUntilCleared(), row.ticks);
    ASSERT_EQ(calls_.size(), 1u);
    EXPECT_EQ(calls_[0].operation, NIM_MODIFY);
    EXPECT_TRUE(calls_[0].data.szInfo.empty());
  }
}

TEST_F(TrayRecordTest, FreeTrayRemovesOnceAndALaterShowBringsTheIconBack) {
  record_.FreeTray();
  EXPECT_TRUE(calls_.empty());  // never shown: nothing to remove
  record_.AdoptWindow(5, u"/icon.svg");
  record_.ShowTray(u"T", u"A,1");
  record_.FreeTray();
  record_.FreeTray();
  ASSERT_EQ(calls_.size(), 2u);
  EXPECT_EQ(calls_[1].operation, NIM_DELETE);
  record_.ShowTip(u"t", u"x", 100);
  EXPECT_EQ(calls_.back().operation, NIM_ADD);
}

TEST_F(TrayRecordTest, ABalloonRunningOutAfterFreeTrayLeavesTheIconAway) {
  record_.AdoptWindow(5, u"/icon.svg");
  record_.ShowTip(u"t", u"x", 200);
  record_.FreeTray();
  calls_.clear();
  EXPECT_EQ(TicksUntilCleared(), 2);
  EXPECT_TRUE(calls_.empty());
}

}  // namespace
