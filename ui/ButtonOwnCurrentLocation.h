// The current-location panel: shows where the phone is rather than a switch. It draws its
// background image, the place icon, four text lines (location area, cell, location mode, lock)
// and the focus overlay; its bottom text is the current place with the current time frame
// ("Name(HH:MM-HH:MM)"), which it also hands to the owner for the home-screen item.
//
// Threads: as every button (status from the cell-location manager, queued to the UI thread).
#pragma once

#include "ui/ButtonOwnDrawImage.h"

class CButtonOwnCurrentLocation : public CButtonOwnDrawImage {
 public:
  CButtonOwnCurrentLocation(QWidget* owner, IOwnerDrawHost* host, CSkin* skin);
  static ButtonParams Defaults();

  // Loads the place icon ("unknown.png" unless the skin names another) besides the images of
  // every button.
  void Create() override;
  // Centres the panel in an owner `ownerWidth` wide (used while it is autolocated).
  void Autolocate(int ownerWidth);

  // The place icon and its skin geometry.
  Choice GetImage(bool pressed) override;

  // The four text lines, as drawn.
  QString LacLine() const;
  QString CellLine() const;
  QString ModeLine() const;
  QString LockLine() const;

  // Reads the current place and frame again; hands them to the owner when they changed.
  void RefreshPlace();
  const std::string& GetPlaceText() const { return placeText_; }
  const std::string& GetFrameText() const { return frameText_; }
  // "Name(HH:MM-HH:MM)" of a frame, at most 48 characters.
  static std::string FormatFrame(const std::string& name, int startHour, int startMinute,
                                 int endHour, int endMinute);

 protected:
  void GetConfigFromXMLChild() override;
  void StatusChangedChild(int status) override;
  void DrawContent(QPainter& p, const QSize& size, bool pressed, bool focused) override;

 private:
  void DrawLine(QPainter& p, const SkinButtonText& where, const QString& text);

  SkinImage placeImage_;
  SkinImage backgroundImage_;
  const QImage* bmpPlace_ = nullptr;
  const QImage* bmpBackground_ = nullptr;
  SkinButtonText lacText_, cellText_, modeText_, lockText_;
  std::string placeText_;
  std::string frameText_;
};
