// One error type and a result that cannot be ignored. `Error::code` is an errno value or a
// platform code chosen by the layer that produced it; `context` names the failing call.
#pragma once

#include <cerrno>
#include <string>
#include <utility>
#include <variant>

struct Error {
  int code = 0;
  std::string context;

  static Error FromErrno(std::string context) { return Error{errno, std::move(context)}; }
};

template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}
  Result(Error error) : state_(std::move(error)) {}

  explicit operator bool() const { return state_.index() == 0; }
  T& value() & { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  const T& value() const& { return std::get<0>(state_); }
  T* operator->() { return &value(); }
  T& operator*() { return value(); }
  const Error& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, Error> state_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : error_(std::move(error)), failed_(true) {}

  explicit operator bool() const { return !failed_; }
  const Error& error() const { return error_; }

 private:
  Error error_;
  bool failed_ = false;
};
