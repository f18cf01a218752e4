// The window base of the panels: owner-draw dispatch (child -> the object that draws it), the
// list of owner-drawn buttons in creation order with their flow layout, focus moves with the
// keys and a double-buffered paint. A window built on it provides what it paints under the
// buttons (OnPaint), what it does with a tapped button (OnCommand) and with F6 (OnEnterButton).
//
// Threading: user-interface thread only.
#pragma once

#include <QWidget>

#include <map>
#include <vector>

#include "ui/OwnerDraw.h"

class CButtonOwnDrawImage;

class CBaseWindow : public QWidget, public IOwnerDrawHost {
 public:
  explicit CBaseWindow(QWidget* parent = nullptr);

  // Buttons in creation order (the layout and focus order).
  void AddButton(CButtonOwnDrawImage* button) { buttons_.push_back(button); }
  const std::vector<CButtonOwnDrawImage*>& Buttons() const { return buttons_; }

  // Flow layout: autolocated buttons get the default size and fill rows upwards from a
  // baseline above the bottom; the others stand at their skin position.
  virtual void ReorderShell();
  // The size of an autolocated button on a scale-1 screen; the layout multiplies it by the scale.
  void SetDefaultButtonSize(int cx, int cy) { buttonCx_ = cx, buttonCy_ = cy; }
  // The height kept free under the buttons for the bottom text, in small-screen pixels.
  void SetBottomBand(int height) { bottomBand_ = height; }
  void SetScale(int scale) { scale_ = scale; }
  int GetScale() const { return scale_; }
  // Moves the focus to the next (or previous) button, wrapping at both ends.
  void MoveFocus(bool next);

  // IOwnerDrawHost.
  void RegisterOwnerDraw(QWidget* child, IOwnerDraw* item) override;
  void DispatchDrawItem(QWidget* child, const DrawItemInfo& info) override;
  void SetUpperText(const QString& text, const QRect& rect, const QFont& font, const QColor& color,
                    const QColor& background) override;
  void SetBottomText(const std::string& text) override;
  void OnChildKeyUp(int key) override;
  void OnChildCommand(int controlId) override { OnCommand(controlId); }
  void PublishPlaceText(const std::string&, const std::string&) override {}

  const std::string& GetBottomText() const { return bottomText_; }

 protected:
  virtual void OnPaint(QPainter& p) = 0;
  virtual void OnCommand(int /*controlId*/) {}
  virtual void OnEnterButton() {}

  void paintEvent(QPaintEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  // Tab moves the focus on key-up like the arrows, not on the press.
  bool focusNextPrevChild(bool) override { return true; }

 private:
  std::map<QWidget*, IOwnerDraw*> owned_;
  std::vector<CButtonOwnDrawImage*> buttons_;
  int buttonCx_ = 60;
  int buttonCy_ = 65;
  int bottomBand_ = 25;
  int scale_ = 1;
  QPoint cursor_;
  QString upperText_;
  QRect upperRect_;
  QFont upperFont_;
  QColor upperColor_;
  QColor upperBackground_;
  std::string bottomText_;
};
