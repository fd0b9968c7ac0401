#include "controls/colors.h"

namespace korvane {

namespace {

QPalette::ColorRole SystemColorRole(TColor index) {
  switch (index) {
    case 0:   // scroll bar
    case 15:  // button face
      return QPalette::Button;
    case 5:  // window
      return QPalette::Base;
    case 6:   // window frame
    case 21:  // 3D dark shadow
      return QPalette::Shadow;
    case 7:   // menu text
    case 9:   // caption text
    case 19:  // inactive caption text
      return QPalette::WindowText;
    case 8:  // window text
      return QPalette::Text;
    case 12:  // application work space
    case 17:  // grey text
      return QPalette::Mid;
    case 2:   // active caption
    case 13:  // highlight
      return QPalette::Highlight;
    case 14:  // highlighted text
      return QPalette::HighlightedText;
    case 16:  // button shadow
      return QPalette::Dark;
    case 18:  // button text
      return QPalette::ButtonText;
    case 20:  // button highlight
      return QPalette::Light;
    case 22:  // 3D light
      return QPalette::Midlight;
    case 23:  // tool tip text
      return QPalette::ToolTipText;
    case 24:  // tool tip background
      return QPalette::ToolTipBase;
    default:  // desktop, menu, borders, inactive caption
      return QPalette::Window;
  }
}

}  // namespace

QColor ColorToQColor(TColor color, const QPalette& palette) {
  if (color & kSystemColorFlag) {
    return palette.color(QPalette::Active, SystemColorRole(color & ~kSystemColorFlag));
  }
  return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                static_cast<int>((color >> 16) & 0xFF));
}

}  // namespace korvane
