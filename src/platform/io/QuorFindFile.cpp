#include "platform/io/QuorFindFile.h"

#include <algorithm>
#include <new>
#include <string_view>

#include "platform/io/QuorFileSystem.h"
#include "platform/io/QuorLastError.h"

bool CQuorFindFile::FindFirst(const std::string& pattern, std::string* fileName,
                              CQuorFileSystem& fileSystem) {
  Close();
  const std::size_t slash = pattern.rfind('/');
  const std::size_t filePart = slash == std::string::npos ? 0 : slash + 1;
  const std::string directory = filePart == 0 ? std::string(".") : pattern.substr(0, filePart);
  const std::string_view file = std::string_view(pattern).substr(filePart);
  const std::size_t star = file.find('*');
  if (star != std::string_view::npos && star != 0) return FailWithWin32(ERROR_INVALID_NAME);
  const bool wildcard = star == 0;
  const std::string_view suffix = wildcard ? file.substr(1) : file;

  try {
    std::vector<std::string> names;
    const int error = fileSystem.ListDirectory(directory.c_str(), &names);
    if (error == ENOENT) return FailWithWin32(ERROR_PATH_NOT_FOUND);
    if (error != 0) return FailWithErrno(error);
    for (std::string& name : names) {
      const bool match = wildcard ? std::string_view(name).ends_with(suffix) : name == suffix;
      if (match) m_matches.push_back(std::move(name));
    }
  } catch (const std::bad_alloc&) {
    Close();
    return FailWithWin32(ERROR_NOT_ENOUGH_MEMORY);
  }
  std::sort(m_matches.begin(), m_matches.end());
  if (m_matches.empty()) return FailWithWin32(ERROR_FILE_NOT_FOUND);
  return FindNext(fileName);
}

bool CQuorFindFile::FindNext(std::string* fileName) {
  if (m_next >= m_matches.size()) return FailWithWin32(ERROR_NO_MORE_FILES);
  *fileName = m_matches[m_next++];
  return true;
}

void CQuorFindFile::Close() noexcept {
  m_matches.clear();
  m_next = 0;
}
