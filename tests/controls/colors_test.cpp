#include "controls/colors.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

TEST(ColorToQColor, RgbValuesKeepRedInTheLowByte) {
  const QPalette palette;
  EXPECT_EQ(ColorToQColor(clRed, palette), QColor(255, 0, 0));
  EXPECT_EQ(ColorToQColor(clMaroon, palette), QColor(128, 0, 0));
  EXPECT_EQ(ColorToQColor(0x00123456, palette), QColor(0x56, 0x34, 0x12));
  EXPECT_EQ(RgbColor(0x56, 0x34, 0x12), 0x00123456u);
}

TEST(ColorToQColor, SystemColoursComeFromTheActivePalette) {
  QPalette palette;
  const struct {
    TColor color;
    QPalette::ColorRole role;
  } rows[] = {
      {clWindow, QPalette::Base},         {clWindowText, QPalette::Text},
      {clHighlight, QPalette::Highlight}, {clHighlightText, QPalette::HighlightedText},
      {clBtnFace, QPalette::Button},      {clBtnShadow, QPalette::Dark},
      {clBtnHighlight, QPalette::Light},
  };
  int n = 0;
  for (const auto& row : rows) {
    palette.setColor(QPalette::Active, row.role, QColor(10 * ++n, 0, 0));
    palette.setColor(QPalette::Disabled, row.role, QColor(0, 200, 0));
  }
  for (const auto& row : rows) {
    SCOPED_TRACE(row.color);
    EXPECT_EQ(ColorToQColor(row.color, palette), palette.color(QPalette::Active, row.role));
  }
}

}  // namespace
}  // namespace korvane
