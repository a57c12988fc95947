#include "services/tray_record.h"

#include <utility>

TrayRecord::TrayRecord(std::unique_ptr<TrayShell> shell) : shell_(std::move(shell)) {}

TrayRecord::~TrayRecord() {
  if (on_desktop_) shell_->NotifyIcon(NIM_DELETE, data_, MenuItems());
}

void TrayRecord::AdoptWindow(HWND window, const Text& icon) {
  if (shown_) return;
  data_ = NotifyIconData{};
  balloon_time_ = 0;
  data_.cbSize = kNotifyIconDataSize;
  data_.hWnd = window;
  data_.uCallbackMessage = kTrayCallbackMessage;
  data_.hIcon = icon;
}

void TrayRecord::ShowTray(const Text& tip, const Text& spec) {
  menu_ = ParseTrayMenuSpec(spec);
  data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data_.szTip = CutToField(tip, kTipField);
  AddOrModify();
}

void TrayRecord::ShowTip(const Text& title, const Text& text, int32_t time) {
  data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO;
  data_.uTimeout = static_cast<UINT>(time);
  balloon_time_ = time;
  data_.dwInfoFlags = NIIF_INFO;
  data_.szInfoTitle = CutToField(title, kInfoTitleField);
  data_.szInfo = CutToField(text, kInfoField);
  AddOrModify();
}

bool TrayRecord::TipTick() {
  balloon_time_ -= kTipTimerPeriodMs;
  data_.uTimeout = static_cast<UINT>(balloon_time_);
  if (balloon_time_ > 0) return false;
  data_.szInfo.clear();
  // A freed icon stays away: hiding its balloon must not bring it back.
  if (on_desktop_) shell_->NotifyIcon(NIM_MODIFY, data_, MenuItems());
  return true;
}

void TrayRecord::FreeTray() {
  if (!shown_ || !on_desktop_) return;
  shell_->NotifyIcon(NIM_DELETE, data_, MenuItems());
  on_desktop_ = false;
}

void TrayRecord::AddOrModify() {
  shell_->NotifyIcon(on_desktop_ ? NIM_MODIFY : NIM_ADD, data_, MenuItems());
  shown_ = true;
  on_desktop_ = true;
}

const std::vector<TrayMenuItem>& TrayRecord::MenuItems() const {
  static const std::vector<TrayMenuItem> kNone;
  return menu_ ? *menu_ : kNone;
}
