// Renders every image of the phone themes from the glyph sources in art/glyphs: the feature
// buttons in each state (on, off, disabled, the extra states, each also pressed), the focus ring,
// the place icons, the bar images and icons, the home-screen item's icons and the window
// backgrounds, for each theme and screen class. The build runs it and installs what it writes.
//
//   telvane-theme-render GLYPH_DIR OUT_DIR [SHEET_DIR]
//
// OUT_DIR receives themes/<theme>/<class>/*.png|jpg and mainwindow_bg.jpg (the program folder's
// background); SHEET_DIR, when given, one contact sheet per theme for looking the images over.
#include <QColor>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QSvgRenderer>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Palette {
  const char* name;
  QColor window;     // flat window colour; the skins fill buttons with it
  QColor windowTop;  // top of the header behind the place panel and the bars
  QColor glow;       // soft light in the header
  QColor accent, accentPressed, onGlyph;
  QColor off, offPressed, offGlyph;
  QColor surface, surfacePressed;  // tiles of plain actions (hide, refresh)
  QColor disabledLine, disabledGlyph;
  QColor shadow;
  QColor panel, panelLine;
  QColor batteryTop, batteryBottom, signalTop, signalBottom;
};

const Palette kLight = {"default",
                        QColor(238, 241, 246),
                        QColor(214, 226, 247),
                        QColor(255, 255, 255, 150),
                        QColor(47, 111, 237),
                        QColor(30, 80, 186),
                        QColor(255, 255, 255),
                        QColor(221, 226, 234),
                        QColor(193, 201, 214),
                        QColor(59, 66, 80),
                        QColor(255, 255, 255),
                        QColor(222, 228, 238),
                        QColor(176, 184, 198),
                        QColor(176, 184, 198),
                        QColor(25, 40, 80, 46),
                        QColor(255, 255, 255),
                        QColor(211, 218, 230),
                        QColor(92, 214, 120),
                        QColor(28, 150, 72),
                        QColor(110, 170, 255),
                        QColor(35, 95, 220)};

const Palette kDark = {"dark",
                       QColor(18, 20, 24),
                       QColor(27, 36, 56),
                       QColor(120, 160, 255, 40),
                       QColor(122, 167, 255),
                       QColor(86, 130, 225),
                       QColor(10, 24, 52),
                       QColor(42, 47, 56),
                       QColor(30, 34, 41),
                       QColor(214, 219, 228),
                       QColor(36, 40, 48),
                       QColor(27, 30, 36),
                       QColor(62, 68, 80),
                       QColor(78, 85, 98),
                       QColor(0, 0, 0, 110),
                       QColor(29, 33, 41),
                       QColor(45, 51, 62),
                       QColor(120, 230, 150),
                       QColor(40, 160, 90),
                       QColor(140, 190, 255),
                       QColor(60, 110, 230)};

// The sizes each class's skins give the images (the skins in themes/ use the same numbers).
struct ScreenClass {
  const char* name;
  double k;  // scale against the qvga drawing
  int tileW, tileH;
  int screenW, screenH;
  int panelW, panelH, panelLandW, panelLandH;  // the place panel's card; 0: no landscape
  int barW, barH;
  int icon;   // the icons beside the bars
  int place;  // the place icons
};

const ScreenClass kClasses[] = {
    {"qvga", 1.0, 60, 65, 240, 320, 176, 90, 0, 0, 10, 70, 16, 44},
    {"vga", 2.0, 120, 130, 480, 640, 352, 180, 352, 132, 20, 140, 32, 88},
    {"square", 2.0 / 3.0, 40, 45, 240, 240, 176, 80, 0, 0, 10, 54, 16, 32},
};

enum class Style { kOn, kOff, kDisabled, kAction };

// What stands in the middle of a tile: a glyph file or a short text.
struct Glyph {
  const char* svg = nullptr;
  const char* text = nullptr;
};

QString gGlyphDir;

// The glyph recoloured to `color`, `size` pixels square.
QImage GlyphImage(const char* svg, int size, const QColor& color) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QSvgRenderer renderer(gGlyphDir + "/" + svg + ".svg");
  if (!renderer.isValid()) {
    std::fprintf(stderr, "telvane-theme-render: cannot read glyph %s\n", svg);
    std::exit(1);
  }
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  renderer.render(&p, QRectF(0, 0, size, size));
  p.setCompositionMode(QPainter::CompositionMode_SourceIn);
  p.fillRect(image.rect(), color);
  return image;
}

void DrawGlyph(QPainter& p, const Glyph& glyph, const QPointF& centre, double size,
               const QColor& color) {
  if (glyph.svg) {
    int px = static_cast<int>(std::lround(size));
    p.drawImage(QPointF(centre.x() - px / 2.0, centre.y() - px / 2.0),
                GlyphImage(glyph.svg, px, color));
    return;
  }
  QFont font("DejaVu Sans");
  font.setBold(true);
  double len = std::strlen(glyph.text);
  font.setPixelSize(std::max(6, static_cast<int>(std::lround(size * (len > 2 ? 0.42 : 0.62)))));
  font.setLetterSpacing(QFont::PercentageSpacing, len > 2 ? 96 : 100);
  p.setFont(font);
  p.setPen(color);
  QRectF box(centre.x() - size, centre.y() - size / 2, 2 * size, size);
  p.drawText(box, Qt::AlignCenter, glyph.text);
}

QPainterPath RoundRect(const QRectF& r, double radius) {
  QPainterPath path;
  path.addRoundedRect(r, radius, radius);
  return path;
}

void DrawShadow(QPainter& p, const QRectF& r, double radius, double k, const QColor& shadow) {
  for (int i = 3; i >= 0; --i) {
    QColor c = shadow;
    c.setAlphaF(shadow.alphaF() / (i + 1.5));
    QRectF s =
        r.adjusted(-i * 0.5 * k, 0, i * 0.5 * k, i * 0.6 * k).translated(0, (1 + i * 0.5) * k);
    p.fillPath(RoundRect(s, radius + i * 0.5 * k), c);
  }
}

// Radio waves on both sides of the glyph: the device can be found by others.
void DrawWaves(QPainter& p, const QPointF& c, double k, double glyph, const QColor& color) {
  QPen pen(color, 1.8 * k, Qt::SolidLine, Qt::RoundCap);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  for (int i = 0; i < 2; ++i) {
    double r = glyph * 0.55 + (4.0 + 4.2 * i) * k;
    QRectF box(c.x() - r, c.y() - r, 2 * r, 2 * r);
    p.drawArc(box, -40 * 16, 80 * 16);
    p.drawArc(box, 140 * 16, 80 * 16);
  }
}

using Decoration = std::function<void(QPainter&, const QPointF& centre, double glyphSize,
                                      const QColor& glyphColor)>;

// One button image: a rounded tile in the upper part of the button (the caption goes below it).
QImage Tile(const Palette& pal, const ScreenClass& sc, Style style, bool pressed,
            const Glyph& glyph, const Decoration& decoration = nullptr) {
  const double k = sc.k;
  QImage image(sc.tileW, sc.tileH, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  QRectF tile(5 * k, 3 * k, 50 * k, 48 * k);
  double radius = 13 * k;
  if (pressed)
    tile.adjust(1.5 * k, 1.5 * k, -1.5 * k, -1.0 * k);

  QColor fill, glyphColor;
  switch (style) {
    case Style::kOn:
      fill = pressed ? pal.accentPressed : pal.accent;
      glyphColor = pal.onGlyph;
      break;
    case Style::kOff:
      fill = pressed ? pal.offPressed : pal.off;
      glyphColor = pal.offGlyph;
      break;
    case Style::kAction:
      fill = pressed ? pal.surfacePressed : pal.surface;
      glyphColor = pressed ? pal.accentPressed : pal.accent;
      break;
    case Style::kDisabled:
      glyphColor = pal.disabledGlyph;
      break;
  }

  if (style == Style::kDisabled) {
    QPen pen(pal.disabledLine, std::max(1.0, 1.4 * k), Qt::DashLine, Qt::RoundCap);
    pen.setDashPattern({2.5, 2.0});
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPath(RoundRect(tile.adjusted(0.7 * k, 0.7 * k, -0.7 * k, -0.7 * k), radius));
  } else {
    if (!pressed)
      DrawShadow(p, tile, radius, k, pal.shadow);
    QLinearGradient g(tile.topLeft(), tile.bottomLeft());
    g.setColorAt(0, pressed ? fill.darker(104) : fill.lighter(107));
    g.setColorAt(1, pressed ? fill.lighter(103) : fill);
    p.fillPath(RoundRect(tile, radius), g);
    if (pressed) {
      // An inner shade along the top edge: the tile looks pushed in.
      QLinearGradient inner(tile.topLeft(), tile.topLeft() + QPointF(0, 6 * k));
      inner.setColorAt(0, QColor(0, 0, 0, 50));
      inner.setColorAt(1, QColor(0, 0, 0, 0));
      p.fillPath(RoundRect(tile, radius), inner);
    }
  }

  QPointF centre = tile.center();
  double glyphSize = 26 * k;
  if (pressed)
    glyphSize -= 2 * k;
  DrawGlyph(p, glyph, centre, glyphSize, glyphColor);
  if (decoration)
    decoration(p, centre, glyphSize, glyphColor);
  return image;
}

// The focus ring, drawn over the focused button.
QImage FocusRing(const Palette& pal, const ScreenClass& sc) {
  const double k = sc.k;
  QImage image(sc.tileW, sc.tileH, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QRectF ring = QRectF(5 * k, 3 * k, 50 * k, 48 * k).adjusted(-2.6 * k, -2.2 * k, 2.6 * k, 2.6 * k);
  p.setPen(QPen(pal.accent, 2.4 * k));
  p.setBrush(Qt::NoBrush);
  p.drawPath(RoundRect(ring, 15 * k));
  return image;
}

// A round place icon with its own colour.
QImage PlaceIcon(int size, const QColor& color, const char* svg, const QColor& glyphColor,
                 bool question = false) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QRectF circle(0.5, 0.5, size - 1.0, size - 1.0);
  QLinearGradient g(circle.topLeft(), circle.bottomLeft());
  g.setColorAt(0, color.lighter(112));
  g.setColorAt(1, color.darker(106));
  p.setPen(Qt::NoPen);
  p.setBrush(g);
  p.drawEllipse(circle);
  double glyph = size * 0.56;
  QPointF c = circle.center();
  p.drawImage(QPointF(c.x() - std::lround(glyph) / 2.0, c.y() - std::lround(glyph) / 2.0),
              GlyphImage(svg, static_cast<int>(std::lround(glyph)), glyphColor));
  if (question) {
    double r = size * 0.2;
    QRectF badge(size - 2 * r - 0.5, size - 2 * r - 0.5, 2 * r, 2 * r);
    p.setBrush(QColor(255, 255, 255));
    p.drawEllipse(badge);
    QFont font("DejaVu Sans");
    font.setBold(true);
    font.setPixelSize(std::max(6, static_cast<int>(std::lround(r * 1.6))));
    p.setFont(font);
    p.setPen(color.darker(130));
    p.drawText(badge, Qt::AlignCenter, "?");
  }
  return image;
}

// A small plain glyph (the icons beside the bars).
QImage Icon(int size, const char* svg, const QColor& color) {
  return GlyphImage(svg, size, color);
}

// The fill of a bar in image mode: a rounded capsule with a gradient and level marks.
QImage BarImage(int w, int h, const QColor& top, const QColor& bottom, double k) {
  QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 0, h);
  g.setColorAt(0, top);
  g.setColorAt(1, bottom);
  p.fillPath(RoundRect(QRectF(0, 0, w, h), std::min(w, h) * 0.3), g);
  p.setPen(QPen(QColor(255, 255, 255, 110), std::max(1.0, k)));
  for (int i = 1; i < 5; ++i) {
    double y = h * i / 5.0;
    p.drawLine(QPointF(1.5 * k, y), QPointF(w - 1.5 * k, y));
  }
  return image;
}

QImage PanelCard(const Palette& pal, int w, int h, double k) {
  QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QRectF card(1.5 * k, 1 * k, w - 3 * k, h - 4 * k);
  DrawShadow(p, card, 12 * k, k, pal.shadow);
  p.fillPath(RoundRect(card, 12 * k), pal.panel);
  p.setPen(QPen(pal.panelLine, std::max(1.0, 0.8 * k)));
  p.drawPath(RoundRect(card, 12 * k));
  return image;
}

QImage Background(const Palette& pal, int w, int h, int headerH) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(pal.window);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 0, headerH);
  g.setColorAt(0, pal.windowTop);
  g.setColorAt(1, pal.window);
  p.fillRect(QRect(0, 0, w, headerH), g);
  // The light fades out inside the header, so that the flat part below shows no edge.
  QRadialGradient glow(QPointF(w * 0.8, 0), headerH * 0.95);
  glow.setColorAt(0, pal.glow);
  QColor clear = pal.glow;
  clear.setAlpha(0);
  glow.setColorAt(1, clear);
  p.fillRect(QRect(0, 0, w, headerH), glow);
  return image;
}

struct Writer {
  QString folder;
  std::vector<std::pair<QString, QImage>> sheet;  // the button images, for the contact sheet
  bool ok = true;

  void Save(const QString& name, const QImage& image, bool onSheet = false) {
    QString path = folder + "/" + name;
    bool jpeg = name.endsWith(".jpg");
    if (!image.save(path, jpeg ? "JPG" : "PNG", jpeg ? 95 : -1)) {
      std::fprintf(stderr, "telvane-theme-render: cannot write %s\n", qPrintable(path));
      ok = false;
    }
    if (onSheet)
      sheet.emplace_back(name, image);
  }
};

// Header height behind the place panel and the bars, by class and orientation: the gradient
// ends above the first row of buttons, whose surroundings the skins fill with the flat colour.
int HeaderHeight(const ScreenClass& sc, bool landscape) {
  if (sc.screenW == sc.screenH)
    return 108;
  if (sc.k > 1)
    return landscape ? 150 : 260;
  return landscape ? 122 : 130;
}

// The feature buttons: each image with its pressed twin (file name + "_p").
void RenderButtons(Writer& w, const Palette& pal, const ScreenClass& sc) {
  auto both = [&](const QString& name, Style style, const Glyph& glyph,
                  const Decoration& decoration = nullptr) {
    w.Save(name + ".png", Tile(pal, sc, style, false, glyph, decoration), true);
    w.Save(name + "_p.png", Tile(pal, sc, style, true, glyph, decoration), true);
  };
  auto disabled = [&](const QString& name, const Glyph& glyph) {
    w.Save(name + ".png", Tile(pal, sc, Style::kDisabled, false, glyph), true);
  };
  const double k = sc.k;
  Decoration waves = [k](QPainter& p, const QPointF& c, double size, const QColor& color) {
    DrawWaves(p, c, k, size, color);
  };

  both("bluetooth", Style::kOn, {"bt_on"});
  both("bluetooth_des", Style::kOff, {"bt_off"});
  both("bluetooth_discoverable", Style::kOn, {"bt_on"}, waves);
  disabled("bluetooth_dis", {"bt_on"});

  both("speaker", Style::kOn, {"speaker_on"});
  both("speaker_des", Style::kOff, {"speaker_off"});
  both("speaker_vibrate", Style::kOn, {"vibrate"});
  disabled("speaker_dis", {"speaker_on"});

  both("wifi", Style::kOn, {"wifi_on"});
  both("wifi_des", Style::kOff, {"wifi_off"});
  disabled("wifi_dis", {"wifi_on"});

  both("mobilephone", Style::kOn, {"phone_on"});
  both("mobilephone_des", Style::kOff, {"phone_off"});
  disabled("mobilephone_dis", {"phone_on"});

  both("connection", Style::kOn, {"conn_on"});
  both("connection_des", Style::kOff, {"conn_off"});
  disabled("connection_dis", {"conn_on"});

  both("3g", Style::kOn, {nullptr, "3G"});
  both("2g", Style::kOff, {nullptr, "2G"});
  both("auto", Style::kOn, {nullptr, "AUTO"});
  disabled("2g_dis", {nullptr, "2G"});

  both("hide", Style::kAction, {"hide"});
  both("refresh", Style::kAction, {"refresh"});

  w.Save("question.png", Tile(pal, sc, Style::kOff, false, {"question"}), true);
  w.Save("focus.png", FocusRing(pal, sc), true);
}

void RenderPlaces(Writer& w, const Palette& pal, const ScreenClass& sc) {
  int size = sc.place;
  QColor white(255, 255, 255);
  QColor grey = pal.name == std::string("dark") ? QColor(84, 92, 106) : QColor(140, 150, 166);
  w.Save("unknown.png", PlaceIcon(size, grey, "location", white, true), true);
  w.Save("place_unknown.png", PlaceIcon(size, grey, "location", white, true), true);
  struct Place {
    const char* file;
    const char* svg;
    QColor color;
  } places[] = {
      {"place_home.png", "home", QColor(52, 168, 83)},
      {"place_work.png", "work", QColor(47, 111, 237)},
      {"place_travel.png", "travel", QColor(245, 124, 0)},
      {"place_food.png", "food", QColor(229, 57, 53)},
      {"place_park.png", "park", QColor(0, 150, 136)},
      {"place_sport.png", "sport", QColor(142, 68, 173)},
      {"place_friends.png", "friends", QColor(216, 27, 96)},
  };
  for (const Place& place : places)
    w.Save(place.file, PlaceIcon(size, place.color, place.svg, white), true);
}

// The bar icons, bar fills and the place panel's card, at the sizes the class's skin gives.
void RenderBars(Writer& w, const Palette& pal, const ScreenClass& sc) {
  const double k = std::max(1.0, sc.k);
  QColor glyph = pal.offGlyph;
  w.Save("battery.png", Icon(sc.icon, "battery", glyph), true);
  w.Save("signal.png", Icon(sc.icon, "signal", glyph), true);
  w.Save("ac.png", Icon(sc.icon, "ac", glyph), true);
  w.Save("bar_battery.png", BarImage(sc.barW, sc.barH, pal.batteryTop, pal.batteryBottom, k), true);
  w.Save("bar_signal.png", BarImage(sc.barW, sc.barH, pal.signalTop, pal.signalBottom, k), true);
  w.Save("place_panel.png", PanelCard(pal, sc.panelW, sc.panelH, k), true);
  if (sc.panelLandW > 0)
    w.Save("place_panel_land.png", PanelCard(pal, sc.panelLandW, sc.panelLandH, k), true);
}

// The home-screen item's icons: 25 x 25 on every screen.
void RenderHomeIcons(Writer& w, const Palette& pal) {
  auto icon = [&](const QString& name, Style style, const Glyph& glyph, bool badge = false) {
    QImage image(25, 25, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QRectF tile(1, 1, 23, 23);
    QColor glyphColor;
    if (style == Style::kDisabled) {
      p.setPen(QPen(pal.disabledLine, 1.0));
      p.setBrush(Qt::NoBrush);
      p.drawPath(RoundRect(tile.adjusted(0.5, 0.5, -0.5, -0.5), 6));
      glyphColor = pal.disabledGlyph;
    } else {
      p.fillPath(RoundRect(tile, 6), style == Style::kOn ? pal.accent : pal.off);
      glyphColor = style == Style::kOn ? pal.onGlyph : pal.offGlyph;
    }
    if (glyph.svg) {
      p.drawImage(QPointF(5, 5), GlyphImage(glyph.svg, 15, glyphColor));
    } else {
      QFont font("DejaVu Sans");
      font.setBold(true);
      font.setPixelSize(std::strlen(glyph.text) > 1 ? 10 : 13);
      p.setFont(font);
      p.setPen(glyphColor);
      p.drawText(tile, Qt::AlignCenter, glyph.text);
    }
    if (badge) {
      p.setPen(QPen(pal.accent, 1.2));
      p.setBrush(pal.onGlyph);
      p.drawEllipse(QRectF(16.5, 1.5, 7, 7));
    }
    p.end();
    w.Save(name, image, true);
  };
  icon("td_wifi.png", Style::kOn, {"wifi_on"});
  icon("td_wifi_des.png", Style::kOff, {"wifi_off"});
  icon("td_bluetooth.png", Style::kOn, {"bt_on"});
  icon("td_bluetooth_des.png", Style::kOff, {"bt_off"});
  icon("td_bluetooth_discoverable.png", Style::kOn, {"bt_on"}, true);
  icon("td_speaker.png", Style::kOn, {"speaker_on"});
  icon("td_speaker_des.png", Style::kOff, {"speaker_off"});
  icon("td_speaker_vibrate.png", Style::kOn, {"vibrate"});
  icon("td_mobilephone.png", Style::kOn, {"phone_on"});
  icon("td_mobilephone_des.png", Style::kOff, {"phone_off"});
  icon("td_connection.png", Style::kOn, {"conn_on"});
  icon("td_connection_des.png", Style::kOff, {"conn_off"});
  icon("td_connection_dis.png", Style::kDisabled, {"conn_on"});
  icon("td_3g.png", Style::kOn, {nullptr, "3G"});
  icon("td_2g.png", Style::kOff, {nullptr, "2G"});
  icon("td_auto.png", Style::kOn, {nullptr, "A"});
  icon("td_unknown.png", Style::kOff, {nullptr, "?"});
}

// Every image of one class, laid out on the theme's window colour with its file name.
QImage ContactSheet(const Palette& pal, const std::vector<std::pair<QString, QImage>>& items) {
  const int columns = 8;
  int cellW = 0, cellH = 0;
  for (const auto& [name, image] : items) {
    cellW = std::max(cellW, std::max(image.width(), 110));
    cellH = std::max(cellH, image.height());
  }
  cellH += 16;
  int rows = static_cast<int>((items.size() + columns - 1) / columns);
  QImage sheet(columns * cellW + 8, rows * cellH + 8, QImage::Format_RGB32);
  sheet.fill(pal.window);
  QPainter p(&sheet);
  QFont font("DejaVu Sans");
  font.setPixelSize(9);
  p.setFont(font);
  p.setPen(pal.offGlyph);
  for (std::size_t i = 0; i < items.size(); ++i) {
    int x = 4 + static_cast<int>(i % columns) * cellW;
    int y = 4 + static_cast<int>(i / columns) * cellH;
    const QImage& image = items[i].second;
    p.drawImage(x + (cellW - image.width()) / 2, y, image);
    p.drawText(QRect(x, y + cellH - 14, cellW, 13), Qt::AlignCenter, items[i].first);
  }
  return sheet;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: telvane-theme-render GLYPH_DIR OUT_DIR [SHEET_DIR]\n");
    return 2;
  }
  // Fonts need a GUI application; no display is needed to draw into images.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  gGlyphDir = QString::fromLocal8Bit(argv[1]);
  QString out = QString::fromLocal8Bit(argv[2]);
  QString sheets = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
  bool ok = true;

  for (const Palette* pal : {&kLight, &kDark}) {
    std::vector<QImage> classSheets;
    for (const ScreenClass& sc : kClasses) {
      Writer w;
      w.folder = out + "/themes/" + pal->name + "/" + sc.name;
      QDir().mkpath(w.folder);
      RenderButtons(w, *pal, sc);
      RenderPlaces(w, *pal, sc);
      RenderBars(w, *pal, sc);
      RenderHomeIcons(w, *pal);
      w.Save("background.jpg", Background(*pal, sc.screenW, sc.screenH, HeaderHeight(sc, false)));
      w.Save("background_land.jpg",
             Background(*pal, sc.screenH, sc.screenW, HeaderHeight(sc, true)));
      ok = ok && w.ok;
      if (!sheets.isEmpty()) {
        classSheets.push_back(ContactSheet(*pal, w.sheet));
        QDir().mkpath(sheets);
        classSheets.back().save(sheets + "/" + pal->name + "-" + sc.name + ".png");
      }
    }
    if (!sheets.isEmpty()) {
      int width = 0, height = 0;
      for (const QImage& s : classSheets) {
        width = std::max(width, s.width());
        height += s.height();
      }
      QImage sheet(width, height, QImage::Format_RGB32);
      sheet.fill(pal->window);
      QPainter p(&sheet);
      int y = 0;
      for (const QImage& s : classSheets) {
        p.drawImage(0, y, s);
        y += s.height();
      }
      p.end();
      QDir().mkpath(sheets);
      sheet.save(sheets + "/" + pal->name + ".png");
    }
  }
  // The program folder's own background is the default theme's.
  Writer root;
  root.folder = out;
  root.Save("mainwindow_bg.jpg", Background(kLight, 240, 320, HeaderHeight(kClasses[0], false)));
  ok = ok && root.ok;
  return ok ? 0 : 1;
}
