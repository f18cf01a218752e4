// The actions of the time frames: database "actions", key "IdAutonumeric" numbered by the
// database. The manager id is stored as "Id" and never changes once the action is inserted.
#pragma once

#include <optional>

#include "data/StrAction.h"
#include "data/TableBase.h"

class CStrPeriod;

class CTableActions : public CTableCache<CStrAction> {
 public:
  static constexpr platform::CEPROPID PROP_MGR_ID = 0x10003;     // "Id"
  static constexpr platform::CEPROPID PROP_ID_PERIOD = 0x20003;  // "IdPeriod"
  static constexpr platform::CEPROPID PROP_INT_OP1 = 0x30003;    // "IntOp1"
  static constexpr platform::CEPROPID PROP_INT_OP2 = 0x40003;    // "IntOp2"
  static constexpr platform::CEPROPID PROP_INT_OP3 = 0x50003;    // "IntOp3"
  static constexpr platform::CEPROPID PROP_SZ_OP1 = 0x6001F;     // "SzOp1"
  static constexpr platform::CEPROPID PROP_SZ_OP2 = 0x7001F;     // "SzOp2"
  static constexpr platform::CEPROPID PROP_SZ_OP3 = 0x8001F;     // "SzOp3"
  static constexpr platform::CEPROPID PROP_ST_OP1 = 0x90040;     // "StOp1"
  static constexpr platform::CEPROPID PROP_ST_OP2 = 0xA0040;     // "StOp2"
  static constexpr platform::CEPROPID PROP_ST_OP3 = 0xB0040;     // "StOp3"
  static constexpr platform::CEPROPID PROP_TYPE = 0xC0003;       // "type"
  static constexpr platform::CEPROPID PROP_ID = 0x10066;         // "IdAutonumeric"

  explicit CTableActions(CDB* db) : CTableCache(db, "actions") {}

  platform::CEPROPID GetKeyPropId() const override { return PROP_ID; }
  std::unique_ptr<CStrBase> NewRecord() const override { return std::make_unique<CStrAction>(); }
  // Every action's period must exist.
  bool CheckIntegrity(int* count) override;

  // The period's actions, by Id.
  void GetAllForPeriod(std::vector<CStrAction>* list, std::int32_t periodId);
  // The action of the period with that manager id and direction. When there is none and
  // `create` is set, such an action (other fields at their defaults) is inserted and returned.
  std::optional<CStrAction> FindOrCreate(std::int32_t periodId, std::int32_t mgrId, bool create,
                                         std::int32_t type);
  // Deletes every action of the period. All or nothing.
  void DeleteForPeriod(const CStrPeriod& period);

 protected:
  platform::DWORD GetDbType() const override { return kDbType; }
  std::vector<platform::CEPROPSPEC> GetProperties() const override;
  std::vector<platform::CEPROPVAL> PropsForInsert(const CStrBase& record) const override;
  std::vector<platform::CEPROPVAL> PropsForUpdate(const CStrBase& record) const override;
  void FillRecord(const std::vector<platform::CEPROPVAL>& props, CStrBase& record) const override;
  void ThrowUpdateError(platform::LONG code) override;
  std::int32_t ParentOf(const CStrAction& action) const override { return action.GetIdPeriod(); }
};
