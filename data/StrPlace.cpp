#include "data/StrPlace.h"

#include <utility>

#include "platform/Text.h"

CStrPlace::CStrPlace() {
  Reset();
}

CStrPlace::CStrPlace(std::string name, std::string desc, std::string image, std::int32_t id)
    : m_Name(std::move(name)), m_Desc(std::move(desc)), m_Image(std::move(image)), m_Id(id) {}

std::string CStrPlace::ToString() const {
  return platform::FormatLimited(kToStringChars, "CStrPlace:[%d,%d,%s,%s,%s]",
                                 static_cast<int>(m_oid), m_Id, m_Name.c_str(), m_Desc.c_str(),
                                 m_Image.c_str());
}

void CStrPlace::Reset() {
  m_Id = -1;
  m_oid = 0;
  m_Name.clear();
  m_Desc.clear();
  m_Image.clear();
}
