// Owning pointers for GLib types. Adopting a reference and taking a new one are different calls:
// GObjectPtr<T>::adopt() for transfer-full results, ::ref_sink() for a floating or borrowed one.
#pragma once

#include <glib-object.h>

#include <memory>
#include <utility>

template <typename T>
class GObjectPtr {
 public:
  GObjectPtr() = default;
  [[nodiscard]] static GObjectPtr adopt(T* object) { return GObjectPtr(object); }
  [[nodiscard]] static GObjectPtr ref_sink(T* object) {
    if (object) g_object_ref_sink(object);
    return GObjectPtr(object);
  }
  GObjectPtr(GObjectPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  GObjectPtr& operator=(GObjectPtr&& other) noexcept {
    if (this != &other) reset(std::exchange(other.object_, nullptr));
    return *this;
  }
  GObjectPtr(const GObjectPtr&) = delete;
  GObjectPtr& operator=(const GObjectPtr&) = delete;
  ~GObjectPtr() { reset(); }

  [[nodiscard]] T* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  void reset(T* object = nullptr) {
    if (object_) g_object_unref(object_);
    object_ = object;
  }

 private:
  explicit GObjectPtr(T* object) : object_(object) {}
  T* object_ = nullptr;
};

struct GErrorFree {
  void operator()(GError* e) const { g_error_free(e); }
};
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;

struct GFree {
  void operator()(void* p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<char, GFree>;
