#include "data/TableLAC.h"

std::atomic<std::int32_t> CTableLAC::_iInvokeCounterFindAndFill{0};
std::atomic<std::int32_t> CTableLAC::_iInvokeCounterGetAllRecords{0};

bool CTableLAC::FindAndFill(CStrBase& record) {
  ++_iInvokeCounterFindAndFill;
  return CTableLocationOf::FindAndFill(record);
}

void CTableLAC::GetAllRecords(std::vector<CStrLAC>* list) {
  ++_iInvokeCounterGetAllRecords;
  CTableLocationOf::GetAllRecords(list);
}

void CTableLAC::ThrowUpdateError(platform::LONG) {
  Raise("Exception upgrading registry in lac table");
}
