// A fixed-capacity list of stream-type GUIDs in COM task memory, as
// IDriverClassEnumerator::GetDriverClasses takes it.
#pragma once

#include "platform/com.h"

class PluginFunction {
public:
  // Throws std::bad_alloc when the task memory cannot be had.
  explicit PluginFunction(DWORD capacity);
  virtual ~PluginFunction();
  PluginFunction(const PluginFunction&) = delete;
  PluginFunction& operator=(const PluginFunction&) = delete;

  // Appends one GUID; a full list throws std::out_of_range and stays as it was.
  void SetFunction(REFGUID guid);

  DWORD GetCount() const { return count; }
  DWORD GetCapacity() const { return capacity; }
  const GUID* GetArray() const { return array; }

private:
  DWORD count;
  DWORD capacity;
  GUID* array;
};
