#include "format/QuorMemoryBytes.h"

#include <algorithm>
#include <cstring>
#include <new>

HRESULT CQuorMemorySource::Read(BYTE* buffer, DWORD count) {
  if (buffer == nullptr) return E_POINTER;
  const ULONGLONG available = m_bytes.size() - std::min<ULONGLONG>(m_position, m_bytes.size());
  if (count > available) {
    m_position = m_bytes.size();
    return HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
  }
  if (count != 0) std::memcpy(buffer, m_bytes.data() + m_position, count);
  m_position += count;
  return S_OK;
}

HRESULT CQuorMemorySource::Seek(ULONGLONG offset) {
  m_position = offset;
  return S_OK;
}

HRESULT CQuorMemorySource::GetPosition(ULONGLONG* position) {
  if (position == nullptr) return E_POINTER;
  *position = m_position;
  return S_OK;
}

HRESULT CQuorMemorySource::GetRemaining(ULONGLONG* remaining) {
  if (remaining == nullptr) return E_POINTER;
  *remaining = m_bytes.size() - std::min<ULONGLONG>(m_position, m_bytes.size());
  return S_OK;
}

HRESULT CQuorMemorySink::Write(const BYTE* buffer, DWORD count) {
  if (buffer == nullptr) return E_POINTER;
  try {
    m_bytes.insert(m_bytes.end(), buffer, buffer + count);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}
