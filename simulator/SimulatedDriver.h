// The simulated camcorder driver as an in-process COM component. Register
// makes its classes reachable through CoCreateInstance from the calling
// thread's apartment: the driver class enumerator (CLSID_DriverClassEnumerator)
// and one unit collection class per configured driver class. Every unit binds
// to the one simulated camcorder, whose control panel a test drives.
//
// Register and Unregister are thread-bound: call both on one thread that has
// initialised COM. Panel() and Audit() are thread-safe.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "simulator/Camcorder.h"
#include "simulator/ReferenceAudit.h"
#include "zelto/bridge/DriverInterfaces.h"

namespace zelto::sim {

// The identifier of the driver class a default configuration offers.
inline constexpr CLSID CLSID_SimulatedDriverClass = zelto::driver::DriverGuid(0x61);

struct UnitConfig {
  std::wstring modelText = L"HXQ-ZL5";
  std::wstring label;           // names the unit in Panel().BoundUnits(); the model text when empty
  bool propertiesFail = false;  // QueryInterface for IUnitProperties answers E_NOINTERFACE
  bool bindFails = false;       // BindToObject answers E_FAIL
};

struct DriverClassConfig {
  CLSID clsid = CLSID_SimulatedDriverClass;
  std::vector<GUID> streamTypes = {STREAMTYPE_VIDEOSYSTEM0, STREAMTYPE_VIDEOSYSTEM1};
  std::vector<UnitConfig> units = {UnitConfig{}};
  bool registered = true;  // false: listed by the enumerator, but no class object exists
  bool enumFails = false;  // EnumUnits answers E_FAIL
};

struct DriverConfig {
  bool registerEnumerator = true;
  // false: every object aggregates the free-threaded marshaller, so any
  // thread may call it. true: the objects live in the apartment of the
  // thread that made them; another apartment reaches them only through a
  // marshalled proxy whose calls run on that thread while it pumps messages.
  bool apartmentThreaded = false;
  std::vector<DriverClassConfig> classes = {DriverClassConfig{}};
  CamcorderConfig camcorder;
};

class SimulatedDriver {
 public:
  SimulatedDriver() = default;
  ~SimulatedDriver();  // unregisters
  SimulatedDriver(const SimulatedDriver&) = delete;
  SimulatedDriver& operator=(const SimulatedDriver&) = delete;

  // Builds a fresh camcorder and audit and registers the classes. Fails when
  // already registered, when a configuration is inconsistent (two classes
  // with one identifier), or with what CoRegisterClassObject answers. Throws
  // StateFileError when the camcorder's state file cannot be used.
  HRESULT Register(const DriverConfig& config = DriverConfig{});
  // Revokes the classes and lets go of the state file (every change is in it
  // already). Objects already handed out go on working; the camcorder lives
  // until the last of them is released.
  HRESULT Unregister();
  bool Registered() const { return registered_; }

  // The camcorder of the last registration (null before the first).
  Camcorder& Panel() const { return *camcorder_; }
  const ReferenceAudit& Audit() const { return *audit_; }

 private:
  std::shared_ptr<Camcorder> camcorder_;
  std::shared_ptr<ReferenceAudit> audit_;
  std::vector<DWORD> cookies_;
  bool registered_ = false;
};

}  // namespace zelto::sim
