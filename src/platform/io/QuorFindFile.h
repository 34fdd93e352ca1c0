// A directory search, FindFirstFile / FindNextFile / FindClose style, for patterns of the form
// directory + "*" + suffix (or directory + an exact name). The directory part ends at the last
// '/' and is empty for the current directory. A name matches when it ends with the suffix,
// byte for byte (so letter case counts); directories match like files, "." and ".." never.
// Matches come in ascending byte order of their UTF-8 names. The search lists the directory once,
// in FindFirst. Names are UTF-8, without the directory part. Failures return false and set the
// thread's last error. Move-only; one thread at a time.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/io/QuorFileSystem.h"
#include "quormediafiles/platform/QuorTypes.h"

class CQuorFindFile {
 public:
  CQuorFindFile() noexcept = default;
  CQuorFindFile(CQuorFindFile&&) noexcept = default;
  CQuorFindFile& operator=(CQuorFindFile&&) noexcept = default;
  CQuorFindFile(const CQuorFindFile&) = delete;
  CQuorFindFile& operator=(const CQuorFindFile&) = delete;

  // The first match; ERROR_FILE_NOT_FOUND when nothing matches, ERROR_PATH_NOT_FOUND (or the
  // directory's own error) when the directory cannot be listed, ERROR_INVALID_NAME for a '*'
  // that does not start the file part. The directory is listed through fileSystem.
  [[nodiscard]] bool FindFirst(const std::string& pattern, std::string* fileName,
                               CQuorFileSystem& fileSystem = QuorPosixFileSystem());
  // The next match; ERROR_NO_MORE_FILES after the last one.
  [[nodiscard]] bool FindNext(std::string* fileName);
  void Close() noexcept;

 private:
  std::vector<std::string> m_matches;
  std::size_t m_next = 0;
};
