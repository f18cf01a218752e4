#include "data/TableActions.h"

#include "app/TextFormat.h"
#include "app/Texts.h"
#include "data/DB.h"
#include "data/StrPeriod.h"
#include "data/TablePeriods.h"

using namespace platform;

namespace {

// A time operand. A time that is not a valid date is not stored (and so reads back as the
// default, the time of reading) rather than stored as a made-up instant.
void AddTime(std::vector<CEPROPVAL>* props, CEPROPID id, const SYSTEMTIME& st, bool update) {
  FILETIME ft;
  if (SystemTimeToFileTime(st, &ft)) {
    props->push_back(CEPROPVAL::Time(id, ft));
  } else if (update) {
    CEPROPVAL remove;
    remove.propid = id;
    remove.wFlags = CEDB_PROPDELETE;
    props->push_back(remove);
  }
}

std::vector<CEPROPVAL> ActionProps(const CStrAction& action, bool update) {
  std::vector<CEPROPVAL> props;
  if (!update)
    props.push_back(CEPROPVAL::Long(CTableActions::PROP_MGR_ID, action.GetMgrId()));
  props.push_back(CEPROPVAL::Long(CTableActions::PROP_ID_PERIOD, action.GetIdPeriod()));
  props.push_back(CEPROPVAL::Long(CTableActions::PROP_INT_OP1, action.GetIntOp1()));
  props.push_back(CEPROPVAL::Long(CTableActions::PROP_INT_OP2, action.GetIntOp2()));
  props.push_back(CEPROPVAL::Long(CTableActions::PROP_INT_OP3, action.GetIntOp3()));
  props.push_back(CEPROPVAL::Text(CTableActions::PROP_SZ_OP1, action.GetSzOp1()));
  props.push_back(CEPROPVAL::Text(CTableActions::PROP_SZ_OP2, action.GetSzOp2()));
  props.push_back(CEPROPVAL::Text(CTableActions::PROP_SZ_OP3, action.GetSzOp3()));
  AddTime(&props, CTableActions::PROP_ST_OP1, action.GetStOp1(), update);
  AddTime(&props, CTableActions::PROP_ST_OP2, action.GetStOp2(), update);
  AddTime(&props, CTableActions::PROP_ST_OP3, action.GetStOp3(), update);
  props.push_back(CEPROPVAL::Long(CTableActions::PROP_TYPE, action.GetType()));
  return props;
}

}  // namespace

void CTableActions::GetAllForPeriod(std::vector<CStrAction>* list, std::int32_t periodId) {
  *list = ChildRecords(periodId);
}

std::optional<CStrAction> CTableActions::FindOrCreate(std::int32_t periodId, std::int32_t mgrId,
                                                      bool create, std::int32_t type) {
  auto db = LockDb();
  std::vector<CStrAction> found = ChildRecords(
      periodId, [&](const CStrAction& a) { return a.GetMgrId() == mgrId && a.GetType() == type; });
  if (!found.empty())
    return found.front();
  if (!create)
    return std::nullopt;
  CStrAction action;
  action.SetIdPeriod(periodId);
  action.SetMgrId(mgrId);
  action.SetType(type);
  Insert(action);
  return action;
}

void CTableActions::DeleteForPeriod(const CStrPeriod& period) {
  auto db = LockDb();
  CDB::Transaction transaction(*m_Db);
  std::vector<CStrAction> actions;
  GetAllForPeriod(&actions, period.GetId());
  for (CStrAction& action : actions)
    Delete(action);
  transaction.Commit();
}

bool CTableActions::CheckIntegrity(int* count) {
  auto db = LockDb();
  std::vector<CStrAction> actions = Records([](const CStrAction&) { return true; });
  *count = static_cast<int>(actions.size());
  CTablePeriods* periods = m_Db->GetTablePeriods();
  return std::all_of(actions.begin(), actions.end(),
                     [periods](const CStrAction& a) { return periods->HasKey(a.GetIdPeriod()); });
}

std::vector<CEPROPSPEC> CTableActions::GetProperties() const {
  return {
      {PROP_MGR_ID, 0, "Id"},       {PROP_ID_PERIOD, 0, "IdPeriod"}, {PROP_INT_OP1, 0, "IntOp1"},
      {PROP_INT_OP2, 0, "IntOp2"},  {PROP_INT_OP3, 0, "IntOp3"},     {PROP_SZ_OP1, 0, "SzOp1"},
      {PROP_SZ_OP2, 0, "SzOp2"},    {PROP_SZ_OP3, 0, "SzOp3"},       {PROP_ST_OP1, 0, "StOp1"},
      {PROP_ST_OP2, 0, "StOp2"},    {PROP_ST_OP3, 0, "StOp3"},       {PROP_TYPE, 0, "type"},
      {PROP_ID, 0, "IdAutonumeric"}};
}

std::vector<CEPROPVAL> CTableActions::PropsForInsert(const CStrBase& record) const {
  return ActionProps(dynamic_cast<const CStrAction&>(record), false);
}

std::vector<CEPROPVAL> CTableActions::PropsForUpdate(const CStrBase& record) const {
  // Everything but the manager id and the key: an action's manager never changes.
  return ActionProps(dynamic_cast<const CStrAction&>(record), true);
}

void CTableActions::FillRecord(const std::vector<CEPROPVAL>& props, CStrBase& record) const {
  auto& action = dynamic_cast<CStrAction&>(record);
  for (const CEPROPVAL& p : props) {
    if (p.wFlags & CEDB_PROPNOTFOUND)
      continue;
    SYSTEMTIME st;
    switch (p.propid) {
      case PROP_MGR_ID:
        action.SetMgrId(p.lVal);
        break;
      case PROP_ID_PERIOD:
        action.SetIdPeriod(p.lVal);
        break;
      case PROP_INT_OP1:
        action.SetIntOp1(p.lVal);
        break;
      case PROP_INT_OP2:
        action.SetIntOp2(p.lVal);  // a stored -1 reads as 0
        break;
      case PROP_INT_OP3:
        action.SetIntOp3(p.lVal);
        break;
      case PROP_SZ_OP1:
        action.SetSzOp1(p.lpwstr);
        break;
      case PROP_SZ_OP2:
        action.SetSzOp2(p.lpwstr);
        break;
      case PROP_SZ_OP3:
        action.SetSzOp3(p.lpwstr);
        break;
      case PROP_ST_OP1:
        if (FileTimeToSystemTime(p.filetime, &st))
          action.SetStOp1(st);
        break;
      case PROP_ST_OP2:
        if (FileTimeToSystemTime(p.filetime, &st))
          action.SetStOp2(st);
        break;
      case PROP_ST_OP3:
        if (FileTimeToSystemTime(p.filetime, &st))
          action.SetStOp3(st);
        break;
      case PROP_TYPE:
        action.SetType(p.lVal);
        break;
      case PROP_ID:
        action.SetId(p.lVal);
        break;
      default:
        break;
    }
  }
}

void CTableActions::ThrowUpdateError(LONG) {
  Raise(FormatText(CTexts::GetInstance()->GetText("ERROR UPDATING REGISTRY"), {m_Name}));
}
