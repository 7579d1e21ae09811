#include "platform/gui/property_bag.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/gui/dc.h"

namespace gui {
namespace {

TEST(GuiPropertyBagTest, NamesIgnoreCaseAndKeepTheirFirstOrder) {
  PropertyBag bag;
  bag.WriteProperty("BrushStyle", 0);
  bag.WriteProperty("Color", 91620);
  bag.WriteProperty("brushstyle", 3);  // replaces, in place
  EXPECT_EQ(bag.ReadProperty<std::int32_t>("BRUSHSTYLE", 4), 3);
  EXPECT_EQ(bag.Names(), (std::vector<std::string>{"BrushStyle", "Color"}));
}

TEST(GuiPropertyBagTest, ReadsFallBackToTheirDefault) {
  PropertyBag bag;
  bag.WriteProperty("ShowText", true);
  EXPECT_EQ(bag.ReadProperty<std::int32_t>("BrushStyle", 4), 4);  // absent
  EXPECT_EQ(bag.ReadProperty<std::int32_t>("ShowText", 7), 7);    // another type
  EXPECT_EQ(bag.ReadProperty<bool>("showtext", false), true);
}

TEST(GuiPropertyBagTest, AValueEqualToItsDefaultIsNotStored) {
  PropertyBag bag;
  bag.WriteProperty("BrushStyle", 0, 4);
  bag.WriteProperty("Max", 100, 100);
  bag.WriteProperty("Image", Surface(), Surface());
  EXPECT_EQ(bag.Names(), (std::vector<std::string>{"BrushStyle"}));
  bag.WriteProperty("BrushStyle", 4, 4);  // back to the default: gone
  EXPECT_TRUE(bag.empty());
}

TEST(GuiPropertyBagTest, TextFormRoundTrip) {
  Surface picture(1, 3);
  {
    Dc dc(picture);
    dc.SetPixel(0, 0, Rgb(122, 122, 122));
    dc.SetPixel(0, 2, Rgb(1, 2, 3));
  }
  PropertyBag bag;
  bag.WriteProperty("Font", FontDesc{"Arial", 8.25, true, false, true, false});
  bag.WriteProperty("Color", static_cast<std::int32_t>(0x8000000Du));
  bag.WriteProperty("Value", -17);
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
  EXPECT_EQ(back->ToText(), text);
  EXPECT_NE(text.find("Color = -2147483635\n"), std::string::npos) << text;
  EXPECT_NE(text.find("ShowText = False\n"), std::string::npos) << text;
}

TEST(GuiPropertyBagTest, UnreadableTextNamesTheLine) {
  const struct {
    const char* text;
    const char* error;
  } rows[] = {
      {"Max = 100\nno equals sign\n", "line 2: no \"=\""},
      {"Max Value = 1\n", "line 1: the name is not an identifier"},
      {" = 1\n", "line 1: the name is not an identifier"},
      {"Max = 99999999999\n", "line 1: the value cannot be read"},
      {"Max = 12abc\n", "line 1: the value cannot be read"},
      {"Caption = \"open\n", "line 1: the value cannot be read"},
      {"\n\nImage = picture(not base64!)\n", "line 3: the value cannot be read"},
      {"Font = font(\"Arial\", 8.25)\n", "line 1: the value cannot be read"},
  };
  for (const auto& row : rows) {
    std::string error;
    EXPECT_FALSE(PropertyBag::FromText(row.text, &error).has_value()) << row.text;
    EXPECT_EQ(error, row.error) << row.text;
  }
  std::string error;
  const auto ok = PropertyBag::FromText("\r\n  Max=5\r\n", &error);
  ASSERT_TRUE(ok.has_value()) << error;
  EXPECT_EQ(ok->ReadProperty<std::int32_t>("max", 0), 5);
}

}  // namespace
}  // namespace gui
