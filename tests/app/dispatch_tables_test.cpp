#include <gtest/gtest.h>

#include "app/base_frame.h"

// Identifiers in the main window and in any other page dialog.
TEST(DispatchTablesTest, MainWindowIdentifiers) {
  struct Row {
    const DispatchTable* table;
    const char16_t* name;
    DISPID id;
  } rows[] = {
      {&CBaseFrame::kDispatchTable, u"GetProxyType", 0x00000001},
      {&CBaseFrame::kDispatchTable, u"Ping", 0x0000000C},
      {&CBaseFrame::kDispatchTable, u"GetVersion", 0x00010001},
      {&CBaseFrame::kDispatchTable, u"ShowEffect", 0x0001003E},
      {&CBaseFrame::kDispatchTable, u"MinWindow", 0x00020001},
      {&CBaseFrame::kDispatchTable, u"drapanddrop", 0x0002000D},
      {&CBaseDHtmlPgDlg::kDispatchTable, u"GetVersion", 0x00000001},
      {&CBaseDHtmlPgDlg::kDispatchTable, u"MINWINDOW", 0x00010001},
      {&CBaseDHtmlDlg::kDispatchTable, u"NewInstance", 0x0000000C},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(i);
    DISPID id = 0;
    ASSERT_EQ(GetIDsOfNames(rows[i].table, rows[i].name, id), S_OK);
    EXPECT_EQ(id, rows[i].id);
  }
  DISPID id = 0;
  EXPECT_EQ(GetIDsOfNames(&CBaseDHtmlDlg::kDispatchTable, u"GetVersion", id), DISP_E_UNKNOWNNAME);
}

// The window methods are the only table a remote page may call.
TEST(DispatchTablesTest, OnlyWindowMethodsAreRemoteCallable) {
  EXPECT_TRUE(CBaseDHtmlDlg::kDispatchTable.remote_callable);
  EXPECT_FALSE(CBaseDHtmlPgDlg::kDispatchTable.remote_callable);
  EXPECT_FALSE(CBaseFrame::kDispatchTable.remote_callable);
  EXPECT_EQ(CBaseFrame::kDispatchTable.entries.size(), 12u);
  EXPECT_EQ(CBaseDHtmlPgDlg::kDispatchTable.entries.size(), 62u);
  EXPECT_EQ(CBaseDHtmlDlg::kDispatchTable.entries.size(), 13u);
}
