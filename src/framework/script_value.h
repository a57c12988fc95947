// Values that cross the script bridge. A call's arguments arrive in the forms page script has
// (empty, null, boolean, integer, floating, string, object); a method's parameters and result
// are one of four automation types. Pure data; safe on any thread.
#pragma once

#include <cstdint>
#include <variant>

#include "base/text.h"
#include "base/win_types.h"

enum class ScriptType { kNone, kString, kInt, kBool };

struct ScriptValue {
  enum class Kind { kEmpty, kNull, kBool, kInt, kDouble, kString, kObject };
  Kind kind = Kind::kEmpty;
  bool boolean = false;
  int32_t integer = 0;
  double number = 0;
  Text string;

  static ScriptValue Empty() { return {}; }
  static ScriptValue Null() { return Of(Kind::kNull); }
  static ScriptValue Bool(bool b) {
    ScriptValue v = Of(Kind::kBool);
    v.boolean = b;
    return v;
  }
  static ScriptValue Int(int32_t i) {
    ScriptValue v = Of(Kind::kInt);
    v.integer = i;
    return v;
  }
  static ScriptValue Double(double d) {
    ScriptValue v = Of(Kind::kDouble);
    v.number = d;
    return v;
  }
  static ScriptValue String(Text s) {
    ScriptValue v = Of(Kind::kString);
    v.string = std::move(s);
    return v;
  }
  static ScriptValue Object() { return Of(Kind::kObject); }

 private:
  static ScriptValue Of(Kind kind) {
    ScriptValue v;
    v.kind = kind;
    return v;
  }
};

// A converted argument: the native form of its declared type.
using ScriptArg = std::variant<Text, int32_t, bool>;
// A method's result: nothing, a string, an integer or a boolean.
using ScriptResult = std::variant<std::monostate, Text, int32_t, bool>;

// The automation status codes the bridge reports.
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006);
inline constexpr HRESULT DISP_E_NONAMEDARGS = static_cast<HRESULT>(0x80020007);
inline constexpr HRESULT DISP_E_EXCEPTION = static_cast<HRESULT>(0x80020009);
inline constexpr HRESULT DISP_E_OVERFLOW = static_cast<HRESULT>(0x8002000A);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000E);
inline constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = static_cast<HRESULT>(0x8002000F);

// Converts `value` to `type` by the rules of the platform's VariantChangeType (table in
// variant_conversion.cpp). On failure returns the conversion's status and leaves `out` alone.
[[nodiscard]] HRESULT ConvertArgument(const ScriptValue& value, ScriptType type, ScriptArg& out);
