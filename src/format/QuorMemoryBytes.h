// A byte source over memory that the caller owns and keeps unchanged while it is read, and a
// byte sink that gathers what is written in a buffer of its own: blocks read and written
// without a file, for tests and fuzzing. One thread at a time.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "format/QuorByteSource.h"

class CQuorMemorySource final : public CQuorByteSource {
 public:
  explicit CQuorMemorySource(std::span<const BYTE> bytes) noexcept : m_bytes(bytes) {}

  [[nodiscard]] HRESULT Read(BYTE* buffer, DWORD count) override;
  [[nodiscard]] HRESULT Seek(ULONGLONG offset) override;
  [[nodiscard]] HRESULT GetPosition(ULONGLONG* position) override;
  [[nodiscard]] HRESULT GetRemaining(ULONGLONG* remaining) override;

 private:
  std::span<const BYTE> m_bytes;
  ULONGLONG m_position = 0;
};

class CQuorMemorySink final : public CQuorByteSink {
 public:
  // E_OUTOFMEMORY when the buffer cannot grow (nothing is added then).
  [[nodiscard]] HRESULT Write(const BYTE* buffer, DWORD count) override;

  const std::vector<BYTE>& GetBytes() const noexcept { return m_bytes; }

 private:
  std::vector<BYTE> m_bytes;
};
