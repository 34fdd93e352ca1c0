#include "QuorTempDir.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fs = std::filesystem;

CQuorTempDir::CQuorTempDir() {
  std::string pattern = (fs::temp_directory_path() / "quor_test_XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  m_root = pattern;
}

CQuorTempDir::~CQuorTempDir() {
  std::error_code error;
  fs::remove_all(m_root, error);
  if (error) ADD_FAILURE() << "could not remove " << m_root << ": " << error.message();
}

std::string CQuorTempDir::Path(const std::string& name) const { return m_root + "/" + name; }

std::u16string CQuorTempDir::WidePath(const std::string& name) const {
  const std::string path = Path(name);
  return std::u16string(path.begin(), path.end());
}

void CQuorTempDir::WriteBytes(const std::string& name, const Bytes& bytes) const {
  std::ofstream out(Path(name), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + Path(name));
}

Bytes CQuorTempDir::ReadBytes(const std::string& name) const {
  std::ifstream in(Path(name), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + Path(name));
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void CQuorTempDir::FlipByte(const std::string& name, std::size_t offset) const {
  Bytes bytes = ReadBytes(name);
  bytes.at(offset) ^= 1;
  WriteBytes(name, bytes);
}

void CQuorTempDir::TruncateBy(const std::string& name, std::size_t count) const {
  fs::resize_file(Path(name), FileSize(name) - count);
}

std::uint64_t CQuorTempDir::FileSize(const std::string& name) const {
  return fs::file_size(Path(name));
}

bool CQuorTempDir::Exists(const std::string& name) const { return fs::exists(Path(name)); }

void CQuorTempDir::MakeDirectory(const std::string& name) const {
  fs::create_directory(Path(name));
}

void CQuorTempDir::Remove(const std::string& name) const {
  std::error_code error;
  fs::remove(Path(name), error);
}

Bytes PatternBytes(std::size_t count, std::size_t seed) {
  Bytes bytes(count);
  for (std::size_t i = 0; i < count; ++i) {
    bytes[i] = static_cast<std::uint8_t>((i + seed) * 131 + ((i + seed) >> 8));
  }
  return bytes;
}
