#include "ui/BarConfigXML.h"

#include <string_view>

CSkin& CBarConfigXML::Reader() {
  return reader_ ? *reader_ : *CSkin::GetInstance();
}

void CBarConfigXML::GetConfigFromXML(pugi::xml_node element, const std::string& barId) {
  id = barId;
  CSkin& skin = Reader();
  fit = skin.GetFit();
  if (!element)
    return;
  m_node = element;
  border = CSkin::ReadFlag(element, "border", border);
  autolocate = CSkin::ReadFlag(element, "autolocate", autolocate);
  if (pugi::xml_attribute attr = element.attribute("mode"))
    mode = std::string_view(attr.value()) == "gradient" ? kModeGradient : kModeImage;
  skin.ReadPosition(position, element.child("position"));
  skin.ReadRGB(gradientBegin, skin.SelectNode(element, "gradient[@id='begin']/rgb"));
  skin.ReadRGB(gradientEnd, skin.SelectNode(element, "gradient[@id='end']/rgb"));
  skin.ReadFont(font, element.child("font"));
  skin.ReadImage(barImage, skin.SelectNode(element, "image[@id='bar']"));
  skin.ReadButtonText(percentage, skin.SelectNode(element, "ButtonText[@id='percentage']"));
  pugi::xml_node borderNode = element.child("border_color");
  borderWidth = CSkin::ReadNumber(borderNode, "width", borderWidth);
  skin.ReadRGB(borderColor, borderNode.child("rgb"));
  GetConfigFromXMLChild();
  m_node = {};
}

void CBarBatteryConfigXML::GetConfigFromXMLChild() {
  CSkin& skin = Reader();
  skin.ReadImage(acImage, skin.SelectNode(m_node, "image[@id='AC']"));
  skin.ReadImage(batteryImage, skin.SelectNode(m_node, "image[@id='battery']"));
}

void CBarSignalConfigXML::GetConfigFromXMLChild() {
  CSkin& skin = Reader();
  skin.ReadImage(signalImage, skin.SelectNode(m_node, "image[@id='signal']"));
}
