#include "platform/gui/property_bag.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/gui/dc.h"

namespace gui {
namespace {

// (Case, order and defaults show in the controls' persistence tests.)
TEST(GuiPropertyBagTest, AWriteReplacesInPlaceAndAnotherTypeReadsAsTheDefault) {
  PropertyBag bag;
  bag.WriteProperty("BrushStyle", 0);
  bag.WriteProperty("ShowText", true);
  bag.WriteProperty("brushstyle", 3);
  EXPECT_EQ(bag.Names(), (std::vector<std::string>{"BrushStyle", "ShowText"}));
  EXPECT_EQ(bag.ReadProperty<std::int32_t>("BRUSHSTYLE", 4), 3);
  EXPECT_EQ(bag.ReadProperty<std::int32_t>("ShowText", 7), 7);
}

TEST(GuiPropertyBagTest, TextFormRoundTrip) {
  Surface picture(1, 3);
  Dc(picture).SetPixel(0, 2, Rgb(1, 2, 3));
  PropertyBag bag;
  bag.WriteProperty("Font", FontDesc{"Arial", 8.25, true, false, true, false});
  bag.WriteProperty("Color", static_cast<std::int32_t>(0x8000000Du));
  bag.WriteProperty("ShowText", false);
  bag.WriteProperty("Caption", std::string("Say \"hi\" \\ &Go\nnow = yes"));
  bag.WriteProperty("Image", picture);
  bag.WriteProperty("NoImage", Surface());

  const std::string text = bag.ToText();
  std::string error;
  const auto back = PropertyBag::FromText(text, &error);
  ASSERT_TRUE(back.has_value()) << error << "\n" << text;
  EXPECT_EQ(back->Names(), bag.Names());
  for (const std::string& name : bag.Names()) {
    EXPECT_TRUE(*back->Find(name) == *bag.Find(name)) << name;
  }
  EXPECT_NE(text.find("Color = -2147483635\nShowText = False\n"), std::string::npos) << text;
  const auto spaced = PropertyBag::FromText("\r\n  Max=5\r\n", &error);
  ASSERT_TRUE(spaced.has_value()) << error;
  EXPECT_EQ(spaced->ReadProperty<std::int32_t>("max", 0), 5);
}

TEST(GuiPropertyBagTest, UnreadableTextNamesTheLine) {
  const std::pair<const char*, const char*> rows[] = {
      {"Max = 100\nno equals sign\n", "line 2: no \"=\""},
      {"Max Value = 1\n", "line 1: the name is not an identifier"},
      {" = 1\n", "line 1: the name is not an identifier"},
      {"Max = 99999999999\n", "line 1: the value cannot be read"},
      {"Max = 12abc\n", "line 1: the value cannot be read"},
      {"Caption = \"open\n", "line 1: the value cannot be read"},
      {"\n\nImage = picture(not base64!)\n", "line 3: the value cannot be read"},
      {"Font = font(\"Arial\", 8.25)\n", "line 1: the value cannot be read"},
  };
  for (const auto& [text, expected] : rows) {
    std::string error;
    EXPECT_FALSE(PropertyBag::FromText(text, &error).has_value()) << text;
    EXPECT_EQ(error, expected) << text;
  }
}

}  // namespace
}  // namespace gui
