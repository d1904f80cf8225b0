// The COM objects of the simulated driver (internal). Each aggregates the
// free-threaded marshaller so that marshalling between threads hands out the
// object itself, and counts its references in the driver's audit.
#pragma once

#include <memory>

#include "simulator/Camcorder.h"
#include "simulator/ReferenceAudit.h"
#include "simulator/SimulatedDriver.h"

namespace zelto::sim::detail {

struct DriverContext {
  DriverConfig config;
  std::shared_ptr<Camcorder> camcorder;
  std::shared_ptr<ReferenceAudit> audit;
};

// A class object for CoRegisterClassObject: the enumerator's when classIndex
// is negative, otherwise the unit collection class of that configured class.
// Returns the object with one reference, or null.
IClassFactory* NewClassFactory(std::shared_ptr<const DriverContext> context, int classIndex);

}  // namespace zelto::sim::detail
