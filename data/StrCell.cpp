#include "data/StrCell.h"

#include "platform/Text.h"

std::string CStrCell::ToString() const {
  return platform::FormatLimited(kToStringChars, "CStrCell:[%d,%d,%d]", static_cast<int>(m_oid),
                                 m_Code, m_PlaceId);
}

void CStrCell::Reset() {
  m_Code = 0;
  m_PlaceId = 0;
  m_oid = 0;
}
