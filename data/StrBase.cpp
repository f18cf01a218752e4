#include "data/StrBase.h"

std::atomic<std::int32_t> CStrBase::_iCounterCurrentInstances{0};
std::atomic<std::int32_t> CStrBase::_iCounterInstantiations{0};

CStrBase::CStrBase() {
  ++_iCounterCurrentInstances;
  ++_iCounterInstantiations;
}

CStrBase::CStrBase(const CStrBase& other) : m_oid(other.m_oid) {
  ++_iCounterCurrentInstances;
  ++_iCounterInstantiations;
}

CStrBase& CStrBase::operator=(const CStrBase& other) {
  m_oid = other.m_oid;
  return *this;
}

CStrBase::~CStrBase() {
  --_iCounterCurrentInstances;
}
