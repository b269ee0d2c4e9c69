#include "platform/windows/registry_keys.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/windows/wide.h"

namespace tv::win {
namespace {

// The product's two keys, in the test's private Wine prefix.
constexpr const char* kDataKey = "Software\\MORENA\\Tavlevagt";
constexpr const char* kEventKey =
    "System\\CurrentControlSet\\Services\\EventLog\\Application\\Tavlevagt";

struct Raw {
  LSTATUS rc = ERROR_SUCCESS;
  DWORD type = 0;
  std::string bytes;
};

Raw readRaw(const char* key, const char* name, bool narrow = false) {
  Raw r;
  HKEY h = nullptr;
  r.rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, toWide(key).c_str(), 0, KEY_QUERY_VALUE, &h);
  if (r.rc != ERROR_SUCCESS) return r;
  DWORD size = 4096;
  r.bytes.assign(size, '\0');
  auto* data = reinterpret_cast<BYTE*>(r.bytes.data());
  r.rc = narrow ? RegQueryValueExA(h, name, nullptr, &r.type, data, &size)
                : RegQueryValueExW(h, toWide(name).c_str(), nullptr, &r.type, data, &size);
  r.bytes.resize(r.rc == ERROR_SUCCESS ? size : 0);
  RegCloseKey(h);
  return r;
}

std::string utf16(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

class RegistryKeysTest : public ::testing::Test {
 protected:
  void SetUp() override { clear(); }
  void TearDown() override { clear(); }
  static void clear() {
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, toWide(kDataKey).c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, toWide(kEventKey).c_str());
  }
  // What "-i" writes.
  void install(const std::string& dataFolder) {
    for (const char* key : {kDataKey, kEventKey}) ASSERT_EQ(keys.createKey(key).error, 0);
    ASSERT_EQ(keys.setValue(kDataKey, {"DataPath", KeyValue::kExpandString, dataFolder, 0}), 0);
    ASSERT_EQ(keys.setValue(kEventKey, {"EventMessageFile", KeyValue::kExpandString,
                                        "%SystemRoot%\\System32\\Tavlevagt.dll", 0}),
              0);
    ASSERT_EQ(keys.setValue(kEventKey, {"TypesSupported", KeyValue::kDword, "", 7}), 0);
  }
  RegistryKeys keys;
};

TEST_F(RegistryKeysTest, ValuesAreStoredWithTheirTypesAndLengths) {
  const std::string folder = "C:\\Skole\\Tavlevagt \xC3\xA6\xC3\xB8\xC3\xA5";
  install(folder);

  Raw dataPath = readRaw(kDataKey, "DataPath");
  ASSERT_EQ(dataPath.rc, ERROR_SUCCESS);
  EXPECT_EQ(dataPath.type, static_cast<DWORD>(REG_EXPAND_SZ));
  std::wstring buffer = toWide(folder);
  buffer.resize(260, L'\0');
  EXPECT_EQ(dataPath.bytes, utf16(buffer));  // the whole 260-character buffer
  // A reader of the narrow value sees the 260-byte buffer.
  EXPECT_EQ(readRaw(kDataKey, "DataPath", true).bytes.size(), 260u);

  Raw messageFile = readRaw(kEventKey, "EventMessageFile");
  EXPECT_EQ(messageFile.type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(messageFile.bytes,
            utf16(std::wstring(L"%SystemRoot%\\System32\\Tavlevagt.dll") + L'\0'));

  Raw types = readRaw(kEventKey, "TypesSupported");
  EXPECT_EQ(types.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(types.bytes, std::string("\x07\x00\x00\x00", 4));

  const InstallKeys::Query q = keys.queryText(kDataKey, "DataPath");
  EXPECT_EQ(q.keyError, 0);
  EXPECT_EQ(q.valueError, 0);
  EXPECT_EQ(q.text, folder);
}

TEST_F(RegistryKeysTest, ALongPathIsKeptWholeAndAnExistingKeyIsReported) {
  const std::string folder = "D:\\" + std::string(300, 'x');
  EXPECT_FALSE(keys.createKey(kDataKey).existed);
  EXPECT_TRUE(keys.createKey(kDataKey).existed);
  ASSERT_EQ(keys.setValue(kDataKey, {"DataPath", KeyValue::kExpandString, folder, 0}), 0);
  EXPECT_EQ(readRaw(kDataKey, "DataPath").bytes.size(), (folder.size() + 1) * 2);
  EXPECT_EQ(keys.queryText(kDataKey, "DataPath").text, folder);
}

TEST_F(RegistryKeysTest, MissingKeysAndValuesGiveTheSystemsErrors) {
  InstallKeys::Query q = keys.queryText(kDataKey, "DataPath");
  EXPECT_EQ(q.keyError, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(keys.setValue(kDataKey, {"DataPath", KeyValue::kExpandString, "C:\\x", 0}),
            ERROR_FILE_NOT_FOUND);
  install("C:\\x");
  q = keys.queryText(kDataKey, "Andet");
  EXPECT_EQ(q.keyError, 0);
  EXPECT_EQ(q.valueError, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(keys.queryText(kEventKey, "TypesSupported").valueError, ERROR_UNSUPPORTED_TYPE);
  // Uninstalling twice: the second time both keys are missing.
  EXPECT_EQ(keys.deleteKey(kDataKey), 0);
  EXPECT_EQ(keys.deleteKey(kEventKey), 0);
  EXPECT_EQ(keys.deleteKey(kDataKey), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(keys.deleteKey(kEventKey), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryKeysTest, AnAdminsPathWithAVariableIsExpandedAndAPlainTextIsRead) {
  SetEnvironmentVariableW(L"TAVLEVAGT_TEST_ROOT", L"E:\\Skoledata");
  ASSERT_EQ(keys.createKey(kDataKey).error, 0);
  ASSERT_EQ(
      keys.setValue(kDataKey, {"DataPath", KeyValue::kExpandString, "%TAVLEVAGT_TEST_ROOT%\\a", 0}),
      0);
  EXPECT_EQ(keys.queryText(kDataKey, "DataPath").text, "E:\\Skoledata\\a");
  // A value an admin wrote by hand as REG_SZ, with its terminator.
  HKEY h = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, toWide(kDataKey).c_str(), 0, KEY_SET_VALUE, &h),
            ERROR_SUCCESS);
  const wchar_t text[] = L"F:\\%TAVLEVAGT_TEST_ROOT%";
  RegSetValueExW(h, L"DataPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text);
  RegCloseKey(h);
  EXPECT_EQ(keys.queryText(kDataKey, "DataPath").text, "F:\\%TAVLEVAGT_TEST_ROOT%");
}

}  // namespace
}  // namespace tv::win
