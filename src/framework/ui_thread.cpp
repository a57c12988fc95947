#include "framework/ui_thread.h"

#include <glib.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

std::thread::id g_ui_thread;

gboolean RunTask(gpointer data) {
  (*static_cast<std::function<void()>*>(data))();
  return G_SOURCE_REMOVE;
}

void DeleteTask(gpointer data) {
  delete static_cast<std::function<void()>*>(data);
}

}  // namespace

void BindUiThread() {
  g_ui_thread = std::this_thread::get_id();
}

bool IsUiThread() {
  return std::this_thread::get_id() == g_ui_thread;
}

void PostToUi(std::function<void()> task) {
  g_idle_add_full(G_PRIORITY_DEFAULT, RunTask, new std::function<void()>(std::move(task)),
                  DeleteTask);
}

void RunOnUiAndWait(const std::function<void()>& task) {
  if (IsUiThread()) {
    task();
    return;
  }
  std::mutex mutex;
  std::condition_variable done_cv;
  bool done = false;
  PostToUi([&] {
    task();
    std::lock_guard lock(mutex);
    done = true;
    done_cv.notify_one();
  });
  std::unique_lock lock(mutex);
  done_cv.wait(lock, [&] { return done; });
}
