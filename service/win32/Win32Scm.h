// The service control manager behind the service installer: connections opened with all access,
// services opened with the access each step needs. Used on the main thread of registration runs.
#pragma once

#include "service/ServiceInstaller.h"

namespace ovled::win32 {

class Win32Scm final : public service::IScm {
public:
    std::unique_ptr<service::IScmConnection> Connect() override;
};

} // namespace ovled::win32
