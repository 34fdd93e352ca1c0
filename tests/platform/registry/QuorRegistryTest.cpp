#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "platform/registry/QuorRegistry.h"
#include "quormediafiles/platform/QuorOleAuto.h"
#include "support/QuorTempDir.h"

namespace {

class QuorRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("QUOR_REGISTRY_FILE", RegistryPath().c_str(), 1); }
  void TearDown() override {
    ::unsetenv("QUOR_REGISTRY_FILE");
    ::unsetenv("QUOR_SYSTEM_REGISTRY_FILE");
  }

  std::string RegistryPath() const { return m_dir.Path("config/registry"); }
  std::string FileText() const {
    const Bytes bytes = m_dir.ReadBytes("config/registry");
    return std::string(bytes.begin(), bytes.end());
  }

  static void SetString(const char16_t* subKey, const char16_t* name, std::u16string value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * sizeof(char16_t))),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  }

  // The value, or the error code as text.
  static std::u16string QueryString(const char16_t* subKey, const char16_t* name) {
    HKEY key = nullptr;
    LONG error = RegOpenKeyExW(HKEY_CLASSES_ROOT, subKey, 0, KEY_READ, &key);
    if (error != ERROR_SUCCESS) return u"error " + QuorUtf8ToUtf16(std::to_string(error));
    char16_t buffer[256];
    DWORD bytes = sizeof buffer, type = 0;
    error = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
    (void)RegCloseKey(key);  // a read-only handle: closing cannot lose anything
    if (error != ERROR_SUCCESS) return u"error " + QuorUtf8ToUtf16(std::to_string(error));
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(bytes % 2, 0u);
    return std::u16string(buffer, bytes / 2 - 1);
  }

  CQuorTempDir m_dir;
};

// The system-wide file answers what the user's lacks; the user's file wins and is the one
// written.
TEST_F(QuorRegistryTest, TheSystemFileIsReadAfterTheUsersAndNeverWritten) {
  const std::string system = m_dir.Path("etc/registry");
  ::setenv("QUOR_REGISTRY_FILE", system.c_str(), 1);
  SetString(u"CLSID\\{S}\\InprocServer32", nullptr, u"/usr/lib/s.so.1");
  SetString(u"Both", nullptr, u"system");
  ::setenv("QUOR_REGISTRY_FILE", RegistryPath().c_str(), 1);
  ::setenv("QUOR_SYSTEM_REGISTRY_FILE", system.c_str(), 1);
  SetString(u"Both", nullptr, u"user");
  EXPECT_EQ(QueryString(u"clsid\\{s}\\InprocServer32", nullptr), u"/usr/lib/s.so.1");
  EXPECT_EQ(QueryString(u"Both", nullptr), u"user");
  EXPECT_EQ(QueryString(u"Neither", nullptr), u"error 2");
  EXPECT_EQ(FileText().find("s.so.1"), std::string::npos);
}

TEST_F(QuorRegistryTest, ValuesPersistInAReadableFileAndMatchWithoutCase) {
  SetString(u"CLSID\\{ABC}\\InprocServer32", nullptr, u"/lib/x.so");
  SetString(u"CLSID\\{ABC}\\InprocServer32", u"ThreadingModel", u"Apartment");
  SetString(u"Odd.Name", u"Quote", u"say \"hi\"\\ok\nnext");
  SetString(u"CLSID\\{ABC}\\Programmable", nullptr, u"");

  EXPECT_EQ(QueryString(u"clsid\\{abc}\\inprocserver32", u"threadingmodel"), u"Apartment");
  EXPECT_EQ(QueryString(u"CLSID\\{ABC}\\InprocServer32", u""), u"/lib/x.so");
  EXPECT_EQ(QueryString(u"Odd.Name", u"Quote"), u"say \"hi\"\\ok\nnext");
  EXPECT_EQ(QueryString(u"CLSID\\{ABC}\\Programmable", nullptr), u"");

  const std::string text = FileText();
  EXPECT_NE(text.find("[HKEY_CLASSES_ROOT\\CLSID\\{ABC}\\InprocServer32]\n"
                      "@=\"/lib/x.so\"\n"
                      "\"ThreadingModel\"=\"Apartment\"\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\"Quote\"=\"say \\\"hi\\\"\\\\ok\\nnext\""), std::string::npos) << text;
  // The atomic replacement leaves no temporary file behind.
  EXPECT_FALSE(m_dir.Exists("config/registry.tmp." + std::to_string(::getpid())));

  CQuorRegistryFile::CKey reparsed;
  ASSERT_EQ(CQuorRegistryFile::Parse(text, &reparsed), ERROR_SUCCESS);
  EXPECT_EQ(CQuorRegistryFile::Format(reparsed), text);
}

TEST_F(QuorRegistryTest, MissingKeysValuesAndShortBuffersGiveTheirCodes) {
  EXPECT_EQ(QueryString(u"Nowhere", nullptr), u"error 2");  // no file yet: an empty registry
  EXPECT_FALSE(m_dir.Exists("config/registry"));
  SetString(u"Key", u"Name", u"value");
  EXPECT_EQ(QueryString(u"Key", u"Other"), u"error 2");
  EXPECT_EQ(QueryString(u"Key\\Sub", nullptr), u"error 2");

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u"Key", 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD bytes = 4;
  char16_t small[2];
  EXPECT_EQ(
      RegQueryValueExW(key, u"Name", nullptr, nullptr, reinterpret_cast<BYTE*>(small), &bytes),
      static_cast<LONG>(ERROR_MORE_DATA));
  EXPECT_EQ(bytes, 12u);
  bytes = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"Name", nullptr, nullptr, nullptr, &bytes), ERROR_SUCCESS);
  EXPECT_EQ(bytes, 12u);
  EXPECT_EQ(RegSetValueExW(key, u"N", 0, 4 /* REG_DWORD */, nullptr, 0),
            static_cast<LONG>(ERROR_INVALID_PARAMETER));

  ASSERT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, u"KEY"), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(key, u"Name", nullptr, nullptr, nullptr, &bytes),
            static_cast<LONG>(ERROR_KEY_DELETED));
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, u"Key"), static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, u"A\\\\B", 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                            nullptr),
            static_cast<LONG>(ERROR_INVALID_PARAMETER));
}

}  // namespace
