// Drawing of the data pictures: menu bar, Go button, menu, player-count submenu, digits, title.
#include "tools/data_pictures.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>

#include "gfx/picture.h"
#include "rules/state.h"
#include "tools/tool_error.h"
#include "tools/tool_files.h"
#include "tools/typeface.h"

namespace {

constexpr float kPi = 3.14159265f;

// ---- Palette ---------------------------------------------------------------------------------

// Panels: a dark slate, so that the menu reads over any circuit and the amber of a switched-on
// button stands out.
constexpr Rgb kPanelTop = Rgb8(42, 50, 63);
constexpr Rgb kPanelBottom = Rgb8(22, 27, 35);
constexpr Rgb kPanelEdge = Rgb8(112, 128, 148);
constexpr Rgb kPanelShadow = Rgb8(10, 12, 16);
constexpr Rgb kButtonTop = Rgb8(78, 91, 109);
constexpr Rgb kButtonBottom = Rgb8(50, 59, 72);
constexpr Rgb kButtonFrame = Rgb8(14, 17, 22);
constexpr Rgb kButtonGloss = Rgb8(128, 142, 160);
constexpr Rgb kInk = Rgb8(236, 241, 247);
constexpr Rgb kMutedInk = Rgb8(140, 156, 176);
constexpr Rgb kOnTop = Rgb8(255, 214, 92);
constexpr Rgb kOnBottom = Rgb8(242, 150, 24);
constexpr Rgb kOnFrame = Rgb8(92, 52, 0);
constexpr Rgb kOnInk = Rgb8(40, 22, 0);
constexpr Rgb kAmber = Rgb8(255, 176, 32);
constexpr Rgb kGoTop = Rgb8(92, 214, 96);
constexpr Rgb kGoBottom = Rgb8(24, 132, 48);
constexpr Rgb kGoPressedTop = Rgb8(24, 110, 40);
constexpr Rgb kGoPressedBottom = Rgb8(40, 160, 60);
constexpr Rgb kGoFrame = Rgb8(6, 40, 12);
constexpr Rgb kWhite = Rgb8(255, 255, 255);
constexpr Rgb kBlack = Rgb8(0, 0, 0);
constexpr Rgb kDigitInk = Rgb8(16, 18, 26);
constexpr Rgb kDigitEdge = Rgb8(250, 250, 240);
constexpr float kDarkInk = 0.45f;   // ink from which a digit's pixel counts as dark
constexpr float kFaintInk = 0.12f;  // ink below which a pixel shows no trace of the digit
constexpr Rgb kNightTop = Rgb8(12, 20, 36);
constexpr Rgb kNightBottom = Rgb8(34, 50, 74);
constexpr Rgb kGrassLight = Rgb8(84, 160, 70);
constexpr Rgb kGrassDark = Rgb8(62, 132, 54);
constexpr Rgb kAsphalt = Rgb8(92, 96, 102);
constexpr Rgb kAsphaltEdge = Rgb8(40, 44, 48);
constexpr Rgb kKerbRed = Rgb8(214, 38, 38);
constexpr Rgb kCarShadow = Rgb8(0, 0, 0);
constexpr Rgb kTyre = Rgb8(24, 24, 28);
constexpr Rgb kCockpit = Rgb8(20, 24, 32);
constexpr Rgb kCarFrame = Rgb8(226, 230, 236);

Rgb PlayerColour(int player) {
  const ColourComponents& c = kPlayerColours[player];
  return Rgb{c.red / 31.0f, c.green / 63.0f, c.blue / 31.0f};
}

// ---- Fonts -----------------------------------------------------------------------------------

struct Fonts {
  Typeface sans;
  Typeface sansBold;
  Typeface sansBoldItalic;
  Typeface monoBold;
  explicit Fonts(const std::string& folder)
      : sans(FontFile(folder, "LiberationSans-Regular.ttf")),
        sansBold(FontFile(folder, "LiberationSans-Bold.ttf")),
        sansBoldItalic(FontFile(folder, "LiberationSans-BoldItalic.ttf")),
        monoBold(FontFile(folder, "LiberationMono-Bold.ttf")) {}
};

// Text placed with its ink centred between left and right (columns, right exclusive) and its
// capitals centred on the row centreY.
void CentreText(Canvas& c, const Typeface& face, const std::string& text, float size, float left, float right,
                float centreY, Rgb colour, float alpha = 1.0f) {
  const TextMask t = face.Render(text, size);
  const int cap = face.CapHeight(size);
  const float inkWidth = static_cast<float>(t.inkRight - t.inkLeft);
  const int x = static_cast<int>(std::lround((left + right - inkWidth) / 2)) - t.inkLeft;
  const int baseline = static_cast<int>(std::lround(centreY + cap / 2.0f));
  c.PaintMask(t.mask, x, baseline - t.baseline, colour, alpha);
}

// Text with its pen starting at x and its capitals centred on centreY.
void LeftText(Canvas& c, const Typeface& face, const std::string& text, float size, int x, float centreY, Rgb colour) {
  const TextMask t = face.Render(text, size);
  const int cap = face.CapHeight(size);
  const int baseline = static_cast<int>(std::lround(centreY + cap / 2.0f));
  c.PaintMask(t.mask, x, baseline - t.baseline, colour);
}

// ---- Shapes ----------------------------------------------------------------------------------

Point Rotate(Point local, Point centre, float angle) {
  const float cs = std::cos(angle);
  const float sn = std::sin(angle);
  return Point{centre.x + local.x * cs - local.y * sn, centre.y + local.x * sn + local.y * cs};
}

std::vector<Point> Placed(const std::vector<Point>& local, Point centre, float angle, float scale) {
  std::vector<Point> out;
  out.reserve(local.size());
  for (Point p : local) out.push_back(Rotate(Point{p.x * scale, p.y * scale}, centre, angle));
  return out;
}

std::vector<Point> Box(float x0, float y0, float x1, float y1) { return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}; }

// A closed Catmull-Rom curve through the points, samples per span.
std::vector<Point> SmoothLoop(const std::vector<Point>& points, int samples) {
  std::vector<Point> out;
  const size_t n = points.size();
  for (size_t i = 0; i < n; ++i) {
    const Point p0 = points[(i + n - 1) % n], p1 = points[i], p2 = points[(i + 1) % n], p3 = points[(i + 2) % n];
    for (int s = 0; s < samples; ++s) {
      const float t = static_cast<float>(s) / samples;
      const float t2 = t * t, t3 = t2 * t;
      auto f = [&](float a, float b, float c, float d) {
        return 0.5f * (2 * b + (-a + c) * t + (2 * a - 5 * b + 4 * c - d) * t2 + (-a + 3 * b - 3 * c + d) * t3);
      };
      out.push_back(Point{f(p0.x, p1.x, p2.x, p3.x), f(p0.y, p1.y, p2.y, p3.y)});
    }
  }
  return out;
}

// A button body: a rounded box with a gradient, a dark frame and a light gloss line on top.
void DrawButtonBody(Canvas& c, float left, float top, float right, float bottom, float radius, bool on) {
  const Rgb from = on ? kOnTop : kButtonTop;
  const Rgb to = on ? kOnBottom : kButtonBottom;
  c.FillShape(
      left, top, right, bottom,
      [=](float x, float y) { return RoundRectDistance(x, y, left, top, right, bottom, radius); },
      [=](float, float y) { return Mix(from, to, (y - top) / (bottom - top)); });
  c.StrokeRoundRect(left, top, right, bottom, radius, 1.0f, on ? kOnFrame : kButtonFrame);
  c.StrokeLine(Point{left + radius, top + 1.5f}, Point{right - radius, top + 1.5f}, 1.0f,
               on ? Shade(kOnTop, 1.5f) : kButtonGloss, 0.7f);
}

// ---- Icons -----------------------------------------------------------------------------------

// The small icons by name, each drawn round its middle m in ink over back.
using IconDrawer = void (*)(Canvas& c, Point m, Rgb ink, Rgb back);

constexpr float kIconStroke = 1.5f;  // stroke weight of the small icons

const std::pair<const char*, IconDrawer> kIcons[] = {
    {"menu",
     [](Canvas& c, Point m, Rgb ink, Rgb) {
       for (float dy : {-4.0f, 0.0f, 4.0f}) c.StrokeLine({m.x - 4, m.y + dy}, {m.x + 4, m.y + dy}, 2.0f, ink);
     }},
    {"record",
     [](Canvas& c, Point m, Rgb ink, Rgb) {
       // A stopwatch: the lap against the clock.
       const float t = kIconStroke;
       const Point face{m.x, m.y + 1};
       c.StrokeCircle(face, 5.5f, t, ink);
       c.FillRoundRect(m.x - 2, m.y - 8, m.x + 2, m.y - 5.5f, 0.8f, ink);
       c.StrokeLine({m.x + 4.5f, m.y - 4.5f}, {m.x + 6, m.y - 6}, t, ink);
       c.StrokeLine(face, {face.x, face.y - 3.5f}, 1.3f, ink);
       c.StrokeLine(face, {face.x + 2.5f, face.y + 1}, 1.3f, ink);
     }},
    {"aim",
     [](Canvas& c, Point m, Rgb ink, Rgb) {
       // The aim cursor: a ring with cross hairs.
       const float t = kIconStroke;
       c.StrokeCircle(m, 5, t, ink);
       for (int k = 0; k < 4; ++k) {
         const float a = k * kPi / 2;
         c.StrokeLine({m.x + 2.5f * std::cos(a), m.y + 2.5f * std::sin(a)},
                      {m.x + 8.0f * std::cos(a), m.y + 8.0f * std::sin(a)}, 1.3f, ink);
       }
       c.FillCircle(m, 1.1f, ink);
     }},
    {"outline",
     [](Canvas& c, Point m, Rgb ink, Rgb) {
       // A circuit's two edges.
       c.StrokeRoundRect(m.x - 8, m.y - 6.5f, m.x + 8, m.y + 6.5f, 5.0f, 1.3f, ink);
       c.StrokeRoundRect(m.x - 3.5f, m.y - 2, m.x + 3.5f, m.y + 2, 1.6f, 1.3f, ink);
     }},
    {"desktop",
     [](Canvas& c, Point m, Rgb ink, Rgb) {
       // A screen on its stand.
       const float t = kIconStroke;
       c.StrokeRoundRect(m.x - 8, m.y - 7, m.x + 8, m.y + 4, 1.5f, t, ink);
       c.StrokeLine({m.x, m.y + 4}, {m.x, m.y + 6.5f}, t, ink);
       c.StrokeLine({m.x - 4, m.y + 7}, {m.x + 4, m.y + 7}, t, ink);
       c.StrokeLine({m.x - 3, m.y - 3}, {m.x + 3, m.y - 3}, 1.0f, ink, 0.8f);
     }},
    {"flag",
     [](Canvas& c, Point m, Rgb ink, Rgb back) {
       // A chequered flag on its pole.
       const float t = kIconStroke;
       c.StrokeLine({m.x - 6, m.y - 7}, {m.x - 6, m.y + 8}, t, ink);
       for (int row = 0; row < 3; ++row) {
         for (int col = 0; col < 4; ++col) {
           const float x = m.x - 5 + col * 3.0f;
           const float y = m.y - 7 + row * 3.0f;
           c.FillPolygon(Box(x, y, x + 3, y + 3), (row + col) % 2 ? back : ink);
         }
       }
       c.StrokeRoundRect(m.x - 5.5f, m.y - 7.5f, m.x + 7.5f, m.y + 2.5f, 0, 1.0f, ink);
     }},
    {"circuit",
     [](Canvas& c, Point m, Rgb ink, Rgb) {
       // A circuit seen from above, with its start line.
       c.StrokeRoundRect(m.x - 8, m.y - 6, m.x + 8, m.y + 6, 6.0f, 2.0f, ink);
       c.StrokeRoundRect(m.x - 3.5f, m.y - 1.5f, m.x + 3.5f, m.y + 1.5f, 1.5f, 1.2f, ink, 0.6f);
       c.StrokeLine({m.x, m.y - 8}, {m.x, m.y - 3}, 1.6f, ink);
     }},
    {"players",
     [](Canvas& c, Point m, Rgb ink, Rgb back) {
       // Two people, one in front of the other; each is cut out of what lies behind it.
       for (const Point p : {Point{m.x + 3.5f, m.y - 1}, Point{m.x - 2.5f, m.y + 0.5f}}) {
         auto person = [=](float x, float y) {
           const float head = CircleDistance(x, y, {p.x, p.y - 3.5f}, 2.2f);
           const float body =
               std::max(RoundRectDistance(x, y, p.x - 4.5f, p.y, p.x + 4.5f, p.y + 10, 4.0f), y - (p.y + 7.0f));
           return std::min(head, body);
         };
         c.FillShape(
             p.x - 6, p.y - 7, p.x + 6, p.y + 9, [=](float x, float y) { return person(x, y) - 1.0f; }, back);
         c.FillShape(p.x - 6, p.y - 7, p.x + 6, p.y + 9, person, ink);
       }
     }},
    {"restart",
     [](Canvas& c, Point m, Rgb ink, Rgb) {
       // A circular arrow: go again.
       const Point ctr{m.x, m.y + 0.5f};
       std::vector<Point> arc;
       for (int k = 0; k <= 20; ++k) {
         const float a = -kPi / 2 + 0.35f + k * (2 * kPi - 1.1f) / 20;
         arc.push_back({ctr.x + 6 * std::cos(a), ctr.y + 6 * std::sin(a)});
       }
       c.StrokePolyline(arc, 1.8f, ink, false);
       const Point tip = arc.back();
       c.FillPolygon({{tip.x - 3.5f, tip.y - 3.0f}, {tip.x + 3.0f, tip.y - 0.5f}, {tip.x - 1.0f, tip.y + 3.5f}}, ink);
     }},
    {"quit",
     [](Canvas& c, Point m, Rgb ink, Rgb) {
       // The power sign.
       std::vector<Point> arc;
       for (int k = 0; k <= 24; ++k) {
         const float a = -kPi / 2 + 0.7f + k * (2 * kPi - 1.4f) / 24;
         arc.push_back({m.x + 6 * std::cos(a), m.y + 1 + 6 * std::sin(a)});
       }
       c.StrokePolyline(arc, 1.8f, ink, false);
       c.StrokeLine({m.x, m.y - 7}, {m.x, m.y}, 1.8f, ink);
     }},
};

void DrawIcon(Canvas& c, const std::string& icon, Point m, Rgb ink, Rgb back) {
  for (const auto& [name, draw] : kIcons) {
    if (icon == name) return draw(c, m, ink, back);
  }
  throw ToolError("no icon called '" + icon + "'");
}

// ---- The pictures ----------------------------------------------------------------------------

Rgb PanelColour(int y, int rows) { return Mix(kPanelTop, kPanelBottom, static_cast<float>(y) / rows); }

void DrawMenuBar(Canvas& c, const PictureLayout& layout, const Fonts& fonts) {
  const int rows = layout.halfRows;
  for (int half = 0; half < 2; ++half) {
    const int top = half * rows;
    const bool on = half == 1;
    c.VerticalGradient(0, top, c.width(), top + rows, Rgb8(56, 66, 80), Rgb8(26, 31, 39));
    for (int x = 0; x < c.width(); ++x) {
      c.Set(x, top, kPanelEdge);  // the bar's top edge against the board
      c.Set(x, top + rows - 1, kPanelShadow);
    }
    for (const LayoutElement& e : layout.elements) {
      const float left = static_cast<float>(e.first);
      const float right = static_cast<float>(e.last + 1);
      const float centreY = top + rows / 2.0f;
      if (e.kind == "logo") {
        CentreText(c, fonts.sansBoldItalic, e.text, 10, left, right, centreY, kMutedInk);
        continue;
      }
      DrawButtonBody(c, left, top + 2.0f, right, top + rows - 2.0f, 3.5f, on);
      const Rgb ink = on ? kOnInk : kInk;
      const Rgb back = on ? kOnBottom : kButtonBottom;
      if (e.text.empty()) {
        DrawIcon(c, e.icon, Point{(left + right) / 2, centreY}, ink, back);
      } else {
        DrawIcon(c, e.icon, Point{left + 10, centreY}, ink, back);
        CentreText(c, fonts.sansBold, e.text, 12, left + 18, right - 2, centreY, ink);
      }
    }
  }
}

void DrawGoButton(Canvas& c, const PictureLayout& layout, const Fonts& fonts) {
  const int rows = layout.halfRows;
  const LayoutElement* go = layout.Find("button", "go");
  if (go == nullptr) throw ToolError(layout.file + ": the layout has no go button");
  for (int half = 0; half < 2; ++half) {
    const float top = static_cast<float>(half * rows);
    const bool pressed = half == 1;
    const float w = static_cast<float>(c.width());
    // The whole square is painted: the button lies over the board, and its corners must look
    // meant on any circuit.
    c.FillShape(
        0, top, w, top + rows, [=](float x, float y) { return RoundRectDistance(x, y, 0, top, w, top + rows, 0); },
        kGoFrame);
    const Rgb from = pressed ? kGoPressedTop : kGoTop;
    const Rgb to = pressed ? kGoPressedBottom : kGoBottom;
    c.FillShape(
        1, top + 1, w - 1, top + rows - 1,
        [=](float x, float y) { return RoundRectDistance(x, y, 1, top + 1, w - 1, top + rows - 1, 3); },
        [=](float, float y) { return Mix(from, to, (y - top) / rows); });
    if (!pressed) c.StrokeLine({4, top + 2.5f}, {w - 4, top + 2.5f}, 1.0f, kWhite, 0.55f);
    const float shift = pressed ? 1.0f : 0.0f;
    CentreText(c, fonts.sansBold, go->text, 10, shift, w + shift, top + rows / 2.0f + 1 + shift, kGoFrame, 0.8f);
    CentreText(c, fonts.sansBold, go->text, 10, shift - 0.5f, w + shift - 0.5f, top + rows / 2.0f + shift, kWhite);
  }
}

void DrawChequerStrip(Canvas& c, int left, int top, int right, int square) {
  DrawChequer(c, left, top, right, square, Rgb8(20, 22, 26), Rgb8(235, 238, 242));
}

void DrawPanelBackground(Canvas& c, int top, int rows, bool framed) {
  c.VerticalGradient(0, top, c.width(), top + rows, kPanelTop, kPanelBottom);
  const int w = c.width();
  // A light edge where the panel meets the board; the submenu, which stands free on the board,
  // gets it all round.
  for (int y = top; y < top + rows; ++y) {
    c.Set(w - 1, y, kPanelEdge);
    c.Set(w - 2, y, Mix(kPanelEdge, PanelColour(y - top, rows), 0.6f));
    if (framed) c.Set(0, y, kPanelEdge);
  }
  if (framed) {
    for (int x = 0; x < w; ++x) {
      c.Set(x, top, kPanelEdge);
      c.Set(x, top + rows - 1, kPanelEdge);
    }
  }
}

void DrawHeading(Canvas& c, const LayoutElement& e, int top, const Fonts& fonts) {
  const int w = c.width();
  DrawChequerStrip(c, 8, top + e.first + 6, w - 8, 4);
  CentreText(c, fonts.sansBoldItalic, e.text, 25, 0, static_cast<float>(w), top + e.first + 40.0f, kInk);
  // A swoosh under the name, wide at the front and thin at the back, like a car's streak.
  for (int i = 0; i < 40; ++i) {
    const float u = i / 39.0f;
    const float x = 18 + u * (w - 36);
    c.FillCircle({x, top + e.first + 58.0f - 2 * u}, 2.2f - 1.8f * u, kAmber);
  }
  // The game in one picture: a car, its trail and the disc it may reach next.
  const float y = top + e.first + 112.0f;
  const Point car{static_cast<float>(w) * 0.58f, y};
  const std::vector<Point> trail = {{16, y + 34}, {34, y + 24}, {54, y + 12}, {car.x - 1, y}};
  for (size_t i = 0; i + 1 < trail.size(); ++i) {
    c.StrokeLine(trail[i], trail[i + 1], 1.6f, PlayerColour(0), 0.45f + 0.15f * i);
    c.FillCircle(trail[i], 1.8f, PlayerColour(0), 0.7f);
  }
  const Point predicted{car.x + (car.x - trail[2].x), y - 12};
  c.StrokeCircle(predicted, 20, 1.2f, PlayerColour(0), 0.9f);
  c.StrokeLine({predicted.x - 5, predicted.y}, {predicted.x + 5, predicted.y}, 1.0f, kInk, 0.8f);
  c.StrokeLine({predicted.x, predicted.y - 5}, {predicted.x, predicted.y + 5}, 1.0f, kInk, 0.8f);
  DrawCar(c, car, std::atan2(-12.0f, car.x - trail[2].x), 30, PlayerColour(0));
  for (int x = 10; x < w - 10; ++x) c.Blend(x, top + e.last - 1, kPanelEdge, 0.5f);
}

void DrawMenu(Canvas& c, const PictureLayout& layout, const Fonts& fonts) {
  const int rows = layout.halfRows;
  const int w = c.width();
  for (int half = 0; half < 2; ++half) {
    const int top = half * rows;
    const bool lit = half == 1;
    DrawPanelBackground(c, top, rows, false);
    for (const LayoutElement& e : layout.elements) {
      if (e.kind == "heading") {
        DrawHeading(c, e, top, fonts);
        continue;
      }
      if (e.kind != "entry") throw ToolError(layout.file + ": a menu has no '" + e.kind + "'");
      const float boxTop = static_cast<float>(top + e.first);
      const float boxBottom = static_cast<float>(top + e.last + 1);
      const float centreY = (boxTop + boxBottom) / 2;
      DrawButtonBody(c, 6, boxTop, w - 6.0f, boxBottom, 4, lit);
      const Rgb ink = lit ? kOnInk : kInk;
      DrawIcon(c, e.icon, Point{21, centreY}, ink, lit ? kOnBottom : kButtonBottom);
      LeftText(c, fonts.sansBold, e.text, 13, 36, centreY, ink);
      if (e.name == "players") {
        // The entry opens a panel beside it.
        c.StrokePolyline({{w - 19.0f, centreY - 4}, {w - 15.0f, centreY}, {w - 19.0f, centreY + 4}}, 1.8f, ink, false);
      }
    }
  }
}

void DrawSubMenu(Canvas& c, const PictureLayout& layout, const Fonts& fonts) {
  const int rows = layout.halfRows;
  const int w = c.width();
  for (int half = 0; half < 2; ++half) {
    const int top = half * rows;
    const bool lit = half == 1;
    DrawPanelBackground(c, top, rows, true);
    int lastBand = 0;
    for (const LayoutElement& e : layout.elements) {
      if (e.kind == "heading") {
        CentreText(c, fonts.sansBold, e.text, 11, 0, static_cast<float>(w), top + (e.first + e.last + 1) / 2.0f,
                   kMutedInk);
        continue;
      }
      if (e.kind != "band") throw ToolError(layout.file + ": a submenu has no '" + e.kind + "'");
      const int count = std::atoi(e.name.c_str());
      if (count < 1 || count > kMaxPlayers) throw ToolError(layout.file + ": no player count " + e.name);
      lastBand = std::max(lastBand, e.last);
      const float boxTop = static_cast<float>(top + e.first);
      const float boxBottom = static_cast<float>(top + e.last + 1);
      const float centreY = (boxTop + boxBottom) / 2;
      DrawButtonBody(c, 3, boxTop, w - 3.0f, boxBottom, 3, lit);
      CentreText(c, fonts.sansBold, e.name, 13, 4, 17, centreY, lit ? kOnInk : kInk);
      // One small car square per player, in the players' own colours.
      // Light frames between them, so that the black car shows on the dark panel too.
      const float y = std::floor(centreY) - 3;
      c.FillPolygon(Box(19, y, 19 + 5.0f * count + 1, y + 6), kCarFrame);
      for (int p = 0; p < count; ++p) {
        const float x = 20.0f + 5 * p;
        c.FillPolygon(Box(x, y + 1, x + 4, y + 5), PlayerColour(p));
      }
    }
    DrawChequerStrip(c, 6, top + lastBand + 10, w - 6, 3);
  }
}

void DrawDigits(Canvas& c, const PictureLayout& layout, const Fonts& fonts) {
  const LayoutElement* glyphs = layout.Find("glyphs", "digits");
  if (glyphs == nullptr || glyphs->text.size() != 10) {
    throw ToolError(layout.file + ": the layout needs the ten digits");
  }
  const int cell = c.width() / 10;
  const int rows = glyphs->last - glyphs->first + 1;
  // The largest size whose digits, with their one-pixel edge, fit a cell.
  float size = 20;
  for (; size > 6; size -= 0.5f) {
    bool fits = true;
    for (char d : glyphs->text) {
      const TextMask t = fonts.monoBold.Render(std::string(1, d), size);
      if (t.inkRight - t.inkLeft + 2 > cell || t.inkBottom - t.inkTop + 2 > rows) fits = false;
    }
    if (fits) break;
  }
  const Rgb key = DigitKeyRgb();
  c.Fill(key);
  for (int i = 0; i < 10; ++i) {
    const TextMask t = fonts.monoBold.Render(std::string(1, glyphs->text[i]), size);
    // Every digit stands on the same baseline; the tallest ink touches the strip's top edge.
    const TextMask eight = fonts.monoBold.Render("8", size);
    const int inkHeight = eight.baseline - eight.inkTop;
    const int x0 = i * cell + (cell - (t.inkRight - t.inkLeft)) / 2 - t.inkLeft;
    const int y0 = glyphs->first + 1 + inkHeight - t.baseline;
    // Hard decisions at the rim, because the key colour must never be mixed into a visible
    // pixel: a pixel with ink is the ink laid over the light edge colour; a pixel without ink
    // but beside a dark one is the light edge; anything else is transparent. So every dark
    // pixel has light all round it, whatever lies under the strip.
    auto ink = [&](int x, int y) { return t.mask.At(x - x0, y - y0); };
    for (int py = glyphs->first; py <= glyphs->last; ++py) {
      for (int px = i * cell; px < (i + 1) * cell; ++px) {
        const float a = ink(px, py);
        bool besideDark = false;
        for (int dy = -1; dy <= 1; ++dy) {
          for (int dx = -1; dx <= 1; ++dx) besideDark = besideDark || ink(px + dx, py + dy) >= kDarkInk;
        }
        if (a > kFaintInk) {
          c.Set(px, py, Mix(kDigitEdge, kDigitInk, std::min(1.0f, a * 1.1f)));
        } else if (besideDark) {
          c.Set(px, py, kDigitEdge);
        }
      }
    }
  }
}

// The host keys along the bottom of the title: each key in amber, what it does beside it, the
// whole line centred. The text is "KEY what|KEY what|...".
void DrawHostKeys(Canvas& c, const LayoutElement& e, const Fonts& fonts) {
  constexpr float kSize = 10;
  constexpr int kGap = 9;
  struct Part {
    TextMask key;
    TextMask what;
  };
  std::vector<Part> parts;
  int width = 0;
  size_t start = 0;
  while (start <= e.text.size()) {
    size_t end = e.text.find('|', start);
    if (end == std::string::npos) end = e.text.size();
    const std::string item = e.text.substr(start, end - start);
    const size_t blank = item.find(' ');
    if (blank == std::string::npos) throw ToolError("a host key needs a key and what it does: '" + item + "'");
    parts.push_back(
        {fonts.sansBold.Render(item.substr(0, blank), kSize), fonts.sans.Render(item.substr(blank), kSize)});
    width += parts.back().key.advance + parts.back().what.advance + (parts.size() > 1 ? kGap : 0);
    start = end + 1;
  }
  const int cap = fonts.sans.CapHeight(kSize);
  const int baseline = static_cast<int>(std::lround((e.first + e.last + 1) / 2.0f + cap / 2.0f));
  int x = (c.width() - width) / 2;
  for (const Part& p : parts) {
    c.PaintMask(p.key.mask, x, baseline - p.key.baseline, kAmber);
    x += p.key.advance;
    c.PaintMask(p.what.mask, x, baseline - p.what.baseline, Rgb8(176, 192, 214));
    x += p.what.advance + kGap;
  }
}

// The game's name in the rows of `e`, shadowed and shaded, with a streak under it.
void DrawWordmark(Canvas& c, const LayoutElement& e, const Fonts& fonts) {
  const int w = c.width();
  const TextMask t = fonts.sansBoldItalic.Render(e.text, 46);
  const int x = (w - (t.inkRight - t.inkLeft)) / 2 - t.inkLeft;
  const int y = e.first + (e.last - e.first + 1 - 14 - (t.inkBottom - t.inkTop)) / 2 - t.inkTop;
  const Mask shadow = Blur(Dilate(t.mask, 2), 2);
  c.PaintMask(shadow, x - 4 + 3, y - 4 + 4, kBlack, 0.75f);
  c.PaintMask(Dilate(t.mask, 2), x - 2, y - 2, Rgb8(8, 12, 20));
  const int inkTop = y + t.inkTop;
  const int inkBottom = y + t.inkBottom;
  c.PaintMask(t.mask, x, y, [=](int, int py) {
    const float u = static_cast<float>(py - inkTop) / std::max(1, inkBottom - inkTop);
    return u < 0.5f ? Mix(kWhite, Rgb8(220, 230, 245), u * 2) : Mix(Rgb8(255, 214, 92), kAmber, (u - 0.5f) * 2);
  });
  // The streak under the name.
  for (int i = 0; i < 60; ++i) {
    const float u = i / 59.0f;
    c.FillCircle({24 + u * (w - 48), static_cast<float>(e.last) - 3 - 3 * u}, 3.0f - 2.6f * u, kAmber);
  }
}

// The picture of a race in the rows of `e`: a circuit with kerbs, a start line and three cars.
void DrawTitleMotif(Canvas& c, const LayoutElement& e) {
  const int w = c.width();
  const float top = static_cast<float>(e.first);
  const float bottom = static_cast<float>(e.last + 1);
  const float left = 10, right = w - 10.0f;
  // A field of striped grass with a small circuit on it.
  c.FillRoundRect(left - 2, top - 2, right + 2, bottom + 2, 16, Rgb8(6, 10, 18));
  c.FillShape(
      left, top, right, bottom, [=](float x, float y) { return RoundRectDistance(x, y, left, top, right, bottom, 14); },
      [=](float x, float y) { return (static_cast<int>((x + y) / 14) % 2) ? kGrassLight : kGrassDark; });
  auto at = [=](float u, float v) { return Point{left + u * (right - left), top + v * (bottom - top)}; };
  const std::vector<Point> loop =
      SmoothLoop({at(0.14f, 0.22f), at(0.45f, 0.12f), at(0.80f, 0.14f), at(0.90f, 0.38f), at(0.72f, 0.52f),
                  at(0.55f, 0.50f), at(0.46f, 0.66f), at(0.62f, 0.86f), at(0.30f, 0.90f), at(0.10f, 0.62f)},
                 24);
  c.StrokePolyline(loop, 26, kAsphaltEdge, true);
  // Kerbs where the loop bends hard: red and white blocks along both edges.
  const size_t n = loop.size();
  for (size_t i = 0; i < n; ++i) {
    const Point a = loop[(i + n - 3) % n], b = loop[i], d = loop[(i + 3) % n];
    const float turn = std::fabs(std::atan2((b.x - a.x) * (d.y - b.y) - (b.y - a.y) * (d.x - b.x),
                                            (b.x - a.x) * (d.x - b.x) + (b.y - a.y) * (d.y - b.y)));
    if (turn < 0.16f) continue;
    const Point q = loop[(i + 1) % n];
    c.StrokeLine(b, q, 26, (i / 3) % 2 ? kKerbRed : kWhite);
  }
  c.StrokePolyline(loop, 20, kAsphalt, true);
  // The start line: a chequer across the track.
  const Point s0 = loop[9 * 24 + 14], s1 = loop[9 * 24 + 15];
  const float heading = std::atan2(s1.y - s0.y, s1.x - s0.x);
  for (int row = 0; row < 2; ++row) {
    for (int col = -3; col < 3; ++col) {
      const std::vector<Point> square =
          Placed(Box(row * 3.0f - 3, col * 3.3f, row * 3.0f, col * 3.3f + 3.3f), s0, heading, 1);
      c.FillPolygon(square, (row + col) % 2 ? kBlack : kWhite);
    }
  }
  // Three cars; the red one shows its last moves and the disc it may reach next.
  auto tangent = [&](size_t i) {
    const Point a = loop[(i + n - 1) % n], b = loop[(i + 1) % n];
    return std::atan2(b.y - a.y, b.x - a.x);
  };
  const size_t red = 2 * 24 + 4;
  std::vector<Point> trail;
  for (int k = 5; k >= 0; --k) trail.push_back(loop[(red + n - static_cast<size_t>(k) * 9) % n]);
  for (size_t i = 0; i + 1 < trail.size(); ++i) {
    c.StrokeLine(trail[i], trail[i + 1], 1.6f, PlayerColour(0), 0.5f + 0.1f * i);
    c.FillCircle(trail[i], 1.8f, PlayerColour(0));
  }
  const Point predicted = loop[(red + 9) % n];
  c.StrokeCircle(predicted, 16, 1.3f, PlayerColour(0));
  c.StrokeCircle(predicted, 4, 1.2f, kWhite);
  c.StrokeLine({predicted.x - 7, predicted.y}, {predicted.x + 7, predicted.y}, 1.0f, kWhite);
  c.StrokeLine({predicted.x, predicted.y - 7}, {predicted.x, predicted.y + 7}, 1.0f, kWhite);
  DrawCar(c, loop[red], tangent(red), 24, PlayerColour(0));
  const size_t blue = 6 * 24 + 20;
  const size_t green = 8 * 24 + 10;
  DrawCar(c, loop[blue], tangent(blue), 24, PlayerColour(1));
  DrawCar(c, loop[green], tangent(green), 24, Rgb8(240, 200, 40));
}

void DrawTitle(Canvas& c, const PictureLayout& layout, const Fonts& fonts) {
  const int w = c.width();
  const int h = c.height();
  c.VerticalGradient(0, 0, w, h, kNightTop, kNightBottom);
  // Faint speed lines behind the name.
  for (int i = 0; i < 9; ++i) {
    const float y = 30.0f + i * 9;
    c.StrokeLine({-10, y + 30}, {w + 10.0f, y - 24}, 1.0f, kWhite, 0.04f);
  }
  DrawChequerStrip(c, 0, 2, w, 6);
  for (int x = 0; x < w; ++x) c.Set(x, 15, kAmber);

  for (const LayoutElement& e : layout.elements) {
    if (e.kind == "wordmark") {
      DrawWordmark(c, e, fonts);
    } else if (e.kind == "tagline") {
      CentreText(c, fonts.sans, e.text, 12, 0, static_cast<float>(w), (e.first + e.last + 1) / 2.0f,
                 Rgb8(176, 192, 214));
    } else if (e.kind == "motif") {
      DrawTitleMotif(c, e);
    } else if (e.kind == "keys") {
      DrawHostKeys(c, e, fonts);
    } else {
      throw ToolError(layout.file + ": a title has no '" + e.kind + "'");
    }
  }
}

// The badges of the computer drivers and of a remote car: a small plate with its letter, each in
// the columns of its element; the remote car's is green, apart from both levels'. What lies outside a plate is the key
// colour, so that only the plate is drawn over the board; its edge is hard for the same reason.
void DrawBadges(Canvas& c, const PictureLayout& layout, const Fonts& fonts) {
  c.Fill(DigitKeyRgb());
  const int h = c.height();
  for (const LayoutElement& e : layout.elements) {
    if (e.kind != "badge") throw ToolError(layout.file + ": a badge picture has no '" + e.kind + "'");
    const float left = static_cast<float>(e.first), right = static_cast<float>(e.last + 1);
    const bool pro = e.name == "pro";
    const bool online = e.name == "online";
    const Rgb top = online ? Rgb8(170, 236, 160) : pro ? kOnTop : Rgb8(226, 234, 244);
    const Rgb bottom = online ? Rgb8(60, 150, 70) : pro ? kOnBottom : Rgb8(150, 166, 188);
    for (int y = 0; y < h; ++y) {
      for (int x = e.first; x <= e.last; ++x) {
        const float d = RoundRectDistance(x + 0.5f, y + 0.5f, left, 0, right, static_cast<float>(h), 2.5f);
        if (d > 0) continue;
        c.Set(x, y, d > -1 ? kButtonFrame : Mix(top, bottom, static_cast<float>(y) / std::max(1, h - 1)));
      }
    }
    // A letter this small reads best with hard edges.
    TextMask t = fonts.sansBold.Render(e.text, static_cast<float>(h));
    for (float& a : t.mask.alpha) a = a > 0.4f ? 1.0f : 0.0f;
    const int x = static_cast<int>(std::lround((left + right - (t.inkRight - t.inkLeft)) / 2)) - t.inkLeft;
    const int y = (h - (t.inkBottom - t.inkTop) + 1) / 2 - t.inkTop;
    c.PaintMask(t.mask, x, y, kOnInk);
  }
}

// Each data picture's drawing, by file name. Pictures with the key colour are not dithered, so
// that the key comes out exactly.
struct DataPictureDrawer {
  const char* file;
  void (*draw)(Canvas& c, const PictureLayout& layout, const Fonts& fonts);
  bool dither;
};

const DataPictureDrawer kDataPictureDrawers[] = {
    {"MenuBar.pic", DrawMenuBar, true},
    {"GoButton.pic", DrawGoButton, true},
    {"Menu.pic", DrawMenu, true},
    {"SubMenu_NPlayer.pic", DrawSubMenu, true},
    {"Numbers-CourierNew14.pic", DrawDigits, false},
    {"GameData.dat", DrawTitle, true},
    {"Badges.pic", DrawBadges, false},
};

}  // namespace

Rgb DigitKeyRgb() { return Rgb{1, 0, 1}; }

void DrawCar(Canvas& c, Point centre, float angle, float length, Rgb body) {
  const float s = length / 20;  // the car is drawn on a 20-unit grid, nose towards +x
  auto part = [&](const std::vector<Point>& local, Rgb colour, float alpha = 1.0f) {
    c.FillPolygon(Placed(local, centre, angle, s), colour, alpha);
  };
  for (float x : {-8.0f, 4.0f}) {
    for (float y : {-5.2f, 2.6f}) part(Box(x, y, x + 4.2f, y + 2.6f), kTyre);
  }
  part(Box(-10, -4.4f, -7.6f, 4.4f), Shade(body, 0.6f));  // rear wing
  part(Box(7.8f, -4.6f, 9.4f, 4.6f), Shade(body, 0.7f));  // front wing
  const std::vector<Point> outline = {{10, 0},    {7, -1.4f}, {2, -1.8f}, {0, -3.2f}, {-5, -3.4f}, {-8, -2.2f},
                                      {-8, 2.2f}, {-5, 3.4f}, {0, 3.2f},  {2, 1.8f},  {7, 1.4f}};
  std::vector<Point> shadow;
  shadow.reserve(outline.size());
  for (Point p : outline) shadow.push_back({p.x + 0.8f, p.y + 1.0f});
  part(shadow, kCarShadow, 0.3f);
  part(outline, body);
  part({{9, 0}, {-7, 0.5f}, {-7, -0.5f}}, Shade(body, 1.45f), 0.6f);  // a stripe along the top
  part({{2.5f, 0}, {0, -1.6f}, {-3.5f, -1.6f}, {-3.5f, 1.6f}, {0, 1.6f}}, kCockpit);
  c.FillCircle(Rotate({-1.0f * s, 0}, centre, angle), 1.1f * s, kWhite);
}

void DrawChequer(Canvas& c, int left, int top, int right, int square, Rgb dark, Rgb light) {
  for (int row = 0; row < 2; ++row) {
    for (int x = left, col = 0; x < right; x += square, ++col) {
      const Rgb colour = (row + col) % 2 ? dark : light;
      for (int y = top + row * square; y < top + (row + 1) * square; ++y) {
        for (int px = x; px < std::min(right, x + square); ++px) c.Set(px, y, colour);
      }
    }
  }
}

std::vector<uint16_t> DrawDataPicture(const PictureLayout& layout, const std::string& fontFolder) {
  const Fonts fonts(fontFolder);
  Canvas canvas(layout.width, layout.height);
  const DataPictureDrawer* drawer = nullptr;
  for (const DataPictureDrawer& d : kDataPictureDrawers) {
    if (layout.file == d.file) drawer = &d;
  }
  if (drawer == nullptr) throw ToolError("no drawing for a picture called " + layout.file);
  drawer->draw(canvas, layout, fonts);
  const bool dither = drawer->dither;
  return canvas.ToPixels(dither);
}

void WriteDataPictures(const std::vector<PictureLayout>& layouts, const std::string& fontFolder,
                       const std::string& outFolder) {
  std::error_code error;
  std::filesystem::create_directories(outFolder, error);
  if (error) throw ToolError("can't create the folder " + outFolder);
  for (const PictureLayout& layout : layouts) {
    const std::vector<uint16_t> pixels = DrawDataPicture(layout, fontFolder);
    WriteFileSafely(outFolder + "/" + layout.file, EncodePicture(layout.width, layout.height, pixels.data()));
  }
}
