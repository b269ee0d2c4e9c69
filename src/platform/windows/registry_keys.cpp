#include "platform/windows/registry_keys.h"

#include <algorithm>
#include <vector>

#include "platform/windows/wide.h"

namespace tv::win {
namespace {

class Key {
 public:
  Key() = default;
  ~Key() {
    if (h_ != nullptr) RegCloseKey(h_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY* out() { return &h_; }
  [[nodiscard]] HKEY get() const { return h_; }

 private:
  HKEY h_ = nullptr;
};

std::wstring expand(const std::wstring& text) {
  if (text.find(L'%') == std::wstring::npos) return text;
  const DWORD n = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  if (n == 0) return text;
  std::wstring out(n, L'\0');
  const DWORD m = ExpandEnvironmentStringsW(text.c_str(), out.data(), n);
  if (m == 0 || m > n) return text;
  out.resize(m - 1);  // the count includes the terminator
  return out;
}

}  // namespace

std::string RegistryKeys::valueBytes(const KeyValue& value) const {
  if (value.type == KeyValue::kDword) {
    const std::uint32_t v = value.dword;
    return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                       static_cast<char>((v >> 16) & 0xFF), static_cast<char>((v >> 24) & 0xFF)};
  }
  std::wstring text = toWide(value.text);
  std::size_t chars = text.size() + 1;
  if (auto it = opt_.bufferChars.find(value.name); it != opt_.bufferChars.end()) {
    chars = std::max(chars, it->second);
  }
  text.resize(chars, L'\0');
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (wchar_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>((c >> 8) & 0xFF);
  }
  return bytes;
}

InstallKeys::Opened RegistryKeys::createKey(const std::string& key) {
  Opened result;
  Key h;
  DWORD disposition = 0;
  const LSTATUS rc =
      RegCreateKeyExW(opt_.root, toWide(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, h.out(), &disposition);
  if (rc != ERROR_SUCCESS) {
    result.error = static_cast<int>(rc);
    return result;
  }
  result.existed = disposition == REG_OPENED_EXISTING_KEY;
  return result;
}

int RegistryKeys::setValue(const std::string& key, const KeyValue& value) {
  Key h;
  LSTATUS rc = RegOpenKeyExW(opt_.root, toWide(key).c_str(), 0, KEY_SET_VALUE, h.out());
  if (rc != ERROR_SUCCESS) return static_cast<int>(rc);
  const std::string bytes = valueBytes(value);
  const DWORD type = value.type == KeyValue::kDword ? REG_DWORD : REG_EXPAND_SZ;
  rc =
      RegSetValueExW(h.get(), toWide(value.name).c_str(), 0, type,
                     reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
  return static_cast<int>(rc);
}

InstallKeys::Query RegistryKeys::queryText(const std::string& key, const std::string& name) {
  Query q;
  Key h;
  LSTATUS rc = RegOpenKeyExW(opt_.root, toWide(key).c_str(), 0, KEY_QUERY_VALUE, h.out());
  if (rc != ERROR_SUCCESS) {
    q.keyError = static_cast<int>(rc);
    return q;
  }
  const std::wstring wname = toWide(name);
  DWORD type = 0;
  DWORD size = 0;
  std::vector<wchar_t> data;
  // The value may grow between the size query and the read: ask again then.
  for (;;) {
    data.assign(size / sizeof(wchar_t) + 1, L'\0');
    DWORD got = size;
    rc = RegQueryValueExW(h.get(), wname.c_str(), nullptr, &type,
                          size == 0 ? nullptr : reinterpret_cast<BYTE*>(data.data()), &got);
    if (rc == ERROR_MORE_DATA || (rc == ERROR_SUCCESS && size == 0 && got > 0)) {
      size = got;
      continue;
    }
    size = got;
    break;
  }
  if (rc != ERROR_SUCCESS) {
    q.valueError = static_cast<int>(rc);
    return q;
  }
  if (type != REG_EXPAND_SZ && type != REG_SZ) {
    q.valueError = ERROR_UNSUPPORTED_TYPE;
    return q;
  }
  std::wstring text(data.data(), size / sizeof(wchar_t));
  if (auto zero = text.find(L'\0'); zero != std::wstring::npos) text.resize(zero);
  q.text = toUtf8(type == REG_EXPAND_SZ ? expand(text) : text);
  return q;
}

int RegistryKeys::deleteKey(const std::string& key) {
  return static_cast<int>(RegDeleteKeyW(opt_.root, toWide(key).c_str()));
}

}  // namespace tv::win
