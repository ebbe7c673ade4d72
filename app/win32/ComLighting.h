// The app's connection to the service over COM: the Lighting object and the LightControl object, both
// created in the service (never in process), and the service control manager's view of the service.
// Built by the app's entry, then owned and called by the worker thread (a multithreaded apartment).
#pragma once

#include "app/LightingService.h"

#include <memory>

namespace ovled::app::win32 {

std::unique_ptr<ILightingConnector> MakeComConnector();

} // namespace ovled::app::win32
