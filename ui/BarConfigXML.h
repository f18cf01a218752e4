// The configurations of the main window's two bars (battery level, signal strength), read from
// the skin's "bar" elements:
//
//   <bar id="battery" border="yes" autolocate="no" mode="image">
//     <position x="4" y="4" cx="12" cy="40"/>
//     <gradient id="begin"><rgb .../></gradient> <gradient id="end"><rgb .../></gradient>
//     <font .../> <image id="bar">bar.png</image>
//     <ButtonText id="percentage"><position .../><font .../></ButtonText>
//     <border_color width="1"><rgb .../></border_color>
//     <image id="AC">ac.png</image> <image id="battery">battery.png</image>   (battery only)
//     <image id="signal">signal.png</image>                                   (signal only)
//   </bar>
//
// Threading: read and used on the user-interface thread only.
#pragma once

#include <string>

#include "ui/Skin.h"

class CBarConfigXML {
 public:
  enum Mode { kModeGradient = 0, kModeImage = 1 };

  // `reader` turns elements into records; the process-wide skin when null.
  explicit CBarConfigXML(CSkin* reader = nullptr) : reader_(reader) {}
  virtual ~CBarConfigXML() = default;
  // An owner with a skin of its own reads its bars with it (its screen and fit).
  void SetReader(CSkin* reader) { reader_ = reader; }

  // Stores `id`; with an element, reads its flags and children (each only when present) and
  // then the subclass's own children. Without one the configuration keeps its values.
  virtual void GetConfigFromXML(pugi::xml_node element, const std::string& id);

  std::string id;
  bool border = true;
  int borderWidth = -1;
  SkinColor borderColor;
  SkinPosition position;
  int mode = kModeGradient;
  bool autolocate = false;
  SkinColor gradientBegin;
  SkinColor gradientEnd;
  SkinFont font;
  SkinImage barImage;
  SkinButtonText percentage;
  // The reader's fit when this was last read: the positions above are scaled by it already, the
  // icons and the percentage's type are scaled by it when drawn.
  double fit = 1.0;

 protected:
  // The subclass's own children of the element being read (m_node).
  virtual void GetConfigFromXMLChild() {}
  CSkin& Reader();

  pugi::xml_node m_node;  // the element being read; empty outside GetConfigFromXML

 private:
  CSkin* reader_;
};

class CBarBatteryConfigXML : public CBarConfigXML {
 public:
  using CBarConfigXML::CBarConfigXML;
  SkinImage acImage;       // shown while the phone runs on external power
  SkinImage batteryImage;  // shown otherwise

 protected:
  void GetConfigFromXMLChild() override;
};

class CBarSignalConfigXML : public CBarConfigXML {
 public:
  using CBarConfigXML::CBarConfigXML;
  SkinImage signalImage;

 protected:
  void GetConfigFromXMLChild() override;
};
