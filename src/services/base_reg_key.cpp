#include "services/base_reg_key.h"

#include <cstring>

#include "base/compare.h"

namespace {

// HKEY_USERS sits between HKEY_LOCAL_MACHINE and HKEY_CURRENT_CONFIG under its own name, so that
// page script can reach it like the other roots.
constexpr RegRootName kRoots[] = {
    {u"HKEY_CLASSES_ROOT", RegistryRoot::kClassesRoot},
    {u"HKEY_CURRENT_USER", RegistryRoot::kCurrentUser},
    {u"HKEY_LOCAL_MACHINE", RegistryRoot::kLocalMachine},
    {u"HKEY_USERS", RegistryRoot::kUsers},
    {u"HKEY_CURRENT_CONFIG", RegistryRoot::kCurrentConfig},
};

constexpr size_t kStringBufferBytes = 1024;
constexpr size_t kDwordBytes = 4;

}  // namespace

std::span<const RegRootName> RegRootTable() {
  return kRoots;
}

int32_t CBaseRegKey::Open(const Text& path) {
  Text backslashed = path;
  for (char16_t& c : backslashed)
    if (c == u'/') c = u'\\';
  size_t sep = backslashed.find(u'\\');
  m_root.reset();
  if (sep != Text::npos) {
    TextView name = TextView(backslashed).substr(0, sep);
    for (const RegRootName& entry : kRoots) {
      if (CompareNoCase(name, entry.name) == 0) {
        m_root = entry.root;
        break;
      }
    }
    m_strSubKey = backslashed.substr(sep + 1);
  } else {
    m_strSubKey = backslashed;
  }
  if (!m_root) return kRegKeyNoRoot;
  auto key = RegistryKey::Create(*m_root, m_strSubKey);
  if (!key) return kRegKeyFailed;
  m_key.emplace(std::move(*key));
  return kRegKeyDone;
}

void CBaseRegKey::Close() {
  m_key.reset();
}

Result<RegistryKey*> CBaseRegKey::ValueKey() {
  if (!m_root) return Error{kRegistryNotFound, "no root"};
  // The key opened by Open serves as well as a second open of the same key would.
  if (m_key) return &*m_key;
  auto key = RegistryKey::OpenExisting(*m_root, m_strSubKey);
  if (!key) return key.error();
  m_key.emplace(std::move(*key));
  return &*m_key;
}

int32_t CBaseRegKey::QueryBytes(const Text& name, size_t capacity, std::string& out) {
  auto key = ValueKey();
  if (!key) return kRegKeyOpenFailed;
  auto value = (*key)->QueryValue(name);
  if (!value || value->data.size() > capacity) return kRegKeyFailed;
  out = std::move(value->data);
  return kRegKeyDone;
}

int32_t CBaseRegKey::QueryString(const Text& name, Text& out) {
  std::string bytes;
  int32_t status = QueryBytes(name, kStringBufferBytes, bytes);
  if (status != kRegKeyDone) return status;
  // An odd trailing byte meets the zero-filled buffer, as in a 1024-unit buffer.
  Text text((bytes.size() + 1) / 2, u'\0');
  std::memcpy(text.data(), bytes.data(), bytes.size());
  size_t zero = text.find(u'\0');
  if (zero != Text::npos) text.resize(zero);
  out = std::move(text);
  return kRegKeyDone;
}

int32_t CBaseRegKey::QueryDword(const Text& name, DWORD& out) {
  std::string bytes;
  int32_t status = QueryBytes(name, kDwordBytes, bytes);
  if (status != kRegKeyDone) return status;
  unsigned char le[kDwordBytes];
  for (size_t i = 0; i < kDwordBytes; ++i) le[i] = static_cast<unsigned char>(out >> (8 * i));
  std::memcpy(le, bytes.data(), bytes.size());
  out = DWORD(le[0]) | DWORD(le[1]) << 8 | DWORD(le[2]) << 16 | DWORD(le[3]) << 24;
  return kRegKeyDone;
}

int32_t CBaseRegKey::SetValue(const Text& name, const RegistryValue& value) {
  auto key = ValueKey();
  if (!key) return kRegKeyOpenFailed;
  return (*key)->SetValue(name, value) ? kRegKeyDone : kRegKeyFailed;
}

int32_t CBaseRegKey::SetString(const Text& name, const Text& text) {
  RegistryValue value{REG_SZ, std::string((text.size() + 1) * 2, '\0')};
  std::memcpy(value.data.data(), text.data(), text.size() * 2);
  return SetValue(name, value);
}

int32_t CBaseRegKey::SetDword(const Text& name, DWORD number) {
  RegistryValue value{REG_DWORD, std::string(kDwordBytes, '\0')};
  for (size_t i = 0; i < kDwordBytes; ++i) value.data[i] = static_cast<char>(number >> (8 * i));
  return SetValue(name, value);
}

void CBaseRegKey::CreateForWrite() {
  if (!m_root || ValueKey()) return;
  if (auto key = RegistryKey::Create(*m_root, m_strSubKey)) m_key.emplace(std::move(*key));
}

int32_t CBaseRegKey::WriteString(const Text& name, const Text& text) {
  CreateForWrite();
  return SetString(name, text);
}

int32_t CBaseRegKey::WriteDword(const Text& name, DWORD value) {
  CreateForWrite();
  return SetDword(name, value);
}
