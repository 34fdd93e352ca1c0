#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <set>
#include <string>

#include "core/QuorClassLoggers.h"
#include "objects/QuorMediaFilesExports.h"
#include "objects/QuorMediaFilesModule.h"
#include "platform/automation/QuorTypeLibRegistration.h"
#include "platform/crt/QuorInvalidParameter.h"
#include "platform/registry/QuorRegistry.h"
#include "quormediafiles/QuorMediaFiles.h"
#include "support/QuorTempDir.h"

namespace {

using Entries = std::set<std::string>;

// Every key as "key" and every value as "key|name=value" (@ for the default value).
void Flatten(const CQuorRegistryFile::CKey& key, const std::string& path, Entries* out) {
  if (!path.empty()) out->insert(path);
  for (const auto& [name, value] : key.values) {
    out->insert(path + "|" + (name.empty() ? "@" : name) + "=" + value);
  }
  for (const auto& [name, subkey] : key.subkeys) {
    Flatten(subkey, path.empty() ? name : path + "\\" + name, out);
  }
}

// A key and its values ("@" for the default value) as Flatten lists them.
void Key(Entries* e, const std::string& key,
         std::initializer_list<std::pair<std::string, std::string>> values = {}) {
  e->insert(key);
  for (const auto& [name, value] : values) e->insert(key + "|" + name + "=" + value);
}

// The entries that one coclass registers, written out by hand.
void AddCoclass(Entries* e, const std::string& name, const std::string& clsid,
                const std::string& server) {
  const std::string independent = "QuorMediaFiles." + name, versioned = independent + ".1";
  const std::string key = "CLSID\\" + clsid;
  Key(e, versioned, {{"@", name + " Class"}});
  Key(e, versioned + "\\CLSID", {{"@", clsid}});
  Key(e, independent, {{"@", name + " Class"}});
  Key(e, independent + "\\CLSID", {{"@", clsid}});
  Key(e, independent + "\\CurVer", {{"@", versioned}});
  Key(e, key, {{"@", name + " Class"}, {"AppID", "{0A1FD3C2-E778-4858-8030-AE5329D5CE14}"}});
  Key(e, key + "\\ProgID", {{"@", versioned}});
  Key(e, key + "\\VersionIndependentProgID", {{"@", independent}});
  Key(e, key + "\\Programmable");
  Key(e, key + "\\InprocServer32", {{"@", server}, {"ThreadingModel", "Apartment"}});
  Key(e, key + "\\TypeLib", {{"@", "{279ADA38-26C6-4DDE-8F02-375F56121344}"}});
}

class QuorMediaFilesModuleTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("QUOR_REGISTRY_FILE", m_dir.Path("registry").c_str(), 1); }
  void TearDown() override { ::unsetenv("QUOR_REGISTRY_FILE"); }

  std::string FileText() const {
    if (!m_dir.Exists("registry")) return {};
    const Bytes bytes = m_dir.ReadBytes("registry");
    return std::string(bytes.begin(), bytes.end());
  }
  void WriteText(const std::string& text) const {
    m_dir.WriteBytes("registry", Bytes(text.begin(), text.end()));
  }
  Entries RegistryEntries() const {
    CQuorRegistryFile::CKey root;
    EXPECT_EQ(CQuorRegistryFile::Parse(FileText(), &root), ERROR_SUCCESS);
    Entries entries;
    Flatten(root, {}, &entries);
    return entries;
  }
  static std::string ServerPath() {
    return QuorUtf16ToUtf8(CQuorMediaFilesModule::Instance().ModulePath());
  }

  CQuorTempDir m_dir;
};

TEST_F(QuorMediaFilesModuleTest, RegistrationWritesExactlyTheServerEntries) {
  ASSERT_EQ(DllRegisterServer(), S_OK);

  const std::string server = ServerPath();
  ASSERT_FALSE(server.empty());
  EXPECT_EQ(server.front(), '/');
  const std::string lib = "TypeLib\\{279ADA38-26C6-4DDE-8F02-375F56121344}";
  Entries expected;
  Key(&expected, "AppID");
  Key(&expected, "AppID\\{0A1FD3C2-E778-4858-8030-AE5329D5CE14}", {{"@", "QuorMediaFiles"}});
  Key(&expected, "AppID\\QuorMediaFiles.DLL",
      {{"AppID", "{0A1FD3C2-E778-4858-8030-AE5329D5CE14}"}});
  Key(&expected, "CLSID");
  Key(&expected, "TypeLib");
  Key(&expected, lib);
  Key(&expected, lib + "\\1.0", {{"@", "QuorMediaFiles 1.0 Type Library"}});
  Key(&expected, lib + "\\1.0\\0");
  Key(&expected, lib + "\\1.0\\0\\linux", {{"@", server}});
  Key(&expected, lib + "\\1.0\\FLAGS", {{"@", "0"}});
  Key(&expected, lib + "\\1.0\\HELPDIR", {{"@", server.substr(0, server.rfind('/'))}});
  AddCoclass(&expected, "QuorMediaFileReader", "{6EFDDF73-CE71-45ED-BFE2-78DA03DE73D0}", server);
  AddCoclass(&expected, "QuorMediaFileWriter", "{3435DDB1-3D98-4CAE-AF39-1CBB28F5DA5A}", server);
  AddCoclass(&expected, "QuorFileSetMetadata", "{5796CE59-4977-4842-998E-26A09AFFB629}", server);
  AddCoclass(&expected, "QuorTrackMetadata", "{F2E9FDBC-76D3-4F2A-9ABC-BB3998537F21}", server);
  AddCoclass(&expected, "QuorMediaFileSample", "{0A3183DC-E59B-49B7-9E8E-4DB1FBE35C80}", server);
  AddCoclass(&expected, "QuorMediaFileStatus", "{DD0F0965-0E6A-48EF-AE4E-3CBDFCC7394D}", server);

  const Entries actual = RegistryEntries();
  for (const std::string& e : expected) EXPECT_TRUE(actual.count(e)) << "missing " << e;
  for (const std::string& e : actual) EXPECT_TRUE(expected.count(e)) << "unexpected " << e;

  BSTR path = nullptr;
  ASSERT_EQ(QueryPathOfRegTypeLib(LIBID_QuorMediaFilesLib, 1, 0, 0, &path), S_OK);
  EXPECT_EQ(QuorBstrToUtf8(path), server);
  SysFreeString(path);

  // Registering again changes nothing.
  const std::string once = FileText();
  ASSERT_EQ(DllRegisterServer(), S_OK);
  EXPECT_EQ(FileText(), once);
}

TEST_F(QuorMediaFilesModuleTest, UnregistrationRemovesOnlyTheServerEntries) {
  // Another server's entries under the same shared keys.
  const std::string foreign =
      "[HKEY_CLASSES_ROOT\\AppID]\n[HKEY_CLASSES_ROOT\\AppID\\Other.DLL]\n\"AppID\"=\"{1}\"\n"
      "[HKEY_CLASSES_ROOT\\CLSID]\n[HKEY_CLASSES_ROOT\\CLSID\\{2}\\InprocServer32]\n@=\"/x.so\"\n"
      "[HKEY_CLASSES_ROOT\\Other.Class]\n@=\"Other\"\n"
      "[HKEY_CLASSES_ROOT\\TypeLib\\{279ADA38-26C6-4DDE-8F02-375F56121344}\\2.0]\n@=\"later\"\n";
  WriteText(foreign);
  const Entries before = RegistryEntries();

  ASSERT_EQ(DllRegisterServer(), S_OK);
  EXPECT_GT(RegistryEntries().size(), before.size() + 6 * 20);
  ASSERT_EQ(DllUnregisterServer(), S_OK);
  EXPECT_EQ(RegistryEntries(), before);
  // Unregistering what is not registered is no error and changes nothing.
  ASSERT_EQ(DllUnregisterServer(), S_OK);
  EXPECT_EQ(RegistryEntries(), before);
}

TEST_F(QuorMediaFilesModuleTest, RegistrationFailuresComeBackAsRegistryCodes) {
  const std::string damaged = "[HKEY_CLASSES_ROOT\\AppID]\nnot a value\n";
  WriteText(damaged);
  EXPECT_EQ(DllRegisterServer(), HRESULT_FROM_WIN32(ERROR_BADDB));
  EXPECT_EQ(DllUnregisterServer(), HRESULT_FROM_WIN32(ERROR_BADDB));
  EXPECT_EQ(FileText(), damaged);

  // A registry whose directory cannot be made.
  m_dir.WriteBytes("plainfile", Bytes{1});
  ::setenv("QUOR_REGISTRY_FILE", m_dir.Path("plainfile/registry").c_str(), 1);
  const HRESULT hr = DllRegisterServer();
  EXPECT_TRUE(FAILED(hr));
  EXPECT_EQ(hr & 0xFFFF0000, static_cast<HRESULT>(0x80070000u));
}

// The versioned name in the module's real directory, so that an upgrade keeps the registration.
TEST_F(QuorMediaFilesModuleTest, RegistrationPathIsTheVersionedNameInTheRealDirectory) {
  namespace fs = std::filesystem;
  m_dir.MakeDirectory("lib");
  m_dir.WriteBytes("lib/libx.so.1.0.0", Bytes{1});
  fs::create_symlink("libx.so.1.0.0", m_dir.Path("lib/libx.so.1"));
  fs::create_directory_symlink(m_dir.Path("lib"), m_dir.Path("linked"));
  m_dir.MakeDirectory("\xff");
  const std::string real = fs::canonical(m_dir.Path("lib")).string();
  // The module's file as loaded, its soname, the result, the path registered.
  const std::tuple<const char*, const char*, HRESULT, std::string> kCases[] = {
      {"lib/libx.so.1.0.0", "libx.so.1", S_OK, real + "/libx.so.1"},
      {"linked/libx.so.1", "libx.so.1", S_OK, real + "/libx.so.1"},
      {"lib/libx.so.1.0.0", "liby.so.1", S_OK, real + "/libx.so.1.0.0"},
      {"\xff/libx.so.1", "libx.so.1", HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION), ""},
  };
  for (const auto& [loaded, soname, hr, expected] : kCases) {
    SCOPED_TRACE(loaded);
    std::u16string path;
    EXPECT_EQ(CQuorMediaFilesModule::RegistrationPath(m_dir.Path(loaded), soname, &path), hr);
    EXPECT_EQ(QuorUtf16ToUtf8(path), expected);
  }
}

TEST_F(QuorMediaFilesModuleTest, LoadingInstallsTheInvalidParameterHandler) {
  EXPECT_EQ(_get_invalid_parameter_handler(), &QuorInvalidParameterHandler);
  // The handler returns, so the reporting call returns instead of ending the process.
  _invalid_parameter(L"expression", L"function", L"file", 1, 0);
}

}  // namespace
