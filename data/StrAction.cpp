#include "data/StrAction.h"

#include <cstdlib>

#include "platform/Text.h"

CStrAction::CStrAction() {
  Reset();
}

CStrAction::CStrAction(const CStrAction& other)
    : CStrBase(other),
      m_Id(other.m_Id),
      m_MgrId(other.m_MgrId),
      m_IdPeriod(other.m_IdPeriod),
      m_Type(other.m_Type),
      m_SzOp1(other.m_SzOp1),
      m_SzOp2(other.m_SzOp2),
      m_SzOp3(other.m_SzOp3),
      m_IntOp1(other.m_IntOp1),
      m_IntOp2(NormalMask(other.m_IntOp2)),
      m_IntOp3(other.m_IntOp3),
      m_StOp1(other.m_StOp1),
      m_StOp2(other.m_StOp2),
      m_StOp3(other.m_StOp3) {}

CStrAction& CStrAction::operator=(const CStrAction& other) {
  CStrBase::operator=(other);
  m_Id = other.m_Id;
  m_MgrId = other.m_MgrId;
  m_IdPeriod = other.m_IdPeriod;
  m_Type = other.m_Type;
  m_SzOp1 = other.m_SzOp1;
  m_SzOp2 = other.m_SzOp2;
  m_SzOp3 = other.m_SzOp3;
  m_IntOp1 = other.m_IntOp1;
  m_IntOp2 = NormalMask(other.m_IntOp2);
  m_IntOp3 = other.m_IntOp3;
  m_StOp1 = other.m_StOp1;
  m_StOp2 = other.m_StOp2;
  m_StOp3 = other.m_StOp3;
  return *this;
}

std::string CStrAction::ToString() const {
  return platform::FormatLimited(kToStringChars, "CStrAction:[%d,%d,%d,%d,%d,%s,%s,%s,%d,%d,%d]",
                                 static_cast<int>(m_oid), m_Id, m_MgrId, m_IdPeriod, m_Type,
                                 m_SzOp1.c_str(), m_SzOp2.c_str(), m_SzOp3.c_str(), m_IntOp1,
                                 m_IntOp2, m_IntOp3);
}

void CStrAction::Reset() {
  m_Id = -1;
  m_MgrId = -1;
  m_IdPeriod = -1;
  m_Type = TYPE_ENTER;
  m_SzOp1.clear();
  m_SzOp2.clear();
  m_SzOp3.clear();
  m_IntOp1 = -1;
  m_IntOp2 = 0;
  m_IntOp3 = -1;
  platform::Clock::GetLocalTime(&m_StOp1);
  m_StOp2 = m_StOp1;
  m_StOp3 = m_StOp1;
  m_oid = 0;
}

char CStrAction::MaskDigit(int position) const {
  std::string text = platform::Format("%08d", m_IntOp2);
  // Count from the units end, so that a value of more than eight digits keeps its day digits
  // where the units are.
  long index = static_cast<long>(text.size()) - (kPositionEnabled - position) - 1;
  return index >= 0 ? text[static_cast<std::size_t>(index)] : '0';
}

bool CStrAction::IsEnabled() const {
  return MaskDigit(kPositionEnabled) == '0';
}

int CStrAction::DayPosition(int dayOfWeek) {
  return dayOfWeek == 0 ? kPositionSunday : kPositionEnabled - dayOfWeek;
}

bool CStrAction::IsActiveOnDay(int dayOfWeek) const {
  if (dayOfWeek < 0 || dayOfWeek > 6)
    return false;
  return MaskDigit(DayPosition(dayOfWeek)) == '0';
}

bool CStrAction::IsActiveToday() const {
  platform::SYSTEMTIME now;
  platform::Clock::GetLocalTime(&now);
  return IsActiveOnDay(now.wDayOfWeek);
}

std::int32_t CStrAction::MakeWeekMask(bool enabled, const std::array<bool, 7>& activeByDayOfWeek) {
  int digits[kPositionEnabled + 1] = {};
  for (int day = 0; day < 7; ++day)
    digits[DayPosition(day)] = activeByDayOfWeek[day] ? 0 : 1;
  digits[kPositionEnabled] = enabled ? 0 : 1;
  std::string text = platform::Format("%1d%1d%1d%1d%1d%1d%1d%1d", digits[1], digits[2], digits[3],
                                      digits[4], digits[5], digits[6], digits[7], digits[8]);
  return static_cast<std::int32_t>(std::strtol(text.c_str(), nullptr, 10));
}
