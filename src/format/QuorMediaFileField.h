// One tagged field: tag (u32), length (u32), value bytes. The field either owns a copy of its
// value or borrows bytes that belong to someone else (a block's read buffer, or the caller's
// memory, which must outlive the field's use). Values of up to kInlineCapacity bytes are owned in
// the field itself, so the small fields that blocks set by copy never touch the heap.
// No lock: one block or one caller uses a field at a time.
#pragma once

#include <memory>

#include "format/QuorPersistFileStorage.h"

class CQuorMD5Hash;

class CQuorMediaFileField : public CQuorPersistFileStorage {
 public:
  static constexpr DWORD kInlineCapacity = 16;

  CQuorMediaFileField() noexcept = default;
  ~CQuorMediaFileField() override = default;

  // Writes tag, length and value; not loaded: MFS_E_WRONG_STATE. The first failing write's code
  // is returned and nothing more is written.
  [[nodiscard]] HRESULT Write(CQuorByteSink* writer) override;
  // Reads tag, length and value, checking both against the tag table (MFS_E_BAD_FORMAT); the
  // field then owns the value. A length larger than what is left of the file fails like the read
  // would, before anything is allocated. A failure leaves the field not loaded.
  [[nodiscard]] HRESULT Read(CQuorByteSource* reader) override;

  // Feeds the hash exactly the bytes that Write produces; not loaded: MFS_E_WRONG_STATE.
  [[nodiscard]] HRESULT AddToHash(CQuorMD5Hash& hash) const;

  // Replaces the field. Null value, length 0, invalid tag or a length the tag does not accept:
  // E_INVALIDARG and the field is unchanged. copy false borrows value; copy true copies it.
  [[nodiscard]] HRESULT Set(DWORD tag, DWORD length, const BYTE* value, bool copy);

  // Empties the field (not loaded, tag and length 0), freeing an owned value.
  void Clear() noexcept;

  DWORD GetTag() const noexcept { return m_tag; }
  DWORD GetLength() const noexcept { return m_length; }
  const BYTE* GetValue() const noexcept { return m_value; }
  bool IsLoaded() const noexcept { return m_loaded; }
  bool OwnsValue() const noexcept { return m_ownsValue; }

 private:
  // Makes room for an owned value of length bytes; null when out of memory.
  BYTE* AllocateValue(DWORD length) noexcept;
  void FreeValue() noexcept;

  DWORD m_tag = 0;
  DWORD m_length = 0;
  const BYTE* m_value = nullptr;
  bool m_loaded = false;
  bool m_ownsValue = false;
  std::unique_ptr<BYTE[]> m_heapValue;  // an owned value longer than kInlineCapacity
  BYTE m_inlineValue[kInlineCapacity] = {};
};
