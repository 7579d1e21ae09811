// MagicButton as a widget: properties and persistence, then input and hover through Qt events.
#include "controls/magicbutton.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/controls/recording_host.h"

namespace {

using gui::ColorRef;
using gui::Rgb;

// Whether the surface was painted since `key` (every paint detaches the image).
qint64 PaintKey(const MagicButton& b) { return b.surface().image().cacheKey(); }

TEST(MagicButtonModelTest, NewInstanceDesignTimeAndAFormThatStoresOnlyTheType) {
  RecordingHost host;
  MagicButton fresh(nullptr, &host);
  // The computed colours, not references to system colours.
  EXPECT_TRUE(fresh.BackColor() == Rgb(212, 208, 200) && fresh.BackOver() == fresh.BackColor());
  EXPECT_TRUE(fresh.ForeColor() == 0 && fresh.ForeOver() == 0 && fresh.MaskColor() == 0xC0C0C0);
  host.user_mode = false;  // at design time the over colours follow, and Etched turns the font bold
  fresh.SetBackColor(0x111111);
  fresh.SetForeColor(0x222222);
  fresh.SetButtonType(5);
  EXPECT_TRUE(fresh.BackOver() == 0x111111 && fresh.ForeOver() == 0x222222 && fresh.FontBold());
  host.user_mode = true;
  fresh.SetBackColor(0x333333);
  EXPECT_EQ(fresh.BackOver(), 0x111111u);
  for (const auto& [size, rounded] : {std::pair{8.5, 8}, {9.5, 10}}) {  // halves to even
    fresh.SetFont({"Arial", size});
    EXPECT_EQ(fresh.FontSize(), rounded);
  }

  gui::PropertyBag bag;
  bag.WriteProperty("btype", 14);
  MagicButton loaded(nullptr, &host);
  host.changed.clear();
  loaded.ReadProperties(bag);
  EXPECT_TRUE(loaded.ButtonType() == 14 && loaded.Caption().isEmpty() &&
              loaded.ColorScheme() == 1 && loaded.MaskColor() == 0xC0C0C0);
  EXPECT_TRUE(loaded.Enabled() && loaded.ShowFocusRect() && loaded.UseMaskColor());
  // The system button face and text, kept as references; the over colours follow them.
  EXPECT_TRUE(loaded.BackColor() == 0x8000000F && loaded.BackOver() == 0x8000000F);
  EXPECT_TRUE(loaded.ForeColor() == 0x80000012 && loaded.ForeOver() == 0x80000012);
  EXPECT_EQ(loaded.Font(), (gui::FontDesc{"Arial", 9.75}));  // the current font
  EXPECT_TRUE(host.changed.empty());

  // A form that stores "bcol" but no "bcolo" hovers in its own colour, not the system's; its
  // pointer survives a "hand" that is off.
  gui::PropertyBag coloured;
  coloured.WriteProperty("BCOL", 0x123456);
  coloured.WriteProperty("mptr", 2);
  loaded.ReadProperties(coloured);
  EXPECT_EQ(loaded.BackOver(), 0x123456u);
  EXPECT_EQ(loaded.cursor().shape(), Qt::CrossCursor);
}

TEST(MagicButtonModelTest, WritesEveryKeyInOrderAndReadsItBack) {
  MagicButton b;
  b.SetCaption("&Copy");
  b.SetBackOver(0xE0E0E0);
  b.SetHandPointer(true);
  QImage picture(3, 2, QImage::Format_RGB32);
  picture.fill(Qt::red);
  b.SetPictureOver(picture);
  gui::PropertyBag bag;
  b.WriteProperties(bag);
  EXPECT_EQ(bag.Names(),
            (std::vector<std::string>{"btype", "tx",    "enab", "font",  "coltype", "focusr",
                                      "bcol",  "bcolo", "fcol", "fcolo", "mcol",    "mptr",
                                      "micon", "picn",  "pich", "umcol", "soft",    "picpos",
                                      "ngrey", "fx",    "hand", "check", "value"}));

  MagicButton copy;
  copy.ReadProperties(bag);
  EXPECT_EQ(copy.Caption(), "&Copy");
  EXPECT_EQ(copy.BackOver(), 0xE0E0E0u);
  EXPECT_TRUE(copy.HandPointer() && copy.MousePointer() == 99);
  EXPECT_EQ(copy.cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(copy.PictureOver().pixel(2, 1), QColor(Qt::red).rgb());  // stored as "pich"
  EXPECT_TRUE(copy.PictureNormal().isNull());
}

TEST(MagicButtonModelTest, DisableRefreshAndTheCheckBoxBehaviour) {
  MagicButton b;
  b.resize(60, 20);
  b.DrawButton(0, true);
  b.DisableRefresh();  // properties are stored, nothing is drawn until Refresh
  const qint64 before = PaintKey(b);
  b.SetCaption("Later");
  b.SetValue(true);
  EXPECT_EQ(PaintKey(b), before);
  EXPECT_EQ(b.Caption(), "Later");
  b.Refresh();
  EXPECT_NE(PaintKey(b), before);
  EXPECT_EQ(b.LastState(), 0);  // Value draws pressed only with the check-box behaviour
  b.SetCheckBoxBehaviour(true);
  EXPECT_EQ(b.LastState(), 2);
}

// --- Input ----------------------------------------------------------------------------------

// Three program buttons (Gradient, so the corners are cut) on a shown, active window; mouse
// events go through the window system's path (hit tests with the masks, the implicit grab,
// double clicks made from timestamps) as a user's would.
class MagicButtonInputTest : public testing::Test {
 protected:
  void SetUp() override {
    window.resize(300, 60);
    const char* captions[] = {"&Copy", "E&xit", "About"};
    MagicButton* all[] = {&first, &second, &third};
    for (int i = 0; i < 3; ++i) {
      all[i]->setGeometry(10 + 95 * i, 10, 75, 23);
      all[i]->SetButtonType(14);
      all[i]->SetCaption(captions[i]);
    }
    QObject::connect(&first, &MagicButton::Click, [this] { log.push_back("Click"); });
    QObject::connect(&first, &MagicButton::MouseOver, [this] { log.push_back("Over"); });
    QObject::connect(&first, &MagicButton::MouseOut, [this] { log.push_back("Out"); });
    const auto logged = [this](std::string name) {  // with the button
      return [this, name](short& b, short&, float&, float&) {
        log.push_back(name + std::to_string(b));
      };
    };
    QObject::connect(&first, &MagicButton::MouseDown, logged("Down"));
    QObject::connect(&first, &MagicButton::MouseUp, logged("Up"));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    Move(QPoint(295, 55));  // the pointer starts on the window, over no button
  }

  // The events since the last look, and the state the first button drew last.
  testing::AssertionResult Saw(const std::vector<std::string>& events, int state) {
    const std::vector<std::string> seen = std::exchange(log, {});
    if (seen == events && first.LastState() == state) return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << testing::PrintToString(seen) << ", state " << first.LastState();
  }

  // A point of the first button, in window coordinates.
  QPoint On(int x = 37, int y = 11) const { return first.mapTo(&window, QPoint(x, y)); }
  QWindow* Handle() { return window.windowHandle(); }
  void Move(QPoint at) { QTest::mouseMove(Handle(), at); }
  void Press(Qt::MouseButton b, QPoint at) { QTest::mousePress(Handle(), b, {}, at); }
  void Release(Qt::MouseButton b, QPoint at) { QTest::mouseRelease(Handle(), b, {}, at); }

  QWidget window;
  MagicButton first{&window};
  MagicButton second{&window};
  MagicButton third{&window};
  std::vector<std::string> log;
};

TEST_F(MagicButtonInputTest, ClicksPressedLookAndHover) {
  Move(On());
  EXPECT_TRUE(Saw({"Over"}, 0));
  Press(Qt::LeftButton, On());
  EXPECT_TRUE(Saw({"Down1"}, 2));
  Release(Qt::LeftButton, On());
  EXPECT_TRUE(Saw({"Up1", "Click"}, 0));
  EXPECT_TRUE(first.MouseIsOver());  // still hot after the click

  // The right button never presses or clicks.
  Press(Qt::RightButton, On());
  EXPECT_TRUE(Saw({"Down2"}, 0));
  Release(Qt::RightButton, On());
  EXPECT_TRUE(Saw({"Up2"}, 0));

  // Held and dragged out: up and MouseOut at once; back in: pressed, no MouseOver; released
  // inside: a click; the next free move is a new entry.
  Press(Qt::LeftButton, On());
  Move(On(37, 40));
  EXPECT_TRUE(Saw({"Down1", "Out"}, 0));
  Move(On());
  EXPECT_TRUE(Saw({}, 2));
  Release(Qt::LeftButton, On());
  Move(On(38, 11));
  EXPECT_TRUE(Saw({"Up1", "Click", "Over"}, 0));

  // The cut corner belongs to the window: leaving into it is an exit.
  Move(On(0, 0));
  Move(On(1, 1));
  Move(On(37, 40));
  EXPECT_TRUE(Saw({"Out", "Over", "Out"}, 0));

  // A MouseDown handler that turns the press into a right one suppresses look and click.
  QObject::connect(&first, &MagicButton::MouseDown,
                   [](short& button, short&, float&, float&) { button = 2; });
  Press(Qt::LeftButton, On());
  EXPECT_TRUE(Saw({"Over", "Down1"}, 0));  // logged before the handler changed it
  Release(Qt::LeftButton, On());
  EXPECT_TRUE(Saw({"Up1"}, 0));
}

TEST_F(MagicButtonInputTest, DoubleClickClicksOnceAndDisabledTakesNothing) {
  // The second press comes as a double click: pressed with zero coordinates, no click.
  std::vector<float> xs;
  QObject::connect(&first, &MagicButton::MouseDown,
                   [&xs](short&, short&, float& x, float&) { xs.push_back(x); });
  std::vector<int> states;
  QObject::connect(&first, &MagicButton::MouseUp,
                   [&](short&, short&, float&, float&) { states.push_back(first.LastState()); });
  QTest::mouseDClick(Handle(), Qt::LeftButton, {}, On());
  EXPECT_TRUE(Saw({"Over", "Down1", "Up1", "Click", "Down1", "Up1"}, 0));
  EXPECT_EQ(xs, (std::vector<float>{37, 0}));
  EXPECT_EQ(states, (std::vector<int>{2, 2}));  // pressed on both presses

  first.SetEnabled(false);
  Press(Qt::LeftButton, On());
  Release(Qt::LeftButton, On());
  EXPECT_TRUE(Saw({}, 0));
}

TEST_F(MagicButtonInputTest, KeyboardSpaceArrowsAndAccessKey) {
  first.setFocus();
  ASSERT_TRUE(first.HasFocus());
  QTest::keyPress(&first, Qt::Key_Space);
  EXPECT_TRUE(Saw({}, 2));
  // An auto-repeated Space paints nothing (same state, not forced) and is no release.
  const qint64 painted = PaintKey(first);
  for (const QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
    QKeyEvent repeat(type, Qt::Key_Space, Qt::NoModifier, " ", true);
    QApplication::sendEvent(&first, &repeat);
  }
  EXPECT_EQ(PaintKey(first), painted);
  QTest::keyRelease(&first, Qt::Key_Space);
  EXPECT_TRUE(Saw({"Click"}, 0));

  // Another key between Space's press and release: no click, still drawn pressed.
  QTest::keyPress(&first, Qt::Key_Space);
  QTest::keyClick(&first, Qt::Key_A);
  QTest::keyRelease(&first, Qt::Key_Space);
  EXPECT_TRUE(Saw({}, 2));

  // The check-box behaviour toggles Value on each click and stays pressed while it is set.
  first.SetCheckBoxBehaviour(true);
  for (const bool value : {true, false}) {
    QTest::keyClick(&first, Qt::Key_Space);
    EXPECT_EQ(first.Value(), value);
    EXPECT_TRUE(Saw({"Click"}, value ? 2 : 0));
  }

  // Right and Down go forwards in tab order, Left and Up backwards; none of them clicks.
  const Qt::Key keys[] = {Qt::Key_Right, Qt::Key_Down, Qt::Key_Left, Qt::Key_Up};
  const MagicButton* focused[] = {&second, &third, &second, &first};
  for (int i = 0; i < 4; ++i) {
    QTest::keyClick(QApplication::focusWidget(), keys[i]);
    EXPECT_EQ(QApplication::focusWidget(), focused[i]) << keys[i];
  }
  EXPECT_TRUE(Saw({}, 0));

  // Alt + the marked letter clicks the button, wherever the focus is.
  second.setFocus();
  QTest::keyClick(&window, Qt::Key_C, Qt::AltModifier);
  EXPECT_TRUE(Saw({"Click"}, 2));  // and toggles Value again
}

// Shown as Transparent, the button shows what the window paints behind it, not itself.
TEST_F(MagicButtonInputTest, TransparentShowsTheContainer) {
  window.setPalette(QPalette(QColor(10, 200, 30)));  // the window's colour too
  third.SetButtonType(11);
  third.hide();
  third.show();
  EXPECT_EQ(third.surface().Pixel(3, 3), Rgb(10, 200, 30));
}

}  // namespace
