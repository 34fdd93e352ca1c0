#include "platform/registry/QuorRegistryFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/io/QuorLastError.h"

namespace {

constexpr std::string_view kRootName = "HKEY_CLASSES_ROOT";
constexpr std::string_view kFileHeader =
    "; Class registry (HKEY_CLASSES_ROOT). One section per key; @ is the key's "
    "default value.\n";

char Fold(char c) noexcept { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Holds a lock on the registry's directory for the length of one operation.
class CDirectoryLock {
 public:
  CDirectoryLock(const std::filesystem::path& dir, int operation) noexcept {
    m_fd = RetryOnEintr([&] { return ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (m_fd >= 0 && RetryOnEintr([&] { return ::flock(m_fd, operation); }) != 0) {
      m_error = errno;
      ::close(m_fd);
      m_fd = -1;
    } else if (m_fd < 0) {
      m_error = errno;
    }
  }
  CDirectoryLock(const CDirectoryLock&) = delete;
  CDirectoryLock& operator=(const CDirectoryLock&) = delete;
  ~CDirectoryLock() {
    if (m_fd >= 0) ::close(m_fd);  // closing releases the lock
  }
  bool Held() const noexcept { return m_fd >= 0; }
  int Error() const noexcept { return m_error; }

 private:
  int m_fd = -1;
  int m_error = 0;
};

std::filesystem::path DirectoryOf(const std::string& path) {
  std::filesystem::path dir = std::filesystem::path(path).parent_path();
  return dir.empty() ? std::filesystem::path(".") : dir;
}

void AppendQuoted(std::string* out, std::string_view text) {
  out->push_back('"');
  for (char c : text) {
    if (c == '\\' || c == '"') {
      out->push_back('\\');
      out->push_back(c);
    } else if (c == '\n') {
      out->append("\\n");
    } else {
      out->push_back(c);
    }
  }
  out->push_back('"');
}

void FormatKey(const CQuorRegistryFile::CKey& key, const std::string& path, std::string* out) {
  if (!path.empty()) {
    out->append("\n[").append(kRootName).append("\\").append(path).append("]\n");
    for (const auto& [name, value] : key.values) {
      if (name.empty()) {
        out->push_back('@');
      } else {
        AppendQuoted(out, name);
      }
      out->push_back('=');
      AppendQuoted(out, value);
      out->push_back('\n');
    }
  }
  for (const auto& [name, subkey] : key.subkeys) {
    std::string subkeyPath = path;
    if (!subkeyPath.empty()) subkeyPath += '\\';
    subkeyPath += name;
    FormatKey(subkey, subkeyPath, out);
  }
}

// Reads a quoted string at the start of *rest and advances past it.
bool ReadQuoted(std::string_view* rest, std::string* text) {
  if (rest->empty() || rest->front() != '"') return false;
  text->clear();
  for (std::size_t i = 1; i < rest->size(); ++i) {
    const char c = (*rest)[i];
    if (c == '"') {
      rest->remove_prefix(i + 1);
      return true;
    }
    if (c == '\\') {
      if (++i == rest->size()) return false;
      const char escaped = (*rest)[i];
      if (escaped == 'n') {
        text->push_back('\n');
      } else if (escaped == '\\' || escaped == '"') {
        text->push_back(escaped);
      } else {
        return false;
      }
    } else {
      text->push_back(c);
    }
  }
  return false;
}

}  // namespace

bool CQuorRegistryFile::CNameLess::operator()(std::string_view a,
                                              std::string_view b) const noexcept {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const char fa = Fold(a[i]);
    const char fb = Fold(b[i]);
    if (fa != fb) return static_cast<unsigned char>(fa) < static_cast<unsigned char>(fb);
  }
  return a.size() < b.size();
}

std::string CQuorRegistryFile::DefaultPath() {
  if (const char* file = std::getenv("QUOR_REGISTRY_FILE"); file && *file) return file;
  std::filesystem::path config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
    config = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    config = std::filesystem::path(home) / ".config";
  } else {
    return {};
  }
  return (config / "quormediafiles" / "registry").string();
}

std::string CQuorRegistryFile::SystemPath() {
  if (const char* file = std::getenv("QUOR_SYSTEM_REGISTRY_FILE"); file && *file) return file;
  return "/etc/quormediafiles/registry";
}

std::string CQuorRegistryFile::Format(const CKey& root) {
  std::string text(kFileHeader);
  FormatKey(root, {}, &text);
  return text;
}

LONG CQuorRegistryFile::Parse(std::string_view text, CKey* root) {
  *root = CKey{};
  CKey* current = nullptr;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == ';') continue;

    if (line.front() == '[') {
      if (line.back() != ']') return ERROR_BADDB;
      std::string_view path = line.substr(1, line.size() - 2);
      if (!path.starts_with(kRootName)) return ERROR_BADDB;
      path.remove_prefix(kRootName.size());
      current = root;
      while (!path.empty()) {
        if (path.front() != '\\') return ERROR_BADDB;
        path.remove_prefix(1);
        const std::string_view name = path.substr(0, path.find('\\'));
        if (name.empty()) return ERROR_BADDB;
        path.remove_prefix(name.size());
        current = &current->subkeys[std::string(name)];
      }
      if (current == root) return ERROR_BADDB;
      continue;
    }

    if (!current) return ERROR_BADDB;
    std::string name;
    if (line.front() == '@') {
      line.remove_prefix(1);
    } else if (!ReadQuoted(&line, &name) || name.empty()) {
      return ERROR_BADDB;
    }
    std::string value;
    if (line.empty() || line.front() != '=') return ERROR_BADDB;
    line.remove_prefix(1);
    if (!ReadQuoted(&line, &value) || !line.empty()) return ERROR_BADDB;
    current->values[std::move(name)] = std::move(value);
  }
  return ERROR_SUCCESS;
}

LONG CQuorRegistryFile::Load(CKey* root) const {
  *root = CKey{};
  std::error_code ec;
  if (!std::filesystem::exists(m_path, ec))
    return ec ? static_cast<LONG>(ERROR_ACCESS_DENIED) : ERROR_SUCCESS;
  std::ifstream in(m_path, std::ios::binary);
  if (!in) return static_cast<LONG>(ERROR_ACCESS_DENIED);
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return static_cast<LONG>(ERROR_READ_FAULT);
  return Parse(text.str(), root);
}

LONG CQuorRegistryFile::Store(const CKey& root) const {
  const std::string text = Format(root);
  const std::string temp = m_path + ".tmp." + std::to_string(::getpid());
  const int fd = RetryOnEintr(
      [&] { return ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644); });
  if (fd < 0) return static_cast<LONG>(Win32ErrorFromErrno(errno));
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n =
        RetryOnEintr([&] { return ::write(fd, text.data() + written, text.size() - written); });
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      ::unlink(temp.c_str());
      return static_cast<LONG>(Win32ErrorFromErrno(error));
    }
    written += static_cast<std::size_t>(n);
  }
  // Readers see the old file or the new one, never a part of either. There is no fsync: the
  // registry is rewritten once per registry call and a registration makes dozens of them.
  if (::close(fd) != 0 || ::rename(temp.c_str(), m_path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    return static_cast<LONG>(Win32ErrorFromErrno(error));
  }
  return ERROR_SUCCESS;
}

LONG CQuorRegistryFile::Read(const std::function<LONG(const CKey& root)>& read) const {
  if (m_path.empty()) return static_cast<LONG>(ERROR_PATH_NOT_FOUND);
  const std::filesystem::path dir = DirectoryOf(m_path);
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec)) return read(CKey{});
  const CDirectoryLock lock(dir, LOCK_SH);
  if (!lock.Held()) return static_cast<LONG>(Win32ErrorFromErrno(lock.Error()));
  CKey root;
  const LONG error = Load(&root);
  if (error != ERROR_SUCCESS) return error;
  return read(root);
}

LONG CQuorRegistryFile::Update(
    const std::function<LONG(CKey& root, bool* pChanged)>& change) const {
  if (m_path.empty()) return static_cast<LONG>(ERROR_PATH_NOT_FOUND);
  const std::filesystem::path dir = DirectoryOf(m_path);
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) return static_cast<LONG>(Win32ErrorFromErrno(ec.value()));
  const CDirectoryLock lock(dir, LOCK_EX);
  if (!lock.Held()) return static_cast<LONG>(Win32ErrorFromErrno(lock.Error()));
  CKey root;
  LONG error = Load(&root);
  if (error != ERROR_SUCCESS) return error;
  bool changed = false;
  error = change(root, &changed);
  if (error != ERROR_SUCCESS || !changed) return error;
  return Store(root);
}
