// An invisible stand-in over a bar the main window paints itself (battery, signal): it gives the
// bar a place on the accessibility bus, as a progress bar whose name reads its level ("Battery:
// 40 %") and whose value is the percentage, so a screen reader reads what the user sees. It
// draws nothing and lets taps through to the window under it.
//
// Threading: user-interface thread only.
#pragma once

#include <QWidget>

class CBarAccessible : public QWidget {
  Q_OBJECT

 public:
  CBarAccessible(QWidget* parent, const QString& objectName);

  // Follows the last paint of the bar: its frame (hidden when empty), the translated label
  // ("Battery: ") and the level. Accessibility events go out only for what changed.
  void Set(const QRect& frame, const QString& label, int percent);
  int Percent() const { return percent_; }

 private:
  int percent_ = -1;
};
