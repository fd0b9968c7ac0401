// Colour values as the rest of the program speaks of them: 0x00BBGGRR for an
// RGB colour, or 0x80000000 plus the index of a system colour, which the
// widget's palette stands in for.
#pragma once

#include <QColor>
#include <QPalette>
#include <cstdint>

namespace korvane {

using TColor = std::uint32_t;

inline constexpr TColor kSystemColorFlag = 0x80000000u;

// System colours, by their index.
inline constexpr TColor clScrollBar = kSystemColorFlag | 0;
inline constexpr TColor clBackground = kSystemColorFlag | 1;
inline constexpr TColor clActiveCaption = kSystemColorFlag | 2;
inline constexpr TColor clInactiveCaption = kSystemColorFlag | 3;
inline constexpr TColor clMenu = kSystemColorFlag | 4;
inline constexpr TColor clWindow = kSystemColorFlag | 5;
inline constexpr TColor clWindowFrame = kSystemColorFlag | 6;
inline constexpr TColor clMenuText = kSystemColorFlag | 7;
inline constexpr TColor clWindowText = kSystemColorFlag | 8;
inline constexpr TColor clCaptionText = kSystemColorFlag | 9;
inline constexpr TColor clActiveBorder = kSystemColorFlag | 10;
inline constexpr TColor clInactiveBorder = kSystemColorFlag | 11;
inline constexpr TColor clAppWorkSpace = kSystemColorFlag | 12;
inline constexpr TColor clHighlight = kSystemColorFlag | 13;
inline constexpr TColor clHighlightText = kSystemColorFlag | 14;
inline constexpr TColor clBtnFace = kSystemColorFlag | 15;
inline constexpr TColor clBtnShadow = kSystemColorFlag | 16;
inline constexpr TColor clGrayText = kSystemColorFlag | 17;
inline constexpr TColor clBtnText = kSystemColorFlag | 18;
inline constexpr TColor clInactiveCaptionText = kSystemColorFlag | 19;
inline constexpr TColor clBtnHighlight = kSystemColorFlag | 20;
inline constexpr TColor cl3DDkShadow = kSystemColorFlag | 21;
inline constexpr TColor cl3DLight = kSystemColorFlag | 22;
inline constexpr TColor clInfoText = kSystemColorFlag | 23;
inline constexpr TColor clInfoBk = kSystemColorFlag | 24;

// Fixed RGB colours.
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clMaroon = 0x000080;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clOlive = 0x008080;
inline constexpr TColor clNavy = 0x800000;
inline constexpr TColor clPurple = 0x800080;
inline constexpr TColor clTeal = 0x808000;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clFuchsia = 0xFF00FF;
inline constexpr TColor clAqua = 0xFFFF00;
inline constexpr TColor clWhite = 0xFFFFFF;

constexpr TColor RgbColor(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return TColor{r} | (TColor{g} << 8) | (TColor{b} << 16);
}

// An RGB colour as it is; a system colour through the palette role that
// means the same, always from the active group so that a disabled or
// inactive widget is drawn like an active one. An unknown system index
// gives the window colour.
QColor ColorToQColor(TColor color, const QPalette& palette);

}  // namespace korvane
