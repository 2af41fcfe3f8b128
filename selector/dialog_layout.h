// Where the selector's dialog and its controls lie on the device screen, in device pixels.
//
// The dialog is laid out in dialog units, which scale with the dialog's font: a unit is a quarter
// of the font's average character width across and an eighth of its height down. Its 8-point
// font measures 6 x 13 pixels on the hand-held's screen.
#pragma once

struct PixelRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  constexpr int Right() const { return x + width; }
  constexpr int Bottom() const { return y + height; }
  constexpr bool Contains(int px, int py) const { return px >= x && py >= y && px < Right() && py < Bottom(); }
};

constexpr int kBaseUnitX = 6;
constexpr int kBaseUnitY = 13;

// Units to pixels, rounded to the nearest pixel (halves away from zero), as the window system
// maps dialog units.
constexpr int UnitsToPixelsX(int units) { return (units * kBaseUnitX + 2) / 4; }
constexpr int UnitsToPixelsY(int units) { return (units * kBaseUnitY + 4) / 8; }

// A rectangle given in dialog units. Its edges are mapped one by one, not its size, so that edges
// that meet in units meet in pixels too (Start's right edge and the list's).
constexpr PixelRect UnitRect(int x, int y, int width, int height) {
  return PixelRect{UnitsToPixelsX(x), UnitsToPixelsY(y), UnitsToPixelsX(x + width) - UnitsToPixelsX(x),
                   UnitsToPixelsY(y + height) - UnitsToPixelsY(y)};
}

// The dialog's client area and its controls, relative to the client area's top left corner.
constexpr PixelRect kClientUnits = UnitRect(0, 0, 139, 147);
constexpr PixelRect kLabelUnits = UnitRect(7, 3, 112, 9);
constexpr PixelRect kListUnits = UnitRect(7, 12, 125, 107);
constexpr PixelRect kStartUnits = UnitRect(81, 126, 51, 14);
constexpr PixelRect kStornoUnits = UnitRect(27, 126, 48, 14);

// The frame around the client area: a one-pixel border and the caption bar, which holds the
// title at its left and the OK button at its right.
constexpr int kBorderWidth = 1;
constexpr int kCaptionHeight = 18;
constexpr int kCaptionTextIndent = 4;
constexpr int kOkButtonWidth = 23;
constexpr int kOkButtonHeight = 14;
constexpr int kOkButtonMargin = 2;  // from the caption's right edge

// One line of the list box: the font's height. Text starts a little in from the left edge.
constexpr int kListLineHeight = 13;
constexpr int kListTextIndent = 2;
constexpr int kScrollBarWidth = 13;

// Everything placed on a screen of the given size, the dialog centred on it.
struct DialogGeometry {
  PixelRect frame;  // the whole dialog, border included
  PixelRect caption;
  PixelRect okButton;
  PixelRect client;
  PixelRect label;
  PixelRect list;  // the list box, its border included
  PixelRect start;
  PixelRect storno;
};

constexpr PixelRect Offset(const PixelRect& r, int dx, int dy) {
  return PixelRect{r.x + dx, r.y + dy, r.width, r.height};
}

constexpr DialogGeometry LayOutDialog(int screenWidth, int screenHeight) {
  DialogGeometry g;
  const int frameWidth = kClientUnits.width + 2 * kBorderWidth;
  const int frameHeight = kClientUnits.height + kCaptionHeight + 2 * kBorderWidth;
  g.frame = PixelRect{(screenWidth - frameWidth) / 2, (screenHeight - frameHeight) / 2, frameWidth, frameHeight};
  g.caption = PixelRect{g.frame.x + kBorderWidth, g.frame.y + kBorderWidth, kClientUnits.width, kCaptionHeight};
  g.okButton = PixelRect{g.caption.Right() - kOkButtonMargin - kOkButtonWidth,
                         g.caption.y + (kCaptionHeight - kOkButtonHeight) / 2, kOkButtonWidth, kOkButtonHeight};
  g.client = PixelRect{g.caption.x, g.caption.Bottom(), kClientUnits.width, kClientUnits.height};
  g.label = Offset(kLabelUnits, g.client.x, g.client.y);
  g.list = Offset(kListUnits, g.client.x, g.client.y);
  g.start = Offset(kStartUnits, g.client.x, g.client.y);
  g.storno = Offset(kStornoUnits, g.client.x, g.client.y);
  return g;
}
