// Owner drawing: a child control asks its owner window to draw it, and the owner dispatches the
// request to the object registered for that child.
#pragma once

#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>

#include <string>

class QPainter;
class QWidget;

// One draw request for a child control, in the child's coordinates.
struct DrawItemInfo {
  bool pressed = false;
  bool focused = false;
  QPainter* painter = nullptr;  // where the finished picture goes
  QRect rect;                   // the item's rectangle
};

// An object that draws a child control.
class IOwnerDraw {
 public:
  virtual ~IOwnerDraw() = default;
  virtual void DrawItem(const DrawItemInfo& info) = 0;
};

// The window that owns owner-drawn children. User-interface thread only.
class IOwnerDrawHost {
 public:
  virtual ~IOwnerDrawHost() = default;
  // Enters `child` -> `item` for the dispatch.
  virtual void RegisterOwnerDraw(QWidget* child, IOwnerDraw* item) = 0;
  // Finds the object that draws `child` and has it draw.
  virtual void DispatchDrawItem(QWidget* child, const DrawItemInfo& info) = 0;
  // The focused button's upper text, drawn by the owner in its own area (the rectangle filled
  // with `background`, the text centred in `color`), and the text for the owner's bottom area.
  virtual void SetUpperText(const QString& text, const QRect& rect, const QFont& font,
                            const QColor& color, const QColor& background) = 0;
  virtual void SetBottomText(const std::string& text) = 0;
  // A key released on a child (the owner moves the focus).
  virtual void OnChildKeyUp(int key) = 0;
  // A child was tapped.
  virtual void OnChildCommand(int controlId) = 0;
  // The current-location panel's place and frame texts.
  virtual void PublishPlaceText(const std::string& place, const std::string& frame) = 0;
};
