#include "ui/BarPainter.h"

#include <QLinearGradient>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "ui/SkinDraw.h"

namespace {

// A gradient colour; a component that is not given is `fallback`'s.
QColor GradientColor(const SkinColor& c, const SkinColor& fallback) {
  return QColor(c.r >= 0 ? c.r : fallback.r, c.g >= 0 ? c.g : fallback.g,
                c.b >= 0 ? c.b : fallback.b);
}

}  // namespace

CBarPainter::Rects CBarPainter::Draw(QPainter& p, const CBarConfigXML& bar, int percent,
                                     const SkinImage& icon, const char* defaultIcon) {
  Rects rects;
  percent = std::clamp(percent, 0, 100);
  const SkinPosition& pos = bar.position;
  // A bar without a position is not drawn: there is no sensible place to guess for it.
  if (pos.x >= 0 && pos.y >= 0 && pos.cx > 0 && pos.cy > 0) {
    QRect frame(pos.x, pos.y, pos.cx, pos.cy);
    rects.frame = frame;
    int fill = pos.cy * percent / 100;
    if (bar.mode == CBarConfigXML::kModeGradient) {
      if (fill > 0) {
        QRect area(QPoint(frame.left() + 1, frame.bottom() + 1 - fill),
                   QPoint(frame.right() - 1, frame.bottom() - 1));
        QLinearGradient gradient(area.topLeft(), area.bottomLeft());
        gradient.setColorAt(0, GradientColor(bar.gradientBegin, {0, 0, 255}));
        gradient.setColorAt(1, GradientColor(bar.gradientEnd, {0, 255, 0}));
        p.fillRect(area, gradient);
      }
    } else if (const QImage* image = LoadSkinImage(bar.barImage.file)) {
      const SkinPosition& ip = bar.barImage.position;
      QRect target(ip.x >= 0 ? ip.x : frame.x(), ip.y >= 0 ? ip.y : frame.y(),
                   ip.cx >= 0 ? ip.cx : frame.width(), ip.cy >= 0 ? ip.cy : frame.height());
      int rows = image->height() * percent / 100;
      int targetRows = target.height() * percent / 100;
      if (rows > 0 && targetRows > 0) {
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(QRect(target.x(), target.bottom() + 1 - targetRows, target.width(), targetRows),
                    *image, QRect(0, image->height() - rows, image->width(), rows));
      }
    }
    if (bar.border && bar.borderWidth > 0) {
      QPen pen(ToQColor(bar.borderColor), bar.borderWidth);
      pen.setJoinStyle(Qt::MiterJoin);
      p.setPen(pen);
      p.setBrush(Qt::NoBrush);
      qreal half = bar.borderWidth / 2.0;
      p.drawRect(QRectF(frame).adjusted(half, half, -half, -half));
    }
  }
  const SkinPosition& tp = bar.percentage.position;
  if (tp.x >= 0 && tp.y >= 0 && tp.cx > 0 && tp.cy > 0) {
    p.setFont(SkinQFont("Tahoma", std::max(1, static_cast<int>(std::lround(12 * bar.fit))), 700));
    p.setPen(bar.percentage.font.color.r >= 0 ? ToQColor(bar.percentage.font.color)
                                              : QColor(Qt::black));
    p.drawText(QRect(tp.x, tp.y, tp.cx, tp.cy), Qt::AlignCenter | Qt::TextDontClip,
               QString::number(percent));
  }
  if (const QImage* bitmap = LoadSkinImage(icon.file.empty() ? defaultIcon : icon.file)) {
    // Without a position the icon stands above the frame.
    // On a screen drawn smaller than its class the icon shrinks with everything else.
    QSize size = bitmap->size();
    if (bar.fit != 1.0)
      size = QSize(std::max(1, static_cast<int>(std::lround(size.width() * bar.fit))),
                   std::max(1, static_cast<int>(std::lround(size.height() * bar.fit))));
    int x = icon.position.x >= 0 ? icon.position.x : rects.frame.x();
    int y =
        icon.position.y >= 0 ? icon.position.y : std::max(0, rects.frame.y() - size.height() - 2);
    rects.icon = QRect(QPoint(x, y), size);
    const QImage& keyed = ColorKeyed(bitmap, qRgb(255, 255, 255), false);
    if (size == bitmap->size()) {
      p.drawImage(rects.icon.topLeft(), keyed);
    } else {
      p.setRenderHint(QPainter::SmoothPixmapTransform);
      p.drawImage(rects.icon, keyed);
    }
  }
  return rects;
}

CBarPainter::Rects CBarPainter::DrawBattery(QPainter& p, const CBarBatteryConfigXML& bar,
                                            int percent, bool onExternalPower) {
  return Draw(p, bar, percent, onExternalPower ? bar.acImage : bar.batteryImage,
              onExternalPower ? "ac.png" : "battery.png");
}

CBarPainter::Rects CBarPainter::DrawSignal(QPainter& p, const CBarSignalConfigXML& bar,
                                           int percent) {
  return Draw(p, bar, percent, bar.signalImage, "signal.png");
}
