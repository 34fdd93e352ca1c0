// CQuorMediaFileBlock: the base of the five block kinds. A block is type (u32) | size S (u32) |
// S bytes of fields: the block's own fields in list order, then its block index, block size and
// block hash fields. The block hash is the salted MD5 of every byte of the block but the 16 hash
// bytes at its very end.
//
// Owns its own fields, the three base fields, the read buffer of the last Read (from which the
// fields of a read block borrow their values, so values handed out by GetField live until the
// next Read, ClearFields or destruction) and a hash object reused by every Read and Write.
// ClearFields keeps the emptied field objects as spares that the next fields reuse, so reading
// again a block of the same shape allocates nothing.
// A field set without copy borrows the caller's bytes, which must outlive the next Write.
// No lock: one thread at a time uses a block.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "format/QuorFormatLayout.h"
#include "format/QuorMediaFileField.h"

class CQuorMD5Hash;
class DXL_FunctionLogger;

class CQuorMediaFileBlock : public CQuorPersistFileStorage {
 public:
  explicit CQuorMediaFileBlock(DWORD blockType) noexcept;
  ~CQuorMediaFileBlock() override;

  // PrepareForWrite, ComputeSize, ComputeHash, then the header, the own fields and the base
  // fields (only the own fields when payload-only). The first failure is returned at once. A
  // block that fits the image buffer, or 4 KiB, is laid out in memory once, hashed from there
  // and handed to the writer in one call; a larger one in pieces, long values as they are.
  [[nodiscard]] HRESULT Write(CQuorByteSink* writer) override;
  // Lays the block out in its image buffer as Write does, without hashing or writing it, for a
  // caller that hashes several blocks at once: the first *length bytes of the buffer are what
  // the block hash covers. MFS_E_WRONG_STATE when the block does not fit the image buffer.
  [[nodiscard]] HRESULT LayOutImage(DWORD* length);
  // The digest of the image that LayOutImage laid out, *length bytes for blockIndex, for the
  // next Write to take instead of hashing again. That Write takes it only when it lays out as
  // many bytes in the same image buffer for the same block index; every Write forgets it, and
  // a null digest forgets it at once.
  void SetKnownDigest(const BYTE* digest, DWORD blockIndex, DWORD length) noexcept;
  // Memory in which Write may lay the block out (borrowed until the next call; null for none).
  // A value that already sits where the layout puts it is not copied.
  void SetImageBuffer(BYTE* bytes, std::size_t capacity) noexcept {
    m_image = bytes;
    m_imageCapacity = bytes ? capacity : 0;
  }
  // Three reads (type, size, field area), one hash over the field area. Framing faults give
  // E_FAIL; reader failures pass through. A hash mismatch is not a failure: IsHashValid() tells.
  [[nodiscard]] HRESULT Read(CQuorByteSource* reader) override;
  // Read of a block already in memory: bytes holds its type, size word S and S bytes of fields,
  // digest the salted MD5 of all but its last 16 bytes, computed by the caller (several blocks
  // at a time) or null to judge the hash later with CheckDigest. The same results as Read of
  // those bytes; the fields borrow bytes, which must stay until the next Read, ReadFrom or
  // ClearFields.
  [[nodiscard]] HRESULT ReadFrom(const BYTE* bytes, const BYTE* digest);
  // Judges the block hash of the last read against digest (null: not valid).
  void CheckDigest(const BYTE* digest) noexcept;

  // Called by Read for every parsed field but the base fields. The base version keeps the field
  // (borrowing the value) or, when the tag table refuses it, drops it with message 10247.
  [[nodiscard]] virtual HRESULT BlockFieldWasRead(DWORD tag, DWORD length, const BYTE* value);
  // The first step of Write; the base version returns VerifyBlockFields().
  [[nodiscard]] virtual HRESULT PrepareForWrite();
  // Drops the own fields; the cursor goes to the end.
  virtual void ClearFields();
  // Checks the block type and the field list of the kind.
  [[nodiscard]] virtual HRESULT VerifyBlockFields() = 0;

  // Finds a field: next false searches from the first own field, next true from one past the
  // cursor; the cursor then rests on the field found (or at the end). Tags 1 to 3 name the base
  // fields and leave the cursor alone. The value is not copied.
  [[nodiscard]] HRESULT GetField(DWORD tag, DWORD* length, const BYTE** value, bool next);
  // Replaces the field the same search finds, or appends a new one and puts the cursor on it.
  // Tag 2 is refused: only ComputeSize sets the size field.
  [[nodiscard]] HRESULT SetField(DWORD tag, DWORD length, const BYTE* value, bool copy, bool next);

  [[nodiscard]] HRESULT GetBlockIndex(DWORD* blockIndex) const;
  [[nodiscard]] HRESULT SetBlockIndex(DWORD blockIndex);
  // The 16 hash bytes of the last Write or Read; they stay the block's.
  [[nodiscard]] HRESULT GetBlockHash(const BYTE** hash, DWORD* length);
  // Tag of the n-th own field (0-based), 0 past the end.
  DWORD GetFieldTagAt(DWORD n) const noexcept;
  DWORD GetFieldCount() const noexcept { return static_cast<DWORD>(m_fields.size()); }

  // S := the own fields' sizes + 48; sets the block size field.
  [[nodiscard]] HRESULT ComputeSize();
  // Hashes the block as it will be written and sets the block hash field.
  [[nodiscard]] HRESULT ComputeHash();

  DWORD GetBlockType() const noexcept { return m_blockType; }
  DWORD GetBlockSize() const noexcept { return m_blockSize; }
  // Whether the stored hash of the last Read matched the bytes read.
  bool IsHashValid() const noexcept { return m_hashValid; }
  // Payload-only blocks are hashed whole but only their own fields reach the file.
  void SetPayloadOnly(bool payloadOnly) noexcept { m_payloadOnly = payloadOnly; }
  bool IsPayloadOnly() const noexcept { return m_payloadOnly; }

 protected:
  // Typed access to single-valued own fields (next = false; setters copy).
  [[nodiscard]] HRESULT GetU32(DWORD tag, DWORD* value);
  [[nodiscard]] HRESULT SetU32(DWORD tag, DWORD value);
  [[nodiscard]] HRESULT GetU64(DWORD tag, ULONGLONG* value);
  [[nodiscard]] HRESULT SetU64(DWORD tag, ULONGLONG value);
  [[nodiscard]] HRESULT GetGuid(DWORD tag, GUID* value, bool next = false);
  [[nodiscard]] HRESULT SetGuid(DWORD tag, const GUID& value, bool next = false);
  // A new BSTR of the stored code units up to the first NUL, never past the field's length.
  [[nodiscard]] HRESULT GetString(DWORD tag, BSTR* value);
  // Stores the code units of a NUL-terminated string and its NUL (byte length + 2).
  [[nodiscard]] HRESULT SetString(DWORD tag, const OLECHAR* value);

  // Logs, at debug level through logger, every own field whose tag is not in onceTags and not
  // repeatableTag (kUnknownField), and every further field of a tag in onceTags
  // (kDuplicatedField). Returns a mask with bit i set when onceTags[i] was seen.
  DWORD ReportFields(DXL_FunctionLogger& logger, std::span<const DWORD> onceTags,
                     DWORD repeatableTag = 0) const;

  // Appends a field that already holds its value; E_OUTOFMEMORY when the list cannot grow.
  [[nodiscard]] HRESULT AppendField(std::unique_ptr<CQuorMediaFileField> field);
  // An empty field object, a spare one when there is one; null when out of memory.
  std::unique_ptr<CQuorMediaFileField> TakeField() noexcept;
  // Empties field and keeps it as a spare; freed when the spares cannot grow.
  void ReturnSpare(std::unique_ptr<CQuorMediaFileField> field) noexcept;

  // Own fields that a kind keeps already encoded (whole fields, headers included) instead of in
  // the field list; they follow the listed own fields on disk and count in the size and hash.
  // Read by ComputeSize, ComputeHash and Write, so they must stay put from PrepareForWrite on.
  virtual std::span<const BYTE> GetEncodedFields() const noexcept { return {}; }

 private:
  static constexpr std::size_t kCursorAtEnd = static_cast<std::size_t>(-1);
  static constexpr DWORD kImageCapacity = 4096;

  // Index of the first field with tag at or after the search start, or kCursorAtEnd.
  std::size_t FindField(DWORD tag, bool next) const noexcept;
  [[nodiscard]] HRESULT ParseFieldArea(const BYTE* area, DWORD size);
  // The framing checks of a read: the type word (which also drops the previous read's fields),
  // then, with sizeWord, the size word.
  [[nodiscard]] HRESULT StartRead(const BYTE* header, bool sizeWord);
  // The rest of a read, from the field area in memory and the block's digest (null: unknown).
  [[nodiscard]] HRESULT LoadFields(const BYTE* area, const BYTE* digest);
  // The hash object, started afresh.
  [[nodiscard]] HRESULT StartHash(CQuorMD5Hash** hash);
  // Finishes hash, fed with the block up to its hash value, into the block hash field.
  [[nodiscard]] HRESULT SealHash(CQuorMD5Hash& hash);
  // Every field loaded, block index and size included: S_OK; else what ComputeHash returns.
  [[nodiscard]] HRESULT CheckHashable() const;
  // The first steps of Write: fields prepared, size computed and, when the block fits the image
  // buffer (or the spare 4 KiB, when given), laid out there: *bytes, and *hashed bytes before
  // the hash value. *bytes null: too large for either.
  [[nodiscard]] HRESULT LayOut(BYTE* spare, BYTE** bytes, DWORD* hashed);
  // Puts the block's pieces into out (PutU32 and PutBytes), which keeps any failure of its own.
  template <typename Out>
  void EmitBlock(Out& out, bool framing, bool hashValue) const;

  DWORD m_blockType;
  DWORD m_blockSize = 0;
  std::vector<std::unique_ptr<CQuorMediaFileField>> m_fields;
  std::vector<std::unique_ptr<CQuorMediaFileField>> m_spareFields;  // cleared, for reuse
  std::size_t m_cursor = kCursorAtEnd;
  CQuorMediaFileField m_blockIndexField;
  CQuorMediaFileField m_blockSizeField;
  CQuorMediaFileField m_blockHashField;
  std::unique_ptr<BYTE[]> m_readBuffer;
  DWORD m_readCapacity = 0;
  std::unique_ptr<CQuorMD5Hash> m_hash;
  bool m_hashValid = false;
  bool m_payloadOnly = false;
  BYTE* m_image = nullptr;
  std::size_t m_imageCapacity = 0;
  struct KnownDigest {
    bool valid = false;
    BYTE digest[kHashSize] = {};
    DWORD blockIndex = 0;
    DWORD length = 0;
  };
  KnownDigest m_known;
};
