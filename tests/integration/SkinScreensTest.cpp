// The skinned main window of the running program on every supported screen, checked on the
// pictures the device console takes: each button drawn from its own image, the bars at the
// levels the phone reports, the place panel's lines, a Bluetooth change in the button's pixels
// and one layout per turn of the phone.
#include <gtest/gtest.h>

#include <QColor>
#include <QFile>
#include <QImage>
#include <QXmlStreamReader>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Json.h"
#include "support/Programs.h"
#include "support/Wait.h"

namespace fs = std::filesystem;

namespace {

// One layout line of the trace: the panel's size and each button's geometry and image.
struct Layout {
  int width = 0, height = 0;
  struct Button {
    QRect rect;
    std::string image;
  };
  std::map<std::string, Button> buttons;
};

std::vector<Layout> Layouts(const std::string& trace) {
  std::vector<Layout> out;
  std::istringstream in(trace);
  std::string line;
  const std::string tag = "CBaseWindow::ReorderShell ";
  while (std::getline(in, line)) {
    auto at = line.find(tag);
    if (at == std::string::npos)
      continue;
    std::istringstream words(line.substr(at + tag.size()));
    Layout layout;
    char x;
    words >> layout.width >> x >> layout.height;
    std::string word;
    while (words >> word) {
      // id=X,Y,WxH:file
      auto eq = word.find('='), colon = word.find(':');
      int bx, by, bw, bh;
      if (eq == std::string::npos || colon == std::string::npos ||
          std::sscanf(word.c_str() + eq + 1, "%d,%d,%dx%d", &bx, &by, &bw, &bh) != 4)
        continue;
      layout.buttons[word.substr(0, eq)] = {QRect(bx, by, bw, bh), word.substr(colon + 1)};
    }
    out.push_back(layout);
  }
  return out;
}

// What the installed skin says about one layout: the bars' frames and the place panel's lines
// (relative to the panel).
struct SkinFacts {
  QRect battery, signal;
  std::vector<QRect> placeLines;
};

QRect PositionOf(QXmlStreamReader& xml) {
  auto a = xml.attributes();
  return QRect(a.value("x").toInt(), a.value("y").toInt(), a.value("cx").toInt(),
               a.value("cy").toInt());
}

SkinFacts ReadSkin(const fs::path& file, const QString& orientation) {
  SkinFacts facts;
  QFile f(QString::fromStdString(file.string()));
  if (!f.open(QIODevice::ReadOnly))
    return facts;
  QXmlStreamReader xml(&f);
  QString currentOrientation, bar, button, buttonText;
  while (!xml.atEnd()) {
    if (!xml.readNextStartElement()) {
      if (xml.isEndElement() && xml.name() == QLatin1String("bar"))
        bar.clear();
      if (xml.isEndElement() && xml.name() == QLatin1String("button"))
        button.clear();
      if (xml.isEndElement() && xml.name() == QLatin1String("ButtonText"))
        buttonText.clear();
      continue;
    }
    auto id = xml.attributes().value("id").toString();
    if (xml.name() == QLatin1String("orientation"))
      currentOrientation = id;
    if (currentOrientation != orientation)
      continue;
    if (xml.name() == QLatin1String("bar"))
      bar = id;
    else if (xml.name() == QLatin1String("button"))
      button = id;
    else if (xml.name() == QLatin1String("ButtonText"))
      buttonText = id;
    else if (xml.name() == QLatin1String("position")) {
      if (bar == "battery" && buttonText.isEmpty())
        facts.battery = PositionOf(xml);
      else if (bar == "signal" && buttonText.isEmpty())
        facts.signal = PositionOf(xml);
      else if (button == "place" && !buttonText.isEmpty())
        facts.placeLines.push_back(PositionOf(xml));
    }
  }
  return facts;
}

QImage Load(const fs::path& file) {
  return QImage(QString::fromStdString(file.string())).convertToFormat(QImage::Format_ARGB32);
}

// Mean difference per channel between `shot` at `at` and `image` scaled to `at`'s size, over
// the pixels the image covers opaquely.
double OpaqueDifference(const QImage& shot, const QRect& at, const QImage& image) {
  QImage scaled = image.scaled(at.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  double sum = 0;
  int n = 0;
  for (int y = 0; y < at.height(); ++y) {
    for (int x = 0; x < at.width(); ++x) {
      QRgb want = scaled.pixel(x, y);
      if (qAlpha(want) < 255 || !shot.rect().contains(at.topLeft() + QPoint(x, y)))
        continue;
      QRgb got = shot.pixel(at.x() + x, at.y() + y);
      sum += std::abs(qRed(got) - qRed(want)) + std::abs(qGreen(got) - qGreen(want)) +
             std::abs(qBlue(got) - qBlue(want));
      n += 3;
    }
  }
  return n ? sum / n : 255;
}

// How full a bar is drawn: the share of the frame's middle column, counted from the bottom,
// that shows the fill's colour (a saturated colour; the empty part is grey or white).
int FillPercent(const QImage& shot, const QRect& frame) {
  int x = frame.center().x();
  int inner = frame.height() - 2;
  int filled = 0;
  for (int y = frame.bottom() - 1; y > frame.top(); --y) {
    if (QColor(shot.pixel(x, y)).hsvSaturation() > 80)
      ++filled;
  }
  return inner > 0 ? filled * 100 / inner : -1;
}

// Pixels of `box` that differ clearly from its top-left pixel: text drawn there.
int Ink(const QImage& shot, const QRect& box) {
  QRgb paper = shot.pixel(box.topLeft());
  int ink = 0;
  for (int y = box.top(); y <= box.bottom(); ++y)
    for (int x = box.left(); x <= box.right(); ++x) {
      QRgb p = shot.pixel(x, y);
      if (std::abs(qRed(p) - qRed(paper)) + std::abs(qGreen(p) - qGreen(paper)) +
              std::abs(qBlue(p) - qBlue(paper)) >
          120)
        ++ink;
    }
  return ink;
}

class SkinScreens : public ::testing::Test {
 protected:
  std::string TraceText() const { return telvane.TraceText(); }
  Layout LastLayout() const {
    auto all = Layouts(TraceText());
    return all.empty() ? Layout{} : all.back();
  }
  std::size_t LayoutCount() const { return Layouts(TraceText()).size(); }
  std::optional<platform::Json> MainWindow() {
    std::string out;
    if (dev.Console({"state", "--json"}, &out) != 0)
      return std::nullopt;
    auto report = platform::ParseJson(out);
    if (!report)
      return std::nullopt;
    for (const platform::Json& w : (*report)["windows"])
      if (w["class"] == "MainWindow")
        return w;
    return std::nullopt;
  }
  bool WindowIs(int w, int h) {
    auto win = MainWindow();
    return win && (*win)["width"] == w && (*win)["height"] == h;
  }
  QImage Screen() {
    fs::path file = dev.folder() / "screen.png";
    fs::remove(file);
    if (dev.Console({"screenshot", "--screen", file.string()}) != 0)
      return {};
    return Load(file);
  }
  fs::path Theme(const char* cls) const {
    return dev.folder() / "fs" / "Program Files" / "Telvane" / "themes" / "default" / cls;
  }

  TestDevice dev;
  TelvaneProcess telvane{dev};
};

TEST_F(SkinScreens, EveryScreenShowsItsButtonsBarsAndPanel) {
  ASSERT_EQ(dev.Console({"battery", "40"}), 0);
  ASSERT_EQ(dev.Console({"signal", "-85", "-113", "-51"}), 0);  // 45 %
  ASSERT_EQ(dev.Console({"bt", "connectable"}), 0);
  // A data entry gives the data button its solid tile: the thin dashed outline it has without
  // one keeps too few opaque pixels on a small screen's button to tell it from another image.
  ASSERT_EQ(dev.Console({"connections", "add", "Internet"}), 0);
  ASSERT_TRUE(telvane.StartAndWaitUntilReady()) << TraceText();
  ASSERT_TRUE(WaitUntil([&] { return LayoutCount() >= 1 && WindowIs(240, 320); }));

  // Turning the phone lays the buttons out once more, in the other orientation.
  std::size_t before = LayoutCount();
  Layout portrait = LastLayout();
  ASSERT_EQ(dev.Console({"rotate"}), 0);
  ASSERT_TRUE(WaitUntil([&] { return WindowIs(320, 240) && LayoutCount() > before; }));
  ASSERT_FALSE(Screen().isNull());  // the window has handled everything queued before it
  EXPECT_EQ(LayoutCount(), before + 1);
  Layout landscape = LastLayout();
  EXPECT_EQ(landscape.width, 320);
  EXPECT_NE(portrait.buttons["bt"].rect, landscape.buttons["bt"].rect);

  struct Size {
    int w, h;
    const char* cls;
    const char* orientation;
    int battery;  // percent
    int signal;   // dBm, on the scale -113 to -51
    double fit;   // the scale of the skin's lengths on a screen smaller than its class's
  } sizes[] = {{240, 320, "qvga", "portrait", 40, -85, 1.0},
               {320, 240, "qvga", "landscape", 75, -60, 1.0},
               {480, 640, "vga", "portrait", 20, -100, 1.0},
               {640, 480, "vga", "landscape", 90, -70, 1.0},
               {240, 240, "square", "square", 55, -90, 1.0},
               {176, 220, "qvga", "portrait", 60, -75, 0.6875},
               {220, 176, "qvga", "landscape", 35, -95, 0.6875}};
  const char* feature[] = {"connections", "band", "hide",    "refresh",
                           "wifi",        "bt",   "speaker", "phone"};
  for (const Size& s : sizes) {
    SCOPED_TRACE(std::to_string(s.w) + "x" + std::to_string(s.h));
    ASSERT_EQ(dev.Console({"screen", std::to_string(s.w) + "x" + std::to_string(s.h)}), 0);
    ASSERT_EQ(dev.Console({"battery", std::to_string(s.battery)}), 0);
    ASSERT_EQ(dev.Console({"signal", std::to_string(s.signal), "-113", "-51"}), 0);
    int signalPercent = (s.signal + 113) * 100 / 62;
    SkinFacts skin = ReadSkin(Theme(s.cls) / "skin.xml", s.orientation);
    auto fit = [&](const QRect& r) {
      auto f = [&](int v) { return static_cast<int>(v * s.fit); };
      return QRect(f(r.x()), f(r.y()), f(r.width()), f(r.height()));
    };
    skin.battery = fit(skin.battery);
    skin.signal = fit(skin.signal);
    for (QRect& line : skin.placeLines)
      line = fit(line);
    ASSERT_FALSE(skin.battery.isEmpty());
    ASSERT_EQ(skin.placeLines.size(), 4u);
    QImage question = Load(Theme(s.cls) / "question.png");
    ASSERT_FALSE(question.isNull());

    // The picture settles once the window has its size, its layout and the new levels.
    QImage shot;
    Layout layout;
    QPoint panel;  // the panel's corner on the screen (below the menu bar)
    bool settled = WaitUntil([&] {
      layout = LastLayout();
      if (!WindowIs(s.w, s.h) || layout.width != s.w)
        return false;
      shot = Screen();
      if (shot.size() != QSize(s.w, s.h))
        return false;
      panel = QPoint(0, s.h - layout.height);
      return std::abs(FillPercent(shot, skin.battery.translated(panel)) - s.battery) <= 8 &&
             std::abs(FillPercent(shot, skin.signal.translated(panel)) - signalPercent) <= 8;
    });
    EXPECT_TRUE(settled) << "battery drawn at " << FillPercent(shot, skin.battery.translated(panel))
                         << " %, signal at " << FillPercent(shot, skin.signal.translated(panel))
                         << " %";

    // Every button lies inside the panel and shows its own image, never the fallback.
    for (const char* id : feature) {
      SCOPED_TRACE(id);
      auto it = layout.buttons.find(id);
      ASSERT_NE(it, layout.buttons.end());
      const Layout::Button& b = it->second;
      EXPECT_TRUE(QRect(0, 0, layout.width, layout.height).contains(b.rect)) << b.rect.x();
      ASSERT_NE(b.image, "-");
      ASSERT_NE(b.image, "question.png");
      QImage own = Load(Theme(s.cls) / b.image);
      ASSERT_FALSE(own.isNull()) << b.image;
      QRect at = b.rect.translated(panel);
      double mine = OpaqueDifference(shot, at, own);
      double fallback = OpaqueDifference(shot, at, question);
      EXPECT_LT(mine, 12.0) << b.image;
      EXPECT_GT(fallback, mine + 20.0) << b.image;
    }
    // No two buttons overlap.
    for (std::size_t i = 0; i < std::size(feature); ++i)
      for (std::size_t j = i + 1; j < std::size(feature); ++j)
        EXPECT_FALSE(layout.buttons[feature[i]].rect.intersects(layout.buttons[feature[j]].rect))
            << feature[i] << " " << feature[j];

    // The place panel's four lines are written.
    QRect place = layout.buttons["place"].rect.translated(panel);
    for (const QRect& line : skin.placeLines)
      EXPECT_GT(Ink(shot, line.translated(place.topLeft())), 15);
  }
  EXPECT_EQ(TraceText().find("using question.png"), std::string::npos);

  // Bluetooth made discoverable from the phone changes the Bluetooth button's pixels only.
  ASSERT_EQ(dev.Console({"screen", "240x320"}), 0);
  ASSERT_TRUE(WaitUntil([&] { return WindowIs(240, 320) && LastLayout().width == 240; }));
  Layout layout = LastLayout();
  QPoint panel(0, 320 - layout.height);
  QRect bt = layout.buttons["bt"].rect.translated(panel);
  QRect wifi = layout.buttons["wifi"].rect.translated(panel);
  QImage before_bt = Screen();
  ASSERT_EQ(dev.Console({"bt", "discoverable"}), 0);
  QImage after_bt;
  EXPECT_TRUE(WaitUntil([&] {
    after_bt = Screen();
    return !after_bt.isNull() && after_bt.copy(bt) != before_bt.copy(bt);
  }));
  EXPECT_EQ(after_bt.copy(wifi), before_bt.copy(wifi));
  EXPECT_LT(OpaqueDifference(after_bt, bt, Load(Theme("qvga") / "bluetooth_discoverable.png")),
            12.0);
}

}  // namespace
