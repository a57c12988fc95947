// A dialog window: runs modally in a nested loop until EndDialog, or modeless. Commands reach
// OnCommand; a close request from the window manager becomes the cancel command. UI thread only.
#pragma once

#include "framework/modal_loop.h"
#include "framework/window.h"

class Dialog : public TopLevelWindow {
 public:
  explicit Dialog(TopLevelWindow* parent) : parent_(parent) {}

  // Creates the window, initialises it, shows it once the loop is idle and runs until EndDialog.
  // The owner is insensitive meanwhile. Returns the code given to EndDialog, or -1 when the
  // window could not be created.
  intptr_t DoModal();
  // Creates and initialises the window without showing it. The owner is `owner` (may be null).
  bool CreateModeless(TopLevelWindow* owner);
  void EndDialog(intptr_t result);
  [[nodiscard]] bool IsModal() const { return modal_loop_ != nullptr; }

  virtual BOOL OnInitDialog() { return TRUE; }
  virtual BOOL OnCommand(WPARAM wparam, LPARAM lparam);

 protected:
  LRESULT DefWindowProc(UINT message, WPARAM wparam, LPARAM lparam) override;

 private:
  TopLevelWindow* parent_;
  ModalLoop* modal_loop_ = nullptr;
};
