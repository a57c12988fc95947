// Dispatch tables: each page window class exposes an ordered, static table of script methods
// chained to its base class's table. A method's identifier follows from its position:
// depth × 65536 + index + 1, depth counting tables from the object's own class towards the base.
// Names are looked up case-insensitively; Invoke converts the arguments to the declared types,
// checks their count, calls the handler and types its result. UI thread only.
#pragma once

#include <array>
#include <exception>
#include <span>
#include <string>
#include <utility>

#include "framework/script_value.h"

class HtmlDialog;
using DISPID = int32_t;

// Thrown by a handler to end the call with an automation status (E_NOTIMPL, E_ACCESSDENIED...).
struct ScriptError : std::exception {
  ScriptError(HRESULT code, Text message) : code(code), message(std::move(message)) {}
  const char* what() const noexcept override { return "script error"; }
  HRESULT code;
  Text message;
};

struct DispatchEntry {
  const char16_t* name;
  ScriptType result;
  std::span<const ScriptType> params;
  // Null: the method is not available in this build and answers E_NOTIMPL.
  ScriptResult (*invoke)(HtmlDialog& self, std::span<const ScriptArg> args);
};

struct DispatchTable {
  const DispatchTable* base;
  std::span<const DispatchEntry> entries;
  // Whether pages not loaded from the local disk may call this table's methods.
  bool remote_callable;
};

struct InvokeResult {
  HRESULT status = S_OK;
  ScriptResult value;
  Text description;      // for DISP_E_EXCEPTION and other failures
  unsigned arg_err = 0;  // 1-based position of the argument that failed to convert
};

// The identifier for `name`, or DISP_E_UNKNOWNNAME.
[[nodiscard]] HRESULT GetIDsOfNames(const DispatchTable* table, TextView name, DISPID& id);

// The entry an identifier names, or nullptr.
[[nodiscard]] const DispatchEntry* FindEntry(const DispatchTable* table, DISPID id,
                                             const DispatchTable** owner = nullptr);

// Calls the method `id` on `self` with `args` in declaration order. `remote_caller`: the calling
// document was not loaded from the local disk; only remote-callable tables answer it.
[[nodiscard]] InvokeResult Invoke(const DispatchTable* table, HtmlDialog& self, DISPID id,
                                  std::span<const ScriptValue> args, bool remote_caller);

// While a handler runs: whether the document that called it was not loaded from the local disk.
// A remote-callable method that could open the way to the host services asks this. False
// outside a call.
[[nodiscard]] bool ScriptCallerIsRemote();

// Table entries from member functions: parameter and result types follow from the signature
// (const Text& / Text -> string, int32_t -> int, bool -> bool, void -> none).
template <typename T>
struct ScriptTypeOf;
template <>
struct ScriptTypeOf<const Text&> {
  static constexpr ScriptType value = ScriptType::kString;
};
template <>
struct ScriptTypeOf<Text> {
  static constexpr ScriptType value = ScriptType::kString;
};
template <>
struct ScriptTypeOf<int32_t> {
  static constexpr ScriptType value = ScriptType::kInt;
};
template <>
struct ScriptTypeOf<bool> {
  static constexpr ScriptType value = ScriptType::kBool;
};
template <>
struct ScriptTypeOf<void> {
  static constexpr ScriptType value = ScriptType::kNone;
};

template <auto Method>
struct MethodEntry;

template <typename C, typename R, typename... A, R (C::*Method)(A...)>
struct MethodEntry<Method> {
  static constexpr std::array<ScriptType, sizeof...(A)> kParams{ScriptTypeOf<A>::value...};
  static constexpr ScriptType kResult = ScriptTypeOf<R>::value;

  static ScriptResult Invoke(HtmlDialog& self, std::span<const ScriptArg> args) {
    return Call(static_cast<C&>(self), args, std::index_sequence_for<A...>{});
  }

 private:
  template <size_t... I>
  static ScriptResult Call(C& object, std::span<const ScriptArg> args, std::index_sequence<I...>) {
    if constexpr (std::is_void_v<R>) {
      (object.*Method)(std::get<std::remove_cvref_t<A>>(args[I])...);
      return std::monostate{};
    } else {
      return ScriptResult((object.*Method)(std::get<std::remove_cvref_t<A>>(args[I])...));
    }
  }
};

// The same for free functions: the method's behaviour lives in its subsystem, not the window.
template <auto Function>
struct FunctionEntry;

template <typename R, typename... A, R (*Function)(A...)>
struct FunctionEntry<Function> {
  static constexpr std::array<ScriptType, sizeof...(A)> kParams{ScriptTypeOf<A>::value...};
  static constexpr ScriptType kResult = ScriptTypeOf<R>::value;

  static ScriptResult Invoke(HtmlDialog&, std::span<const ScriptArg> args) {
    return Call(args, std::index_sequence_for<A...>{});
  }

 private:
  template <size_t... I>
  static ScriptResult Call(std::span<const ScriptArg> args, std::index_sequence<I...>) {
    if constexpr (std::is_void_v<R>) {
      Function(std::get<std::remove_cvref_t<A>>(args[I])...);
      return std::monostate{};
    } else {
      return ScriptResult(Function(std::get<std::remove_cvref_t<A>>(args[I])...));
    }
  }
};

#define DISP_FUNCTION(name)                                                  \
  DispatchEntry {                                                            \
    u"" #name, FunctionEntry<&name>::kResult, FunctionEntry<&name>::kParams, \
        &FunctionEntry<&name>::Invoke                                        \
  }

// A member whose C++ name differs from the script name (where the script name is taken).
#define DISP_METHOD_AS(script_name, cls, member)                                              \
  DispatchEntry {                                                                             \
    u"" #script_name, MethodEntry<&cls::member>::kResult, MethodEntry<&cls::member>::kParams, \
        &MethodEntry<&cls::member>::Invoke                                                    \
  }

#define DISP_METHOD(cls, name)                                                     \
  DispatchEntry {                                                                  \
    u"" #name, MethodEntry<&cls::name>::kResult, MethodEntry<&cls::name>::kParams, \
        &MethodEntry<&cls::name>::Invoke                                           \
  }

// A method this build does not offer yet: listed for its position, answers E_NOTIMPL.
#define DISP_NOT_IMPLEMENTED(name, result)                    \
  DispatchEntry {                                             \
    u"" #name, result, std::span<const ScriptType>(), nullptr \
  }

#define DECLARE_DISPATCH_MAP()                             \
 public:                                                   \
  static const DispatchTable kDispatchTable;               \
  const DispatchTable* GetDispatchTable() const override { \
    return &kDispatchTable;                                \
  }
