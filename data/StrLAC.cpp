#include "data/StrLAC.h"

#include "platform/Text.h"

std::string CStrLAC::ToString() const {
  return platform::FormatLimited(kToStringChars, "CStrLAC:[%d,%d,%d]", static_cast<int>(m_oid),
                                 m_Code, m_PlaceId);
}

void CStrLAC::Reset() {
  m_Code = 0;
  m_PlaceId = 0;
  m_oid = 0;
}
