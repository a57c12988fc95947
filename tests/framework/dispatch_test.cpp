#include "framework/dispatch.h"

#include <gtest/gtest.h>

#include "framework/html_dialog.h"

namespace {

// A page window whose methods record what they received.
class Recorder : public HtmlDialog {
 public:
  Recorder() : HtmlDialog(nullptr) {}
  const DispatchTable* GetDispatchTable() const override { return &kTable; }

  void Move(int32_t x, int32_t y) { calls += u"Move " + ToText(x) + u"," + ToText(y) + u";"; }
  Text Echo(const Text& s) { return s; }
  bool Flag(bool b) { return b; }
  int32_t Fail() { throw std::runtime_error("disk on fire"); }

  static const DispatchTable kBaseTable;
  static const DispatchTable kTable;
  Text calls;
};

const DispatchEntry kBaseEntries[] = {DISP_METHOD(Recorder, Move), DISP_METHOD(Recorder, Echo)};
const DispatchEntry kOwnEntries[] = {
    DISP_METHOD(Recorder, Flag),
    DISP_METHOD(Recorder, Fail),
    DISP_NOT_IMPLEMENTED(Later, ScriptType::kInt),
};
const DispatchTable Recorder::kBaseTable{nullptr, kBaseEntries, /*remote_callable=*/true};
const DispatchTable Recorder::kTable{&Recorder::kBaseTable, kOwnEntries,
                                     /*remote_callable=*/false};

InvokeResult Call(Recorder& r, TextView name, std::vector<ScriptValue> args, bool remote = false) {
  DISPID id = 0;
  EXPECT_EQ(GetIDsOfNames(&Recorder::kTable, name, id), S_OK) << ToUtf8(name);
  return Invoke(&Recorder::kTable, r, id, args, remote);
}

}  // namespace

TEST(DispatchTest, IdentifiersFollowDepthAndPosition) {
  DISPID id = 0;
  ASSERT_EQ(GetIDsOfNames(&Recorder::kTable, u"flag", id), S_OK);
  EXPECT_EQ(id, 0x00000001);
  ASSERT_EQ(GetIDsOfNames(&Recorder::kTable, u"LATER", id), S_OK);
  EXPECT_EQ(id, 0x00000003);
  ASSERT_EQ(GetIDsOfNames(&Recorder::kTable, u"mOvE", id), S_OK);
  EXPECT_EQ(id, 0x00010001);
  ASSERT_EQ(GetIDsOfNames(&Recorder::kTable, u"Echo", id), S_OK);
  EXPECT_EQ(id, 0x00010002);
  id = 12345;
  EXPECT_EQ(GetIDsOfNames(&Recorder::kTable, u"Mov", id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(FindEntry(&Recorder::kTable, 0x00020001), nullptr);
  EXPECT_EQ(FindEntry(&Recorder::kTable, 0x00000004), nullptr);
  EXPECT_EQ(FindEntry(&Recorder::kTable, 0), nullptr);
}

TEST(DispatchTest, ArgumentCountsAndConversionsAreCheckedBeforeTheCall) {
  Recorder r;
  EXPECT_EQ(Call(r, u"Move", {ScriptValue::Int(1)}).status, DISP_E_PARAMNOTOPTIONAL);
  EXPECT_EQ(
      Call(r, u"Move", {ScriptValue::Int(1), ScriptValue::Int(2), ScriptValue::Int(3)}).status,
      DISP_E_BADPARAMCOUNT);
  InvokeResult bad = Call(r, u"Move", {ScriptValue::Int(1), ScriptValue::String(u"x")});
  EXPECT_EQ(bad.status, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(bad.arg_err, 2u);
  EXPECT_EQ(Call(r, u"Move", {ScriptValue::Double(3e10), ScriptValue::Int(0)}).status,
            DISP_E_OVERFLOW);
  EXPECT_TRUE(r.calls.empty()) << ToUtf8(r.calls);
  EXPECT_EQ(Call(r, u"Move", {ScriptValue::String(u"10"), ScriptValue::String(u" 20 ")}).status,
            S_OK);
  EXPECT_EQ(r.calls, u"Move 10,20;");
}

TEST(DispatchTest, ResultsAreTypedAndFailuresReported) {
  Recorder r;
  InvokeResult echo = Call(r, u"Echo", {ScriptValue::Int(-7)});
  EXPECT_EQ(std::get<Text>(echo.value), u"-7");
  InvokeResult flag = Call(r, u"Flag", {ScriptValue::Int(5)});
  ASSERT_TRUE(std::holds_alternative<bool>(flag.value));
  EXPECT_TRUE(std::get<bool>(flag.value));
  InvokeResult fail = Call(r, u"Fail", {});
  EXPECT_EQ(fail.status, DISP_E_EXCEPTION);
  EXPECT_NE(fail.description.find(u"disk on fire"), Text::npos);
  EXPECT_EQ(Call(r, u"Later", {}).status, E_NOTIMPL);
  EXPECT_EQ(Invoke(&Recorder::kTable, r, 0x7FFF0001, {}, false).status, DISP_E_MEMBERNOTFOUND);
}

// Pages not loaded from the local disk reach only tables marked remote-callable.
TEST(DispatchTest, RemoteCallersReachOnlyRemoteCallableTables) {
  Recorder r;
  EXPECT_EQ(Call(r, u"Flag", {ScriptValue::Bool(true)}, /*remote=*/true).status, E_ACCESSDENIED);
  EXPECT_EQ(Call(r, u"Echo", {ScriptValue::String(u"x")}, /*remote=*/true).status, S_OK);
}

TEST(ConvertArgumentTest, FollowsTheConversionTable) {
  struct Row {
    ScriptValue in;
    ScriptType type;
    HRESULT status;
    ScriptArg out;
  } rows[] = {
      {ScriptValue::Empty(), ScriptType::kString, S_OK, Text()},
      {ScriptValue::Empty(), ScriptType::kInt, S_OK, 0},
      {ScriptValue::Empty(), ScriptType::kBool, S_OK, false},
      {ScriptValue::Null(), ScriptType::kString, DISP_E_TYPEMISMATCH, {}},
      {ScriptValue::Object(), ScriptType::kInt, DISP_E_TYPEMISMATCH, {}},
      {ScriptValue::Bool(true), ScriptType::kString, S_OK, Text(u"-1")},
      {ScriptValue::Bool(true), ScriptType::kInt, S_OK, -1},
      {ScriptValue::Int(42), ScriptType::kString, S_OK, Text(u"42")},
      {ScriptValue::Int(-3), ScriptType::kBool, S_OK, true},
      {ScriptValue::Double(1.5), ScriptType::kString, S_OK, Text(u"1.5")},
      {ScriptValue::Double(1e21), ScriptType::kString, S_OK, Text(u"1E+21")},
      {ScriptValue::Double(2.5), ScriptType::kInt, S_OK, 2},  // half to even
      {ScriptValue::Double(3.5), ScriptType::kInt, S_OK, 4},
      {ScriptValue::Double(-2147483648.0), ScriptType::kInt, S_OK, INT32_MIN},
      {ScriptValue::Double(2147483648.0), ScriptType::kInt, DISP_E_OVERFLOW, {}},
      {ScriptValue::String(u"12"), ScriptType::kInt, S_OK, 12},
      {ScriptValue::String(u"  -1,234.6 "), ScriptType::kInt, S_OK, -1235},
      {ScriptValue::String(u"1e3"), ScriptType::kInt, S_OK, 1000},
      {ScriptValue::String(u"&HFF"), ScriptType::kInt, S_OK, 255},
      {ScriptValue::String(u"&HFFFFFFFF"), ScriptType::kInt, S_OK, -1},
      {ScriptValue::String(u"12abc"), ScriptType::kInt, DISP_E_TYPEMISMATCH, {}},
      {ScriptValue::String(u""), ScriptType::kInt, DISP_E_TYPEMISMATCH, {}},
      {ScriptValue::String(u"9999999999"), ScriptType::kInt, DISP_E_OVERFLOW, {}},
      {ScriptValue::String(u"TRUE"), ScriptType::kBool, S_OK, true},
      {ScriptValue::String(u"false"), ScriptType::kBool, S_OK, false},
      {ScriptValue::String(u"0"), ScriptType::kBool, S_OK, false},
      {ScriptValue::String(u"yes"), ScriptType::kBool, DISP_E_TYPEMISMATCH, {}},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(i);
    ScriptArg out = Text(u"\xbdpoison");
    EXPECT_EQ(ConvertArgument(rows[i].in, rows[i].type, out), rows[i].status);
    if (rows[i].status == S_OK)
      EXPECT_EQ(out, rows[i].out);
    else
      EXPECT_EQ(out, ScriptArg(Text(u"\xbdpoison")));  // untouched on failure
  }
}
