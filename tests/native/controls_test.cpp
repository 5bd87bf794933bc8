#include "app/controls/controls.h"
#include "platform/memory/manual_timers.h"

#include <gtest/gtest.h>

#include <utility>

namespace qvx {
namespace {

struct RecordingPeer : IControlPeer {
    std::vector<std::pair<std::string, TProp>> Seen;
    void PropertyChanged(TControl& c, TProp p) override { Seen.emplace_back(c.Name(), p); }
};

TEST(Controls, KeepInsideMovesABoxOntoTheAreaWithoutResizingIt) {
    const TBounds area{0, 0, 1280, 1000};
    auto kept = [&](int left, int top, int width, int height) {
        const TBounds b = KeepInside(TBounds{left, top, width, height}, area);
        EXPECT_EQ(b.Width, width);
        EXPECT_EQ(b.Height, height);
        return std::make_pair(b.Left, b.Top);
    };
    EXPECT_EQ(kept(100, 50, 600, 400), std::make_pair(100, 50));   // inside: stays
    EXPECT_EQ(kept(2000, 50, 600, 400), std::make_pair(680, 50));  // a monitor to the right
    EXPECT_EQ(kept(-1900, -300, 600, 400), std::make_pair(0, 0));  // to the left and above
    EXPECT_EQ(kept(900, 800, 600, 400), std::make_pair(680, 600)); // partly off
    EXPECT_EQ(kept(300, 200, 1400, 1200), std::make_pair(0, 0));   // larger than the area
    const TBounds second = KeepInside(TBounds{0, 0, 600, 400}, TBounds{-1024, 40, 1024, 728});
    EXPECT_EQ(second.Left, -600);
    EXPECT_EQ(second.Top, 40);
}

TEST(Controls, EditSetTextFiresChangeOnlyOnDifference) {
    TForm form("frm");
    TEdit edit("ed", &form);
    int changes = 0;
    edit.OnChange = [&] { ++changes; };
    edit.SetText("abc");
    edit.SetText("abc");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(edit.Text(), "abc");
}

TEST(Controls, CheckBoxSetCheckedFiresClickAndUserClickIgnoredWhenDisabled) {
    TForm form("frm");
    TCheckBox box("cb", &form);
    int clicks = 0;
    box.OnClick = [&] { ++clicks; };
    box.SetChecked(true);
    EXPECT_EQ(clicks, 1);
    box.SetEnabled(false);
    box.UserClick();
    EXPECT_TRUE(box.Checked());
    EXPECT_EQ(clicks, 1);
    box.SetEnabled(true);
    box.UserClick();
    EXPECT_FALSE(box.Checked());
    EXPECT_EQ(clicks, 2);
}

TEST(Controls, RadioButtonsOfOneParentExcludeEachOther) {
    TForm form("frm");
    TGroupBox group("g", &form);
    TRadioButton a("a", &group), b("b", &group);
    TRadioButton other("c", &form);
    other.SetChecked(true);
    a.SetChecked(true);
    b.SetChecked(true);
    EXPECT_FALSE(a.Checked());
    EXPECT_TRUE(b.Checked());
    EXPECT_TRUE(other.Checked());
}

TEST(Controls, PeerSeesEveryPropertyChangeButNotUserEdits) {
    TForm form("frm");
    TEdit edit("ed", &form);
    RecordingPeer peer;
    edit.AttachPeer(&peer);
    edit.SetEnabled(false);
    edit.SetText("x");
    edit.UserSetText("typed");
    ASSERT_EQ(peer.Seen.size(), 2u);
    EXPECT_EQ(peer.Seen[0].second, TProp::Enabled);
    EXPECT_EQ(peer.Seen[1].second, TProp::Caption);
    EXPECT_EQ(edit.Text(), "typed");
}

TEST(Controls, ComboUserSelectFiresChangeThenClickButCodeDoesNot) {
    TForm form("frm");
    TComboBox combo("cb", &form);
    std::string order;
    combo.OnChange = [&] { order += "change;"; };
    combo.OnClick = [&] { order += "click;"; };
    combo.SetItems({"COM1", "COM2"});
    combo.SetItemIndex(1);
    EXPECT_EQ(order, "");
    EXPECT_EQ(combo.Text(), "COM2");
    combo.UserSelect(0);
    EXPECT_EQ(order, "change;click;");
    combo.SetItemIndex(5);
    EXPECT_EQ(combo.ItemIndex(), -1);
    EXPECT_EQ(combo.Text(), "");
}

TEST(Controls, HiddenTabPassesActivePageToNextVisibleAndRefusesActivation) {
    TForm form("frm");
    TPageControl pc("pc", &form);
    TTabSheet p0("p0", &pc), p1("p1", &pc), p2("p2", &pc);
    EXPECT_EQ(pc.ActivePageIndex(), 0);
    p2.SetTabVisible(false);
    pc.SetActivePage(&p2);
    EXPECT_EQ(pc.ActivePageIndex(), 0);
    p0.SetTabVisible(false);
    EXPECT_EQ(pc.ActivePageIndex(), 1);
    int changes = 0;
    pc.OnChange = [&] { ++changes; };
    p0.SetTabVisible(true);
    pc.UserSelectPage(0);
    EXPECT_EQ(changes, 1);
    pc.SetActivePageIndex(1);
    EXPECT_EQ(changes, 1);
}

TEST(Controls, ListViewSortKeepsItemIdentityAndSelectionEvents) {
    TForm form("frm");
    TListView lv("lv", &form);
    std::vector<std::string> events;
    lv.OnSelectItem = [&](TListItem* item, bool sel) {
        events.push_back(item->Caption + (sel ? "+" : "-"));
    };
    TListItem* b = lv.AddItem();
    b->Caption = "b";
    TListItem* a = lv.AddItem();
    a->Caption = "a";
    lv.SetSelected(b);
    lv.SetSelected(a);
    lv.AlphaSort();
    EXPECT_EQ(lv.Item(0), a);
    EXPECT_EQ(lv.Selected(), a);
    lv.Clear();
    EXPECT_EQ(lv.Selected(), nullptr);
    EXPECT_EQ(events, (std::vector<std::string>{"b+", "b-", "a+", "a-"}));
}

// Inside an update the list and its events change at once; its peer hears
// of the rows (with the selection) and the scrolling once, at the end.
TEST(Controls, ListViewUpdateTellsThePeerOnceAtTheEnd) {
    TForm form("frm");
    TListView lv("lv", &form);
    RecordingPeer peer;
    lv.AttachPeer(&peer);
    int selections = 0;
    lv.OnSelectItem = [&](TListItem*, bool) { ++selections; };
    using Seen = std::vector<std::pair<std::string, TProp>>;
    {
        TListUpdate outer(lv);
        lv.BeginUpdate(); // nested: the outer end counts
        TListItem* b = lv.AddItem();
        b->Caption = "b";
        TListItem* a = lv.AddItem();
        a->Caption = "a";
        lv.ItemsChanged();
        lv.AlphaSort();
        lv.SetSelected(b);
        lv.MakeVisible(b);
        lv.EndUpdate();
        EXPECT_EQ(lv.Item(0), a);
        EXPECT_EQ(selections, 1);
        EXPECT_TRUE(peer.Seen.empty());
    }
    EXPECT_EQ(peer.Seen, (Seen{{"lv", TProp::Items}, {"lv", TProp::ScrollTo}}));
    peer.Seen.clear();
    {
        TListUpdate update(lv);
        lv.SetSelected(lv.Item(0));
        lv.MakeVisible(lv.Item(1));
        lv.DeleteItem(lv.Item(1)); // the row to scroll to is gone
    }
    EXPECT_EQ(peer.Seen, (Seen{{"lv", TProp::Items}}));
    peer.Seen.clear();
    {
        TListUpdate update(lv);
        lv.SetSelected(nullptr);
    }
    EXPECT_EQ(peer.Seen, (Seen{{"lv", TProp::ItemIndex}}));
    lv.EndUpdate(); // unmatched: nothing
    lv.SetSelected(lv.Item(0));
    EXPECT_EQ(peer.Seen.size(), 2u);
}

TEST(Controls, MemoChangesFireOnChange) {
    TForm form("frm");
    TMemo memo("m", &form);
    int changes = 0;
    memo.OnChange = [&] { ++changes; };
    memo.Add("one");
    memo.SetLine(0, "two");
    memo.SetLine(3, "none");
    memo.Clear();
    memo.Clear();
    EXPECT_EQ(changes, 3);
    memo.Add("a");
    memo.Add("b");
    EXPECT_EQ(memo.Text(), "a\r\nb\r\n");
}

TEST(Controls, TimerStartsWithIntervalAndStopsAtZeroOrDisabled) {
    TManualTimers timers;
    int ticks = 0;
    TTimer timer("t", timers);
    timer.OnTimer = [&] { ++ticks; };
    timer.SetInterval(500);
    timers.Advance(1600);
    EXPECT_EQ(ticks, 3);
    timer.SetInterval(0);
    timers.Advance(1000);
    EXPECT_EQ(ticks, 3);
    timer.SetInterval(10);
    timer.SetEnabled(false);
    timers.Advance(100);
    EXPECT_EQ(ticks, 3);
    timer.SetEnabled(true);
    timers.Advance(30);
    EXPECT_EQ(ticks, 6);
}

TEST(Controls, TimerStoppedFromItsOwnTickTicksNoMore) {
    TManualTimers timers;
    int ticks = 0;
    TTimer timer("t", timers);
    timer.OnTimer = [&] {
        ++ticks;
        timer.SetEnabled(false);
    };
    timer.SetInterval(10);
    timers.Advance(100);
    EXPECT_EQ(ticks, 1);
    EXPECT_FALSE(timer.Running());
}

TEST(Controls, FormFindsControlsAndShowingFollowsActivePage) {
    TForm form("frm");
    TPageControl pc("pc", &form);
    TTabSheet p0("p0", &pc), p1("p1", &pc);
    TButton bt("bt", &p1);
    EXPECT_EQ(form.FindControl("bt"), &bt);
    EXPECT_EQ(form.FindControl("nothing"), nullptr);
    int clicks = 0;
    bt.OnClick = [&] { ++clicks; };
    bt.UserClick();
    EXPECT_EQ(clicks, 0);
    pc.SetActivePage(&p1);
    bt.UserClick();
    EXPECT_EQ(clicks, 1);
}

} // namespace
} // namespace qvx
