// The application object: makes sure one instance runs per user session, then runs the main
// window modally on the start-up thread. When the main window ends, so does the program.
#pragma once

#include <optional>

#include "framework/application.h"
#include "platform/instance_lock.h"

class CBaseApp : public Application {
 public:
  // Always FALSE: the program has no message loop of its own beyond the main window's.
  BOOL InitInstance() override;

 private:
  // Held for the life of the process; the kernel releases it at exit.
  std::optional<InstanceLock> m_instanceLock;
};
