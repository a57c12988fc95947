#include "html/tray_shell.h"

#include "framework/win_api.h"
#include "platform/desktop_notification.h"
#include "platform/session_bus.h"
#include "platform/status_icon.h"

namespace {

class DesktopTrayShell : public TrayShell {
 public:
  DesktopTrayShell()
      : icon_({[this] { SendMouse(WM_LBUTTONDOWN); }, [this] { SendMouse(WM_RBUTTONDOWN); },
               [this](uint16_t command) { PostMessageW(owner_, WM_COMMAND, command, 0); }}) {}
  // The record is destroyed at exit: what removing the icon and its balloon queued goes out
  // before the connection does.
  ~DesktopTrayShell() override {
    icon_.Hide();
    balloon_.Close();
    FlushSessionBus();
  }

  void NotifyIcon(DWORD operation, const NotifyIconData& data,
                  const std::vector<TrayMenuItem>& menu) override {
    owner_ = data.hWnd;
    callback_message_ = data.uCallbackMessage;
    icon_id_ = data.uID;
    if (operation == NIM_DELETE) {
      icon_.Hide();
      balloon_.Close();
      return;
    }
    StatusIconMenu entries;
    for (const TrayMenuItem& item : menu) entries.push_back({item.text, item.command});
    icon_.Show(data.hIcon, (data.uFlags & NIF_TIP) ? data.szTip : Text(), entries);
    // An empty balloon text takes the balloon away.
    if (data.szInfo.empty())
      balloon_.Close();
    else if (data.uFlags & NIF_INFO)
      balloon_.Show(u"morvil", data.hIcon, data.szInfoTitle, data.szInfo,
                    static_cast<int32_t>(data.uTimeout));
  }

 private:
  // Sent, as the shell sends it: the owner handles the click while its event is current, so
  // a menu it opens takes that event as its trigger.
  void SendMouse(UINT mouse_message) {
    if (callback_message_) SendMessageW(owner_, callback_message_, icon_id_, mouse_message);
  }

  HWND owner_ = 0;
  UINT callback_message_ = 0;
  UINT icon_id_ = 0;
  StatusIcon icon_;
  DesktopNotification balloon_;
};

}  // namespace

TrayRecord& TheTrayRecord() {
  static TrayRecord record(std::make_unique<DesktopTrayShell>());
  return record;
}
