// A time frame of a place: a named span of the day whose actions run when it is entered and
// left. Only the hour and minute of Start and End are meaningful; an End at hour 0 stands for
// midnight at the end of the day.
#pragma once

#include <string>

#include "data/StrBase.h"
#include "platform/Time.h"

class CStrPeriod : public CStrBase {
 public:
  CStrPeriod();
  CStrPeriod(const CStrPeriod& other) = default;
  CStrPeriod& operator=(const CStrPeriod& other) = default;
  ~CStrPeriod() override = default;

  // "CStrPeriod:[oid,Id,Name,IdPlace,(HH:MM),(HH:MM)]".
  std::string ToString() const override;
  // Id -1, IdPlace -1, empty name, both times all zero, oid 0.
  void Reset() override;
  std::int32_t GetId() const override { return m_Id; }
  void SetId(std::int32_t id) override { m_Id = id; }

  std::int32_t GetIdPlace() const { return m_IdPlace; }
  void SetIdPlace(std::int32_t idPlace) { m_IdPlace = idPlace; }
  const std::string& GetName() const { return m_Name; }
  void SetName(const std::string& name) { m_Name = name; }
  const platform::SYSTEMTIME& GetStart() const { return m_Start; }
  void SetStart(const platform::SYSTEMTIME& start) { m_Start = start; }
  const platform::SYSTEMTIME& GetEnd() const { return m_End; }
  void SetEnd(const platform::SYSTEMTIME& end) { m_End = end; }
  // Sets only the hour and minute of the start or end.
  void SetStart(int hour, int minute);
  void SetEnd(int hour, int minute);
  platform::TimeOfDay GetStartTime() const { return platform::TimeOfDay(m_Start); }
  platform::TimeOfDay GetEndTime() const { return platform::TimeOfDay(m_End); }

  // False when the end comes before the start, unless the end is at hour 0 (midnight at the end
  // of the day): 22:00-00:00 and 08:00-08:00 are valid, 10:00-09:00 is not.
  bool IsValid() const;

  // Sorted containers order a place's time frames by start time.
  friend bool operator<(const CStrPeriod& a, const CStrPeriod& b) {
    return a.GetStartTime() < b.GetStartTime();
  }

 private:
  std::int32_t m_Id = -1;
  std::int32_t m_IdPlace = -1;
  std::string m_Name;
  platform::SYSTEMTIME m_Start;
  platform::SYSTEMTIME m_End;
};
