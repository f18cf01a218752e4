#include "data/StrPeriod.h"

#include "platform/Text.h"

CStrPeriod::CStrPeriod() {
  Reset();
}

std::string CStrPeriod::ToString() const {
  return platform::FormatLimited(kToStringChars, "CStrPeriod:[%d,%d,%s,%d,(%02d:%02d),(%02d:%02d)]",
                                 static_cast<int>(m_oid), m_Id, m_Name.c_str(), m_IdPlace,
                                 m_Start.wHour, m_Start.wMinute, m_End.wHour, m_End.wMinute);
}

void CStrPeriod::Reset() {
  m_Id = -1;
  m_IdPlace = -1;
  m_Name.clear();
  m_Start = platform::SYSTEMTIME{};
  m_End = platform::SYSTEMTIME{};
  m_oid = 0;
}

void CStrPeriod::SetStart(int hour, int minute) {
  m_Start.wHour = static_cast<platform::WORD>(hour);
  m_Start.wMinute = static_cast<platform::WORD>(minute);
}

void CStrPeriod::SetEnd(int hour, int minute) {
  m_End.wHour = static_cast<platform::WORD>(hour);
  m_End.wMinute = static_cast<platform::WORD>(minute);
}

bool CStrPeriod::IsValid() const {
  return !(GetEndTime() < GetStartTime() && m_End.wHour != 0);
}
