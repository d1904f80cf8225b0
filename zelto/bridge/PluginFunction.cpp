#include "zelto/bridge/PluginFunction.h"

#include <stdexcept>

#include "zelto/bridge/ZeltoBadAllocation.h"

PluginFunction::PluginFunction(DWORD capacity)
    : count(0), capacity(capacity), array(static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID) * capacity))) {
  if (!array) throw ZeltoBadAllocation();
}

PluginFunction::~PluginFunction() { CoTaskMemFree(array); }

void PluginFunction::SetFunction(REFGUID guid) {
  if (count >= capacity) throw std::out_of_range("PluginFunction::SetFunction");
  array[count++] = guid;
}
