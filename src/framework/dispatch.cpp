#include "framework/dispatch.h"

#include <vector>

#include "base/compare.h"

namespace {

// The calling document of the handler now running; calls nest when a handler runs a modal loop.
bool g_caller_is_remote = false;

class CallerScope {
 public:
  explicit CallerScope(bool remote) : saved_(g_caller_is_remote) { g_caller_is_remote = remote; }
  ~CallerScope() { g_caller_is_remote = saved_; }
  CallerScope(const CallerScope&) = delete;
  CallerScope& operator=(const CallerScope&) = delete;

 private:
  bool saved_;
};

}  // namespace

bool ScriptCallerIsRemote() {
  return g_caller_is_remote;
}

// Names compare with letter case ignored by the invariant (en-US) rules; script method names are
// ASCII, so folding A-Z is the whole rule that can make two of them equal.
HRESULT GetIDsOfNames(const DispatchTable* table, TextView name, DISPID& id) {
  int depth = 0;
  for (const DispatchTable* t = table; t; t = t->base, ++depth) {
    for (size_t i = 0; i < t->entries.size(); ++i) {
      if (EqualsIgnoringAsciiCase(t->entries[i].name, name)) {
        id = depth * 65536 + static_cast<DISPID>(i) + 1;
        return S_OK;
      }
    }
  }
  return DISP_E_UNKNOWNNAME;
}

const DispatchEntry* FindEntry(const DispatchTable* table, DISPID id, const DispatchTable** owner) {
  if (id <= 0) return nullptr;
  int depth = id >> 16;
  int index = (id & 0xFFFF) - 1;
  const DispatchTable* t = table;
  for (; t && depth > 0; --depth) t = t->base;
  if (!t || index < 0 || static_cast<size_t>(index) >= t->entries.size()) return nullptr;
  if (owner) *owner = t;
  return &t->entries[static_cast<size_t>(index)];
}

InvokeResult Invoke(const DispatchTable* table, HtmlDialog& self, DISPID id,
                    std::span<const ScriptValue> args, bool remote_caller) {
  InvokeResult result;
  const DispatchTable* owner = nullptr;
  const DispatchEntry* entry = FindEntry(table, id, &owner);
  if (!entry) {
    result.status = DISP_E_MEMBERNOTFOUND;
    return result;
  }
  if (remote_caller && !owner->remote_callable) {
    result.status = E_ACCESSDENIED;
    result.description = u"Access denied: this page was not loaded from the local disk";
    return result;
  }
  if (!entry->invoke) {
    result.status = E_NOTIMPL;
    result.description = Text(u"Not implemented: ") + entry->name;
    return result;
  }
  if (args.size() != entry->params.size()) {
    result.status =
        args.size() > entry->params.size() ? DISP_E_BADPARAMCOUNT : DISP_E_PARAMNOTOPTIONAL;
    result.description = Text(entry->name) + u" takes " +
                         ToText(static_cast<long long>(entry->params.size())) +
                         u" arguments, not " + ToText(static_cast<long long>(args.size()));
    return result;
  }
  std::vector<ScriptArg> converted(args.size());
  for (size_t i = 0; i < args.size(); ++i) {
    if (HRESULT hr = ConvertArgument(args[i], entry->params[i], converted[i]); hr != S_OK) {
      result.status = hr;
      result.arg_err = static_cast<unsigned>(i + 1);
      result.description = u"Argument " + ToText(static_cast<long long>(i + 1)) + u" of " +
                           entry->name + u" cannot be converted";
      return result;
    }
  }
  try {
    CallerScope caller(remote_caller);
    result.value = entry->invoke(self, converted);
  } catch (const ScriptError& e) {
    result.status = e.code;
    result.description = e.message;
  } catch (const std::exception& e) {
    result.status = DISP_E_EXCEPTION;
    result.description = u"Exception in " + Text(entry->name) + u": " + FromUtf8(e.what());
  }
  return result;
}
