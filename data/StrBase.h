// The base of the profile records: places, cells, location areas, time frames and actions.
//
// Records are plain values, copied freely; the tables fill them from the database and store
// them back. Each carries the object id at which it was read or written (0 = not stored yet)
// and a logical key (`GetId`) that the database assigns.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/Cedb.h"

class CDB;
namespace pugi {
class xml_node;
}  // namespace pugi

class CStrBase {
 public:
  // `ToString` never returns more than this many characters.
  static constexpr std::size_t kToStringChars = 50;

  // Diagnostics reported at program exit: every construction (copies included) adds one to
  // both, every destruction takes one from the current instances.
  static std::atomic<std::int32_t> _iCounterCurrentInstances;
  static std::atomic<std::int32_t> _iCounterInstantiations;

  CStrBase();
  CStrBase(const CStrBase& other);
  CStrBase& operator=(const CStrBase& other);
  virtual ~CStrBase();

  // A one-line description of at most kToStringChars characters.
  virtual std::string ToString() const = 0;
  // Back to the defaults of a freshly constructed record.
  virtual void Reset() = 0;
  virtual std::int32_t GetId() const = 0;
  virtual void SetId(std::int32_t id) = 0;
  // Appends the record to an XML export (data/XmlData.h), reading what belongs to it from
  // `db`. Only a place writes anything.
  virtual void WriteXml(pugi::xml_node& element, CDB& db) const {}

  platform::CEOID GetOid() const { return m_oid; }
  void SetOid(platform::CEOID oid) { m_oid = oid; }

 protected:
  platform::CEOID m_oid = 0;
};
