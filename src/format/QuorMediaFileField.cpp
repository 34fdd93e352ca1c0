#include "format/QuorMediaFileField.h"

#include <cstring>
#include <new>

#include "core/QuorLittleEndian.h"
#include "core/QuorMD5Hash.h"
#include "format/QuorFormatLayout.h"
#include "quormediafiles/QuorResultCodes.h"

namespace {

void EncodeFieldHeader(BYTE (&header)[kFieldHeaderSize], DWORD tag, DWORD length) noexcept {
  EncodeU32(header, tag);
  EncodeU32(header + 4, length);
}

}  // namespace

HRESULT CQuorMediaFileField::Write(CQuorByteSink* writer) {
  if (writer == nullptr) return E_POINTER;
  if (!m_loaded) return MFS_E_WRONG_STATE;
  BYTE header[kFieldHeaderSize];
  EncodeFieldHeader(header, m_tag, m_length);
  HRESULT hr = writer->Write(header, kFieldHeaderSize);
  if (FAILED(hr) || m_length == 0) return hr;
  return writer->Write(m_value, m_length);
}

HRESULT CQuorMediaFileField::Read(CQuorByteSource* reader) {
  if (reader == nullptr) return E_POINTER;
  m_loaded = false;
  BYTE word[4];
  HRESULT hr = reader->Read(word, sizeof word);
  if (FAILED(hr)) return hr;
  const DWORD tag = DecodeU32(word);
  if (!IsValidTag(tag)) return MFS_E_BAD_FORMAT;
  m_tag = tag;
  hr = reader->Read(word, sizeof word);
  if (FAILED(hr)) return hr;
  const DWORD length = DecodeU32(word);
  if (!IsAcceptedLength(tag, length)) return MFS_E_BAD_FORMAT;
  m_length = length;
  if (length > kInlineCapacity) {
    // The length word is not trusted with memory: a value that cannot be in the file fails
    // as its read would, before the allocation.
    ULONGLONG remaining = 0;
    hr = reader->GetRemaining(&remaining);
    if (FAILED(hr)) return hr;
    if (length > remaining) {
      FreeValue();
      return HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
    }
  }
  FreeValue();
  BYTE* buffer = AllocateValue(length);
  if (buffer == nullptr) return E_OUTOFMEMORY;
  m_value = buffer;
  m_ownsValue = true;
  if (length != 0) {
    hr = reader->Read(buffer, length);
    if (FAILED(hr)) return hr;
  }
  m_loaded = true;
  return S_OK;
}

HRESULT CQuorMediaFileField::AddToHash(CQuorMD5Hash& hash) const {
  if (!m_loaded) return MFS_E_WRONG_STATE;
  BYTE header[kFieldHeaderSize];
  EncodeFieldHeader(header, m_tag, m_length);
  HRESULT hr = hash.AddData(header, kFieldHeaderSize);
  if (FAILED(hr) || m_length == 0) return hr;
  return hash.AddData(m_value, m_length);
}

HRESULT CQuorMediaFileField::Set(DWORD tag, DWORD length, const BYTE* value, bool copy) {
  if (value == nullptr || length == 0 || !IsAcceptedLength(tag, length)) return E_INVALIDARG;
  // The caller's bytes may be this field's own value (a field set from itself); copy them
  // before the old value goes.
  BYTE saved[kInlineCapacity];
  if (copy && value == m_inlineValue) {
    std::memcpy(saved, value, length);
    value = saved;
  }
  std::unique_ptr<BYTE[]> keepAlive;
  if (copy && m_heapValue && value == m_heapValue.get()) keepAlive = std::move(m_heapValue);
  m_tag = tag;
  m_length = length;
  FreeValue();
  m_loaded = false;
  if (!copy) {
    m_value = value;
    m_loaded = true;
    return S_OK;
  }
  BYTE* buffer = AllocateValue(length);
  if (buffer == nullptr) return E_OUTOFMEMORY;
  std::memcpy(buffer, value, length);
  m_value = buffer;
  m_ownsValue = true;
  m_loaded = true;
  return S_OK;
}

void CQuorMediaFileField::Clear() noexcept {
  FreeValue();
  m_tag = 0;
  m_length = 0;
  m_loaded = false;
}

BYTE* CQuorMediaFileField::AllocateValue(DWORD length) noexcept {
  if (length <= kInlineCapacity) return m_inlineValue;
  m_heapValue.reset(new (std::nothrow) BYTE[length]);
  return m_heapValue.get();
}

void CQuorMediaFileField::FreeValue() noexcept {
  m_heapValue.reset();
  m_value = nullptr;
  m_ownsValue = false;
}
