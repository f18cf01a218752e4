// A place the user names: recognised by its cells or location areas, with time frames.
#pragma once

#include <string>

#include "data/StrBase.h"

class CStrPlace : public CStrBase {
 public:
  CStrPlace();
  CStrPlace(std::string name, std::string desc, std::string image, std::int32_t id);
  CStrPlace(const CStrPlace& other) = default;
  CStrPlace& operator=(const CStrPlace& other) = default;
  ~CStrPlace() override = default;

  // "CStrPlace:[oid,Id,Name,Desc,Image]".
  std::string ToString() const override;
  // Id -1, oid 0, empty texts.
  void Reset() override;
  std::int32_t GetId() const override { return m_Id; }
  void SetId(std::int32_t id) override { m_Id = id; }
  // Writes the place's attributes into `element`, then one child per cell, location area and
  // time frame of the place, each frame with its actions (data/XmlData.cpp).
  void WriteXml(pugi::xml_node& element, CDB& db) const override;

  const std::string& GetName() const { return m_Name; }
  void SetName(const std::string& name) { m_Name = name; }
  const std::string& GetDesc() const { return m_Desc; }
  void SetDesc(const std::string& desc) { m_Desc = desc; }
  // File name of the place's picture.
  const std::string& GetImage() const { return m_Image; }
  void SetImage(const std::string& image) { m_Image = image; }

  // Sorted containers order places by name, case-sensitively, by character code.
  friend bool operator<(const CStrPlace& a, const CStrPlace& b) { return a.m_Name < b.m_Name; }

 private:
  std::string m_Name;
  std::string m_Desc;
  std::string m_Image;
  std::int32_t m_Id = -1;
};
