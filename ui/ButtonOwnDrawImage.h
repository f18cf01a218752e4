// The owner-drawn image button: the base of every button of the main window. It mirrors a
// manager's status (it is one of the manager's status listeners), picks its image and status
// text from that status, and draws itself from the skin: state styles (border and fill), the
// image stretched or centred with colour-key transparency, the focus overlay, the caption and,
// through its owner, the upper text "caption - status".
//
// Defaults come from the constructor (file names of the images, 60 x 65, margin 8); the skin's
// "button" element of the skin id overrides them whenever GetConfigFromXML runs.
//
// Threads: OnStatusChanged comes on the manager's thread and is queued to the user-interface
// thread; everything else runs on the user-interface thread.
#pragma once

#include <QAbstractButton>

#include <string>

#include "app/Mgr.h"
#include "ui/OwnerDraw.h"
#include "ui/Skin.h"

class QImage;

// The construction values of a button.
struct ButtonParams {
  std::string skinId;          // e.g. "bt"
  int controlId = 0;           // command sent when tapped
  const char* captionId = "";  // translation id of the caption
  // Default image files; the pressed and unpressed image of a pair get the same file.
  std::string off;
  std::string on;
  std::string disabled;
  std::string overlay;
  std::string extra;  // the third state's pair (band, Bluetooth, speaker)
  int x = 0, y = 0, cx = 60, cy = 65;
  int margin = 8;
  bool stretch = true;
  bool transparent = true;
};

class CButtonOwnDrawImage : public QAbstractButton, public IStatusListener, public IOwnerDraw {
  Q_OBJECT

 public:
  // The image chosen for a status: the skin record (geometry, colour key) and its bitmap; either
  // may be null.
  struct Choice {
    const SkinImage* image = nullptr;
    const QImage* bitmap = nullptr;
  };

  // State styles, in the skin's order.
  enum StateStyle { kFocusedPressed, kFocusedUnpressed, kNotFocusedPressed, kNotFocusedUnpressed };
  struct Style {
    int borderWidth = -1;
    SkinColor border;
    SkinColor fill;
  };

  // `owner` hosts the button (may be null in tests), `skin` gives its configuration (none: the
  // defaults stay).
  CButtonOwnDrawImage(QWidget* owner, IOwnerDrawHost* host, CSkin* skin,
                      const ButtonParams& params);
  ~CButtonOwnDrawImage() override;

  // Reads the skin, places the window, registers it with the owner and loads the images.
  // Throws CBaseException with the translation of "ERROR LOADING" when an image and its
  // fallback both fail.
  virtual void Create();
  // Reads the skin element of the skin id (only what it gives).
  void GetConfigFromXML();

  // Becomes a status listener of `mgr` (removed again on destruction).
  void Listen(CMgr* mgr);

  // IStatusListener: any thread; the change is applied on the user-interface thread.
  void OnStatusChanged(int status, int mgrId, int reason) override;
  std::string GetListenerName() override { return "CButtonOwnDrawImage"; }

  // Applies a status: -1 disables the window, leaving -1 enables it. UI thread.
  void StatusChanged(int status);
  int GetStatus() const { return status_; }

  // IOwnerDraw.
  void DrawItem(const DrawItemInfo& info) override;

  virtual bool IsTransparent() const { return transparent_; }
  virtual bool IsAutolocate() const { return autolocate_; }
  int GetId() const { return controlId_; }
  const std::string& GetSkinId() const { return skinId_; }
  const SkinPosition& GetPosition() const { return position_; }
  void SetPosition(const SkinPosition& p);

  virtual Choice GetImage(bool pressed);
  Choice GetImageForStatus(int status, bool pressed);
  virtual std::string GetTextStatus();
  // Caption, and " - " and the status text when there is one.
  QString GetUpperText();
  QString GetCaption() const { return caption_; }
  const std::string& GetBottomText() const { return bottomText_; }

 protected:
  virtual void LoadExtraImages() {}
  virtual void StatusChangedChild(int /*status*/) {}
  virtual void GetConfigFromXMLChild() {}
  // What is drawn over the frame: the image, the overlay while focused and the caption.
  virtual void DrawContent(QPainter& p, const QSize& size, bool pressed, bool focused);
  void DrawImage(QPainter& p, const QSize& size, bool pressed);
  void DrawOverlay(QPainter& p, const QSize& size);
  void DrawCaption(QPainter& p, const QSize& size);
  // Loads the image of `image` when it names a file (see Create).
  const QImage* LoadImage(const SkinImage& image);
  // Reads the image child of the element being read with `id`, when present.
  void ReadImageChild(SkinImage& out, const char* id);
  // The status text: the translation of `id`.
  static std::string StatusText(const char* id);
  static Choice Pick(const SkinImage& image, const QImage* bitmap) { return {&image, bitmap}; }
  // The images of the "on" and "off" pairs, pressed or not, and the disabled image.
  Choice On(bool pressed) const {
    return pressed ? Pick(onPressed_, bmpOnPressed_) : Pick(onUnpressed_, bmpOnUnpressed_);
  }
  Choice Off(bool pressed) const {
    return pressed ? Pick(offPressed_, bmpOffPressed_) : Pick(offUnpressed_, bmpOffUnpressed_);
  }
  Choice Disabled() const { return Pick(disabled_, bmpDisabled_); }

  void paintEvent(QPaintEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

  IOwnerDrawHost* host_;
  CSkin* skin_;
  pugi::xml_node m_node;  // the element being read; empty outside GetConfigFromXML
  int status_ = STATUS_UNKNOWN;
  int margin_;
  bool stretch_;
  bool transparent_;
  bool autolocate_ = true;
  bool border_ = true;
  bool text_ = true;
  std::string bottomText_;
  SkinPosition position_;
  Style styles_[4];
  SkinFont font_;
  SkinTextLabel topText_;

  SkinImage onPressed_, onUnpressed_, offPressed_, offUnpressed_, disabled_, overlay_;
  const QImage* bmpOnPressed_ = nullptr;
  const QImage* bmpOnUnpressed_ = nullptr;
  const QImage* bmpOffPressed_ = nullptr;
  const QImage* bmpOffUnpressed_ = nullptr;
  const QImage* bmpDisabled_ = nullptr;
  const QImage* bmpOverlay_ = nullptr;

 private:
  void UpdateAccessibleName();

  std::string skinId_;
  int controlId_;
  QString caption_;
  CMgr* listening_ = nullptr;
};

// A button with a third state drawn from an extra image pair (band auto, Bluetooth
// discoverable, speaker vibrate); `prefix` is the pair's skin id prefix ("auto" reads
// "auto_pressed" and "auto_unpressed").
class CButtonExtraPair : public CButtonOwnDrawImage {
 public:
  CButtonExtraPair(QWidget* owner, IOwnerDrawHost* host, CSkin* skin, const ButtonParams& params,
                   const char* prefix);

 protected:
  void LoadExtraImages() override;
  void GetConfigFromXMLChild() override;
  Choice Extra(bool pressed) {
    return pressed ? Pick(extraPressed_, bmpExtraPressed_)
                   : Pick(extraUnpressed_, bmpExtraUnpressed_);
  }

  SkinImage extraPressed_, extraUnpressed_;
  const QImage* bmpExtraPressed_ = nullptr;
  const QImage* bmpExtraUnpressed_ = nullptr;

 private:
  std::string prefix_;
};
