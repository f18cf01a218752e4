// One action that a time frame runs when it is entered (Type 0) or left (Type 1). MgrId names
// the manager that carries it out, or a built-in action; the operands mean what that kind of
// action makes of them.
//
// IntOp2 is the action's enable-and-weekday mask, read as the eight decimal digits of the
// value ("%08d"), each 0 for yes and 1 for no. From the left: Sunday, Saturday, Friday,
// Thursday, Wednesday, Tuesday, Monday, and in the units place Enabled. So 0 is enabled on
// every day and 11111111 is disabled and on no day.
#pragma once

#include <array>
#include <string>

#include "data/StrBase.h"
#include "platform/Time.h"

class CStrAction : public CStrBase {
 public:
  // Directions.
  static constexpr std::int32_t TYPE_ENTER = 0;
  static constexpr std::int32_t TYPE_LEAVE = 1;

  // Digit positions of the weekday mask, from the left.
  static constexpr int kPositionSunday = 1;
  static constexpr int kPositionMonday = 7;
  static constexpr int kPositionEnabled = 8;

  CStrAction();
  CStrAction(const CStrAction& other);
  CStrAction& operator=(const CStrAction& other);
  ~CStrAction() override = default;

  // "CStrAction:[oid,Id,MgrId,IdPeriod,Type,SzOp1,SzOp2,SzOp3,IntOp1,IntOp2,IntOp3]".
  std::string ToString() const override;
  // Id -1, MgrId -1, IdPeriod -1, Type 0 (entering), empty texts, IntOp1 -1, IntOp2 0, IntOp3 -1,
  // the three times at the phone's current local time, oid 0.
  void Reset() override;
  std::int32_t GetId() const override { return m_Id; }
  void SetId(std::int32_t id) override { m_Id = id; }

  virtual std::int32_t GetMgrId() const { return m_MgrId; }
  virtual void SetMgrId(std::int32_t mgrId) { m_MgrId = mgrId; }

  std::int32_t GetIdPeriod() const { return m_IdPeriod; }
  void SetIdPeriod(std::int32_t idPeriod) { m_IdPeriod = idPeriod; }
  std::int32_t GetType() const { return m_Type; }
  void SetType(std::int32_t type) { m_Type = type; }
  const std::string& GetSzOp1() const { return m_SzOp1; }
  const std::string& GetSzOp2() const { return m_SzOp2; }
  const std::string& GetSzOp3() const { return m_SzOp3; }
  void SetSzOp1(const std::string& value) { m_SzOp1 = value; }
  void SetSzOp2(const std::string& value) { m_SzOp2 = value; }
  void SetSzOp3(const std::string& value) { m_SzOp3 = value; }
  std::int32_t GetIntOp1() const { return m_IntOp1; }
  std::int32_t GetIntOp2() const { return m_IntOp2; }
  std::int32_t GetIntOp3() const { return m_IntOp3; }
  void SetIntOp1(std::int32_t value) { m_IntOp1 = value; }
  // The weekday mask; -1 is stored as 0 (enabled on every day).
  void SetIntOp2(std::int32_t value) { m_IntOp2 = NormalMask(value); }
  void SetIntOp3(std::int32_t value) { m_IntOp3 = value; }
  const platform::SYSTEMTIME& GetStOp1() const { return m_StOp1; }
  const platform::SYSTEMTIME& GetStOp2() const { return m_StOp2; }
  const platform::SYSTEMTIME& GetStOp3() const { return m_StOp3; }
  void SetStOp1(const platform::SYSTEMTIME& value) { m_StOp1 = value; }
  void SetStOp2(const platform::SYSTEMTIME& value) { m_StOp2 = value; }
  void SetStOp3(const platform::SYSTEMTIME& value) { m_StOp3 = value; }

  // True when the units digit of the mask is 0.
  bool IsEnabled() const;
  // True when the mask's digit for the phone's current day of week is 0.
  bool IsActiveToday() const;
  // The same for a given day of week (0 = Sunday ... 6 = Saturday).
  bool IsActiveOnDay(int dayOfWeek) const;
  // The digit position of a day of week (0 = Sunday -> 1, Monday -> 7, ..., Saturday -> 2).
  static int DayPosition(int dayOfWeek);
  // The mask for the given answers, as the week-days dialog writes it.
  static std::int32_t MakeWeekMask(bool enabled, const std::array<bool, 7>& activeByDayOfWeek);

 private:
  static std::int32_t NormalMask(std::int32_t value) { return value == -1 ? 0 : value; }
  // The mask digit at a position counted from the left of the eight-digit text.
  char MaskDigit(int position) const;

  std::int32_t m_Id = -1;
  std::int32_t m_MgrId = -1;
  std::int32_t m_IdPeriod = -1;
  std::int32_t m_Type = TYPE_ENTER;
  std::string m_SzOp1;
  std::string m_SzOp2;
  std::string m_SzOp3;
  std::int32_t m_IntOp1 = -1;
  std::int32_t m_IntOp2 = 0;
  std::int32_t m_IntOp3 = -1;
  platform::SYSTEMTIME m_StOp1;
  platform::SYSTEMTIME m_StOp2;
  platform::SYSTEMTIME m_StOp3;
};
