// CQuorRegistryFile: the class registry (the tree under HKEY_CLASSES_ROOT) kept in one
// human-readable file, with the key and value syntax of registry export files:
//
//   [HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32]
//   @="/usr/lib/libquormediafiles.so.1"
//   "ThreadingModel"="Apartment"
//
// Every key is one section, its default value is @, and string values escape \ and " with a
// backslash (a line feed is written \n). Key and value names match without regard to ASCII case
// and keep the case they were created with.
//
// The file is $QUOR_REGISTRY_FILE when that variable is set (tests point it at a temporary
// file), else $XDG_CONFIG_HOME/quormediafiles/registry, else ~/.config/quormediafiles/registry.
// A system-wide file, $QUOR_SYSTEM_REGISTRY_FILE or else /etc/quormediafiles/registry, is read
// after the user's: a key or value the user's file lacks is looked up there. Changes go to the
// user's file only (a registering program that means the system file names it as the user's).
// Each operation reads the file afresh under an exclusive lock on its directory and a change
// replaces the file atomically (a temporary file renamed over it), so processes and copies of
// this runtime that share the file see each other's changes. A missing file is an empty tree.
//
// Stateless apart from the path; any thread.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "quormediafiles/platform/QuorTypes.h"

// Registry results beyond the file codes.
inline constexpr DWORD ERROR_BADDB = 1009;        // the file does not parse
inline constexpr DWORD ERROR_KEY_DELETED = 1018;  // an open key that was deleted since
inline constexpr DWORD ERROR_MORE_DATA = 234;     // the caller's buffer is too small

class CQuorRegistryFile {
 public:
  // Orders names without regard to ASCII case.
  struct CNameLess {
    bool operator()(std::string_view a, std::string_view b) const noexcept;
    using is_transparent = void;
  };

  struct CKey {
    std::map<std::string, std::string, CNameLess> values;  // "" is the default value
    std::map<std::string, CKey, CNameLess> subkeys;
  };

  explicit CQuorRegistryFile(std::string path) : m_path(std::move(path)) {}

  // The file of the process's registry (see above); empty when no location can be found.
  static std::string DefaultPath();
  // The system-wide file read after it.
  static std::string SystemPath();

  const std::string& Path() const noexcept { return m_path; }

  // Runs read on the current tree. Returns read's code, or the code of reading the file
  // (ERROR_BADDB when it does not parse).
  [[nodiscard]] LONG Read(const std::function<LONG(const CKey& root)>& read) const;
  // Runs change on the current tree and writes the tree back when change returns
  // ERROR_SUCCESS and reports through *pChanged (initially false) that it changed something.
  [[nodiscard]] LONG Update(const std::function<LONG(CKey& root, bool* pChanged)>& change) const;

  // The file's text for a tree, and back.
  static std::string Format(const CKey& root);
  [[nodiscard]] static LONG Parse(std::string_view text, CKey* root);

 private:
  [[nodiscard]] LONG Load(CKey* root) const;
  [[nodiscard]] LONG Store(const CKey& root) const;

  std::string m_path;
};
