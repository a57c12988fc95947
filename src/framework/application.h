// The process's application object. Run() prepares the locale, the X11 display and GTK, binds
// the UI thread and calls InitInstance(); a FALSE result ends the program without a message
// loop of its own (everything runs inside the windows' modal loops).
#pragma once

#include "base/text.h"
#include "base/win_types.h"

class Application {
 public:
  Application();
  virtual ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  [[nodiscard]] static Application* Instance();

  virtual BOOL InitInstance() { return FALSE; }
  int Run(int argc, char** argv);

  // The executable's file name without its extension: message-box caption and HTTP user agent.
  [[nodiscard]] static Text AppName();
};
