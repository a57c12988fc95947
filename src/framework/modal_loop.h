// A nested main loop on the UI thread's context. run() returns the code given to end(); end() is
// safe to call twice, before run() (run() then returns at once) or after the loop finished.
#pragma once

#include <glib.h>

#include <cstdint>

class ModalLoop {
 public:
  ModalLoop() : loop_(g_main_loop_new(nullptr, FALSE)) {}
  ~ModalLoop() { g_main_loop_unref(loop_); }
  ModalLoop(const ModalLoop&) = delete;
  ModalLoop& operator=(const ModalLoop&) = delete;

  intptr_t run() {
    if (!ended_) g_main_loop_run(loop_);
    return result_;
  }
  void end(intptr_t result) {
    if (ended_) return;
    ended_ = true;
    result_ = result;
    g_main_loop_quit(loop_);
  }
  [[nodiscard]] bool ended() const { return ended_; }

 private:
  GMainLoop* loop_;
  bool ended_ = false;
  intptr_t result_ = 0;
};
