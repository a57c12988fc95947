// The process-wide tray record: one notification-area icon with a tool-tip, a menu named by page
// script and balloon tips, owned by one page window. This class keeps the record's rules (owner,
// shown flag, field cuts, the balloon count-down); a TrayShell carries the record to the desktop.
// Not thread-safe: used on the user-interface thread only.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "services/notify_icon_data.h"
#include "services/tray_menu.h"

inline constexpr UINT kTrayCallbackMessage = WM_USER + 100;
inline constexpr UINT_PTR kTipTimerId = 201;
inline constexpr UINT kTipTimerPeriodMs = 100;

// Adds, changes or removes the icon described by the record. The result is never looked at.
class TrayShell {
 public:
  virtual ~TrayShell() = default;
  virtual void NotifyIcon(DWORD operation, const NotifyIconData& data,
                          const std::vector<TrayMenuItem>& menu) = 0;
};

class TrayRecord {
 public:
  explicit TrayRecord(std::unique_ptr<TrayShell> shell);
  // Removes the icon when it is on the desktop.
  ~TrayRecord();
  TrayRecord(const TrayRecord&) = delete;
  TrayRecord& operator=(const TrayRecord&) = delete;

  // A page window was created: while the icon has never been shown, the newest window takes the
  // record over (reset, owner `window`, icon `icon`). Once shown, the owner stays.
  void AdoptWindow(HWND window, const Text& icon);
  // Replaces the menu, sets the tool-tip and adds or updates the icon.
  void ShowTray(const Text& tip, const Text& spec);
  // Shows a balloon on the icon for `time` ms, adding the icon when needed. The caller starts
  // the tip timer (kTipTimerId, every kTipTimerPeriodMs) on its window.
  void ShowTip(const Text& title, const Text& text, int32_t time);
  // One tip timer tick: counts the balloon time down and hides the balloon when it has run out.
  // Returns true when the timer should stop.
  [[nodiscard]] bool TipTick();
  // Takes the icon off the desktop. The shown flag stays set, so the owner stays fixed; a later
  // ShowTray or ShowTip puts the icon back.
  void FreeTray();

  [[nodiscard]] const NotifyIconData& data() const { return data_; }
  [[nodiscard]] bool shown() const { return shown_; }
  // The menu of the last ShowTray; none before the first.
  [[nodiscard]] const std::optional<std::vector<TrayMenuItem>>& menu() const { return menu_; }

 private:
  void AddOrModify();
  const std::vector<TrayMenuItem>& MenuItems() const;

  std::unique_ptr<TrayShell> shell_;
  NotifyIconData data_;
  int64_t balloon_time_ = 0;  // signed, so a short or negative time still runs out
  bool shown_ = false;
  bool on_desktop_ = false;
  std::optional<std::vector<TrayMenuItem>> menu_;
};
