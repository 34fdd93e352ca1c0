// A fresh directory made with mkdtemp for one test, removed with everything in it when the
// object ends, and verbs that prepare or damage the files in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

class CQuorTempDir {
 public:
  CQuorTempDir();
  ~CQuorTempDir();
  CQuorTempDir(const CQuorTempDir&) = delete;
  CQuorTempDir& operator=(const CQuorTempDir&) = delete;

  const std::string& Root() const { return m_root; }
  // The full UTF-8 path of a name inside the directory ("" gives the directory with a '/').
  std::string Path(const std::string& name) const;
  // The same path as UTF-16, as the storage takes it (test names are ASCII).
  std::u16string WidePath(const std::string& name) const;

  void WriteBytes(const std::string& name, const Bytes& bytes) const;
  Bytes ReadBytes(const std::string& name) const;
  void FlipByte(const std::string& name, std::size_t offset) const;   // bit 0 of that byte
  void TruncateBy(const std::string& name, std::size_t count) const;  // cuts the last bytes
  std::uint64_t FileSize(const std::string& name) const;
  bool Exists(const std::string& name) const;
  void MakeDirectory(const std::string& name) const;
  void Remove(const std::string& name) const;  // a missing file is fine

 private:
  std::string m_root;
};

// Bytes 0, 1, 2, ... of the given length, each a function of its offset, so that misplaced
// bytes show.
Bytes PatternBytes(std::size_t count, std::size_t seed = 0);
