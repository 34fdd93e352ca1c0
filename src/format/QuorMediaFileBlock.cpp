#include "format/QuorMediaFileBlock.h"

#include <cstring>
#include <new>
#include <string>

#include "core/QuorClassLoggers.h"
#include "core/QuorLittleEndian.h"
#include "core/QuorMD5Hash.h"
#include "core/QuorMessageCatalogue.h"
#include "core/QuorMethodFrame.h"
#include "platform/log/QuorLog.h"
#include "quormediafiles/QuorResultCodes.h"
#include "quormediafiles/platform/QuorOleAuto.h"

namespace {

// Gathers the small pieces of a block (framing words, short values) so that the sink, the hash
// or the byte writer, sees a few large calls; a long value goes to the sink as it is. After the
// first failure nothing more reaches the sink.
template <typename Sink>
class CQuorBlockStage {
 public:
  static constexpr DWORD kCapacity = 4096;
  static constexpr DWORD kLongValue = kCapacity / 2;

  explicit CQuorBlockStage(Sink& sink) noexcept : m_sink(sink) {}

  void PutU32(DWORD value) noexcept {
    if (m_used + kU32Size > kCapacity) Flush();
    EncodeU32(m_bytes + m_used, value);
    m_used += kU32Size;
  }

  void PutBytes(const BYTE* bytes, DWORD length) noexcept {
    if (length > kLongValue) {
      Flush();
      if (SUCCEEDED(m_hr)) m_hr = m_sink(bytes, length);
      return;
    }
    if (m_used + length > kCapacity) Flush();
    if (length != 0) std::memcpy(m_bytes + m_used, bytes, length);
    m_used += length;
  }

  [[nodiscard]] HRESULT Finish() noexcept {
    Flush();
    return m_hr;
  }

 private:
  void Flush() noexcept {
    if (m_used != 0 && SUCCEEDED(m_hr)) m_hr = m_sink(m_bytes, m_used);
    m_used = 0;
  }

  Sink& m_sink;
  HRESULT m_hr = S_OK;
  DWORD m_used = 0;
  BYTE m_bytes[kCapacity];
};

// Lays the pieces of a block out one after the other in memory the caller sized for them.
class CQuorBlockImage {
 public:
  explicit CQuorBlockImage(BYTE* bytes) noexcept : m_bytes(bytes) {}

  void PutU32(DWORD value) noexcept {
    EncodeU32(m_bytes + m_used, value);
    m_used += kU32Size;
  }
  void PutBytes(const BYTE* bytes, DWORD length) noexcept {
    if (length != 0 && bytes != m_bytes + m_used) std::memcpy(m_bytes + m_used, bytes, length);
    m_used += length;
  }
  DWORD Used() const noexcept { return m_used; }

 private:
  BYTE* m_bytes;
  DWORD m_used = 0;
};

template <typename Out>
void PutField(Out& out, const CQuorMediaFileField& field) noexcept {
  out.PutU32(field.GetTag());
  out.PutU32(field.GetLength());
  out.PutBytes(field.GetValue(), field.GetLength());
}

}  // namespace

CQuorMediaFileBlock::CQuorMediaFileBlock(DWORD blockType) noexcept : m_blockType(blockType) {}

CQuorMediaFileBlock::~CQuorMediaFileBlock() = default;

HRESULT CQuorMediaFileBlock::Write(CQuorByteSink* writer) {
  if (writer == nullptr) return E_POINTER;
  const KnownDigest known = m_known;
  m_known.valid = false;
  BYTE stackImage[kImageCapacity];
  BYTE* bytes = nullptr;
  DWORD hashed = 0;
  HRESULT hr = LayOut(stackImage, &bytes, &hashed);
  if (FAILED(hr)) return hr;
  if (bytes == nullptr) {
    // A large block goes out in pieces, its long values straight from their owners: one pass
    // feeds the hash, a second one the writer.
    hr = ComputeHash();
    if (FAILED(hr)) return hr;
    auto sink = [writer](const BYTE* piece, DWORD length) { return writer->Write(piece, length); };
    CQuorBlockStage stage(sink);
    EmitBlock(stage, !m_payloadOnly, true);
    return stage.Finish();
  }

  // A block that fits is laid out once, hashed in one piece (unless its digest is known) and
  // written in one piece.
  DWORD blockIndex = 0;
  if (known.valid && bytes == m_image && hashed == known.length &&
      SUCCEEDED(GetBlockIndex(&blockIndex)) && blockIndex == known.blockIndex) {
    hr = m_blockHashField.Set(kTagBlockHash, kHashSize, known.digest, true);
  } else {
    CQuorMD5Hash* hash = nullptr;
    hr = StartHash(&hash);
    if (SUCCEEDED(hr)) hr = hash->AddData(bytes, hashed);
    if (SUCCEEDED(hr)) hr = SealHash(*hash);
  }
  if (FAILED(hr)) return hr;
  std::memcpy(bytes + hashed, m_blockHashField.GetValue(), kHashSize);
  if (!m_payloadOnly) return writer->Write(bytes, hashed + kHashSize);
  // Only the own fields, which follow the header and precede the base fields.
  const DWORD ownFields = m_blockSize - kSizeBesidesBlockIndexValue - m_blockIndexField.GetLength();
  return writer->Write(bytes + kBlockHeaderSize, ownFields);
}

HRESULT CQuorMediaFileBlock::LayOut(BYTE* spare, BYTE** bytes, DWORD* hashed) {
  *bytes = nullptr;
  HRESULT hr = PrepareForWrite();
  if (FAILED(hr)) return hr;
  hr = ComputeSize();
  if (FAILED(hr)) return hr;
  const ULONGLONG total = kBlockHeaderSize + static_cast<ULONGLONG>(m_blockSize);
  BYTE* const image = total <= m_imageCapacity           ? m_image
                      : spare && total <= kImageCapacity ? spare
                                                         : nullptr;
  if (image == nullptr) return S_OK;
  hr = CheckHashable();
  if (FAILED(hr)) return hr;
  CQuorBlockImage out(image);
  EmitBlock(out, true, false);
  *bytes = image;
  *hashed = out.Used();
  return S_OK;
}

HRESULT CQuorMediaFileBlock::LayOutImage(DWORD* length) {
  if (length == nullptr) return E_POINTER;
  BYTE* bytes = nullptr;
  const HRESULT hr = LayOut(nullptr, &bytes, length);
  if (FAILED(hr)) return hr;
  return bytes ? S_OK : MFS_E_WRONG_STATE;
}

void CQuorMediaFileBlock::SetKnownDigest(const BYTE* digest, DWORD blockIndex,
                                         DWORD length) noexcept {
  m_known.valid = digest != nullptr;
  if (!digest) return;
  std::memcpy(m_known.digest, digest, kHashSize);
  m_known.blockIndex = blockIndex;
  m_known.length = length;
}

HRESULT CQuorMediaFileBlock::Read(CQuorByteSource* reader) {
  if (reader == nullptr) return E_POINTER;
  BYTE header[kBlockHeaderSize];
  HRESULT hr = reader->Read(header + kBlockTypeOffset, kU32Size);
  if (SUCCEEDED(hr)) hr = StartRead(header, false);
  if (FAILED(hr)) return hr;
  hr = reader->Read(header + kBlockSizeWordOffset, kU32Size);
  if (SUCCEEDED(hr)) hr = StartRead(header, true);
  if (FAILED(hr)) return hr;
  const DWORD size = m_blockSize;
  // The size word is not trusted with memory: a block that cannot be in the file fails as its
  // read would, before anything is allocated.
  ULONGLONG remaining = 0;
  hr = reader->GetRemaining(&remaining);
  if (FAILED(hr)) return hr;
  if (size > remaining) return HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
  if (m_readCapacity < size) {
    m_readBuffer.reset(new (std::nothrow) BYTE[size]);
    m_readCapacity = m_readBuffer ? size : 0;
    if (!m_readBuffer) return E_OUTOFMEMORY;
  }
  BYTE* area = m_readBuffer.get();
  hr = reader->Read(area, size);
  if (FAILED(hr)) return hr;
  CQuorMD5Hash* hash = nullptr;
  BYTE digest[kQuorMD5DigestSize];
  const bool hashed = SUCCEEDED(StartHash(&hash)) &&
                      SUCCEEDED(hash->AddData(header, kBlockHeaderSize)) &&
                      SUCCEEDED(hash->AddData(area, size - kUnhashedTailSize)) &&
                      SUCCEEDED(hash->GetDigest(digest));
  return LoadFields(area, hashed ? digest : nullptr);
}

HRESULT CQuorMediaFileBlock::ReadFrom(const BYTE* bytes, const BYTE* digest) {
  if (bytes == nullptr) return E_POINTER;
  HRESULT hr = StartRead(bytes, false);
  if (SUCCEEDED(hr)) hr = StartRead(bytes, true);
  if (FAILED(hr)) return hr;
  return LoadFields(bytes + kBlockHeaderSize, digest);
}

void CQuorMediaFileBlock::CheckDigest(const BYTE* digest) noexcept {
  m_hashValid = digest && m_blockHashField.IsLoaded() &&
                std::memcmp(digest, m_blockHashField.GetValue(), kHashSize) == 0;
}

HRESULT CQuorMediaFileBlock::StartRead(const BYTE* header, bool sizeWord) {
  if (!sizeWord) {
    m_hashValid = false;
    // The fields of the previous read borrow from the bytes that are about to be replaced.
    ClearFields();
    m_blockIndexField.Clear();
    m_blockSizeField.Clear();
    m_blockHashField.Clear();
    const DWORD type = DecodeU32(header + kBlockTypeOffset);
    if (!IsBlockType(type)) return E_FAIL;
    m_blockType = type;
    return S_OK;
  }
  m_blockSize = DecodeU32(header + kBlockSizeWordOffset);
  // Below 48 bytes the base fields cannot be there, and the hash would cover fewer than 0 bytes.
  return m_blockSize < kBaseFieldsSize ? E_FAIL : S_OK;
}

HRESULT CQuorMediaFileBlock::LoadFields(const BYTE* area, const BYTE* digest) {
  const DWORD size = m_blockSize;
  HRESULT hr = ParseFieldArea(area, size);
  if (FAILED(hr)) return hr;
  const HRESULT verified = VerifyBlockFields();
  if (FAILED(verified)) return verified;
  if (!m_blockIndexField.IsLoaded() || !m_blockSizeField.IsLoaded() ||
      !m_blockHashField.IsLoaded()) {
    return E_FAIL;
  }
  CheckDigest(digest);
  if (DecodeU32(m_blockSizeField.GetValue()) != size) return E_FAIL;
  return verified;
}

HRESULT CQuorMediaFileBlock::ParseFieldArea(const BYTE* area, DWORD size) {
  if (area == nullptr || size == 0) return E_POINTER;
  DWORD offset = 0;
  while (offset < size) {
    const DWORD left = size - offset;
    if (left < kMinParsableField) return E_FAIL;
    const DWORD tag = DecodeU32(area + offset);
    const DWORD length = DecodeU32(area + offset + 4);
    const BYTE* value = area + offset + kFieldHeaderSize;
    if (length > left - kFieldHeaderSize) {
      // The field runs past the end of the block. A base field whose length its tag refuses
      // reports that first, as it would inside the block.
      const bool baseField = tag == kTagBlockIndex || tag == kTagBlockSize || tag == kTagBlockHash;
      return baseField && !IsAcceptedLength(tag, length) ? E_INVALIDARG : E_FAIL;
    }
    HRESULT hr;
    switch (tag) {
      case kTagBlockIndex:
        hr = m_blockIndexField.Set(tag, length, value, false);
        break;
      case kTagBlockSize:
        hr = m_blockSizeField.Set(tag, length, value, false);
        break;
      case kTagBlockHash:
        hr = m_blockHashField.Set(tag, length, value, false);
        break;
      default:
        hr = BlockFieldWasRead(tag, length, value);
        break;
    }
    if (FAILED(hr)) return hr;
    offset += kFieldHeaderSize + length;
  }
  return S_OK;
}

HRESULT CQuorMediaFileBlock::BlockFieldWasRead(DWORD tag, DWORD length, const BYTE* value) {
  DXL_FunctionLogger logger(QuorMediaFileBlockLogger(), "CQuorMediaFileBlock::BlockFieldWasRead",
                            this, 0, nullptr, kQuorDefaultLogLevel, 0);
  if (value == nullptr) return E_POINTER;
  std::unique_ptr<CQuorMediaFileField> field = TakeField();
  if (!field) return E_OUTOFMEMORY;
  if (FAILED(field->Set(tag, length, value, false))) {
    ReturnSpare(std::move(field));
    QuorLogDebug(logger, kUnknownField, static_cast<int>(tag));
    return S_OK;
  }
  return AppendField(std::move(field));
}

HRESULT CQuorMediaFileBlock::PrepareForWrite() { return VerifyBlockFields(); }

void CQuorMediaFileBlock::ClearFields() {
  for (auto& field : m_fields) {
    if (field) field->Clear();
  }
  if (m_spareFields.empty()) {
    // The usual case, every spare taken by the last fill: trade the lists, allocating nothing.
    m_fields.swap(m_spareFields);
  } else {
    for (auto& field : m_fields) ReturnSpare(std::move(field));
  }
  m_fields.clear();
  m_cursor = kCursorAtEnd;
}

void CQuorMediaFileBlock::ReturnSpare(std::unique_ptr<CQuorMediaFileField> field) noexcept {
  if (!field) return;
  field->Clear();
  try {
    m_spareFields.push_back(std::move(field));
  } catch (const std::bad_alloc&) {
    (void)0;  // without room among the spares the field is simply freed
  }
}

std::unique_ptr<CQuorMediaFileField> CQuorMediaFileBlock::TakeField() noexcept {
  while (!m_spareFields.empty()) {
    std::unique_ptr<CQuorMediaFileField> field = std::move(m_spareFields.back());
    m_spareFields.pop_back();
    if (field) return field;
  }
  return std::unique_ptr<CQuorMediaFileField>(new (std::nothrow) CQuorMediaFileField);
}

std::size_t CQuorMediaFileBlock::FindField(DWORD tag, bool next) const noexcept {
  std::size_t i = 0;
  if (next) i = m_cursor == kCursorAtEnd ? m_fields.size() : m_cursor + 1;
  for (; i < m_fields.size(); ++i) {
    if (m_fields[i] && m_fields[i]->GetTag() == tag) return i;
  }
  return kCursorAtEnd;
}

HRESULT CQuorMediaFileBlock::GetField(DWORD tag, DWORD* length, const BYTE** value, bool next) {
  if (length == nullptr || value == nullptr) return E_POINTER;
  if (!IsValidTag(tag)) return E_INVALIDARG;
  const CQuorMediaFileField* field = nullptr;
  switch (tag) {
    case kTagBlockIndex:
      field = &m_blockIndexField;
      break;
    case kTagBlockSize:
      field = &m_blockSizeField;
      break;
    case kTagBlockHash:
      field = &m_blockHashField;
      break;
    default:
      m_cursor = FindField(tag, next);
      if (m_cursor == kCursorAtEnd) return MFS_E_NO_VALUE;
      field = m_fields[m_cursor].get();
      break;
  }
  if (!field->IsLoaded()) return MFS_E_NOT_SET;
  *length = field->GetLength();
  *value = field->GetValue();
  return S_OK;
}

HRESULT CQuorMediaFileBlock::SetField(DWORD tag, DWORD length, const BYTE* value, bool copy,
                                      bool next) {
  if (value == nullptr) return E_POINTER;
  if (length == 0 || !IsValidTag(tag) || tag == kTagBlockSize) return E_INVALIDARG;
  if (tag == kTagBlockIndex) return m_blockIndexField.Set(tag, length, value, copy);
  if (tag == kTagBlockHash) return m_blockHashField.Set(tag, length, value, copy);
  m_cursor = FindField(tag, next);
  if (m_cursor != kCursorAtEnd) return m_fields[m_cursor]->Set(tag, length, value, copy);
  std::unique_ptr<CQuorMediaFileField> field = TakeField();
  if (!field) return E_OUTOFMEMORY;
  const HRESULT hr = field->Set(tag, length, value, copy);
  if (FAILED(hr)) {
    ReturnSpare(std::move(field));
    return hr;
  }
  return AppendField(std::move(field));
}

HRESULT CQuorMediaFileBlock::AppendField(std::unique_ptr<CQuorMediaFileField> field) {
  try {
    m_fields.push_back(std::move(field));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  m_cursor = m_fields.size() - 1;
  return S_OK;
}

HRESULT CQuorMediaFileBlock::GetBlockIndex(DWORD* blockIndex) const {
  if (blockIndex == nullptr) return E_POINTER;
  if (!m_blockIndexField.IsLoaded()) return MFS_E_NOT_SET;
  *blockIndex = DecodeU32(m_blockIndexField.GetValue());
  return S_OK;
}

HRESULT CQuorMediaFileBlock::SetBlockIndex(DWORD blockIndex) {
  BYTE value[kU32Size];
  EncodeU32(value, blockIndex);
  return m_blockIndexField.Set(kTagBlockIndex, kU32Size, value, true);
}

HRESULT CQuorMediaFileBlock::GetBlockHash(const BYTE** hash, DWORD* length) {
  return GetField(kTagBlockHash, length, hash, false);
}

DWORD CQuorMediaFileBlock::GetFieldTagAt(DWORD n) const noexcept {
  if (n >= m_fields.size() || !m_fields[n]) return 0;
  return m_fields[n]->GetTag();
}

HRESULT CQuorMediaFileBlock::ComputeSize() {
  ULONGLONG size = 0;
  for (const auto& field : m_fields) {
    if (!field) return MFS_E_NO_VALUE;
    if (!field->IsLoaded()) return MFS_E_WRONG_STATE;
    size += kFieldHeaderSize + static_cast<ULONGLONG>(field->GetLength());
  }
  size += GetEncodedFields().size();
  size += m_blockIndexField.GetLength() + kSizeBesidesBlockIndexValue;
  // A block whose size does not fit its size word cannot be written.
  if (size > 0xFFFFFFFFu) return E_INVALIDARG;
  BYTE value[kU32Size];
  EncodeU32(value, static_cast<DWORD>(size));
  const HRESULT hr = m_blockSizeField.Set(kTagBlockSize, kU32Size, value, true);
  if (FAILED(hr)) return hr;
  m_blockSize = static_cast<DWORD>(size);
  return S_OK;
}

HRESULT CQuorMediaFileBlock::CheckHashable() const {
  for (const auto& field : m_fields) {
    if (!field) return MFS_E_NO_VALUE;
    if (!field->IsLoaded()) return MFS_E_WRONG_STATE;
  }
  // Without its block index (or its size) a block cannot be hashed, hence not written.
  if (!m_blockIndexField.IsLoaded() || !m_blockSizeField.IsLoaded()) return MFS_E_WRONG_STATE;
  return S_OK;
}

HRESULT CQuorMediaFileBlock::ComputeHash() {
  HRESULT hr = CheckHashable();
  if (FAILED(hr)) return hr;
  CQuorMD5Hash* hash = nullptr;
  hr = StartHash(&hash);
  if (FAILED(hr)) return hr;
  auto sink = [hash](const BYTE* bytes, DWORD length) { return hash->AddData(bytes, length); };
  CQuorBlockStage stage(sink);
  EmitBlock(stage, true, false);
  hr = stage.Finish();
  if (FAILED(hr)) return hr;
  return SealHash(*hash);
}

HRESULT CQuorMediaFileBlock::SealHash(CQuorMD5Hash& hash) {
  BYTE digest[kQuorMD5DigestSize];
  const HRESULT hr = hash.GetDigest(digest);
  if (FAILED(hr)) return hr;
  return m_blockHashField.Set(kTagBlockHash, kHashSize, digest, true);
}

HRESULT CQuorMediaFileBlock::StartHash(CQuorMD5Hash** hash) {
  if (!m_hash) {
    m_hash.reset(new (std::nothrow) CQuorMD5Hash);
    if (!m_hash) return E_OUTOFMEMORY;
  } else {
    const HRESULT hr = m_hash->ReInitialize();
    if (FAILED(hr)) return hr;
  }
  *hash = m_hash.get();
  return S_OK;
}

// The block's bytes in file order: with framing, the header and the base fields around the own
// fields; the hash value itself only when asked (the hash covers everything before it).
template <typename Out>
void CQuorMediaFileBlock::EmitBlock(Out& out, bool framing, bool hashValue) const {
  if (framing) {
    out.PutU32(m_blockType);
    out.PutU32(m_blockSize);
  }
  for (const auto& field : m_fields) PutField(out, *field);
  // ComputeSize has refused a block whose size does not fit a DWORD.
  const std::span<const BYTE> encoded = GetEncodedFields();
  if (!encoded.empty()) out.PutBytes(encoded.data(), static_cast<DWORD>(encoded.size()));
  if (framing) {
    PutField(out, m_blockIndexField);
    PutField(out, m_blockSizeField);
    out.PutU32(kTagBlockHash);
    out.PutU32(kHashSize);
    if (hashValue) out.PutBytes(m_blockHashField.GetValue(), kHashSize);
  }
}

HRESULT CQuorMediaFileBlock::GetU32(DWORD tag, DWORD* value) {
  if (value == nullptr) return E_POINTER;
  DWORD length = 0;
  const BYTE* bytes = nullptr;
  const HRESULT hr = GetField(tag, &length, &bytes, false);
  if (FAILED(hr)) return hr;
  if (length < kU32Size) return MFS_E_BAD_FORMAT;
  *value = DecodeU32(bytes);
  return S_OK;
}

HRESULT CQuorMediaFileBlock::SetU32(DWORD tag, DWORD value) {
  BYTE bytes[kU32Size];
  EncodeU32(bytes, value);
  return SetField(tag, kU32Size, bytes, true, false);
}

HRESULT CQuorMediaFileBlock::GetU64(DWORD tag, ULONGLONG* value) {
  if (value == nullptr) return E_POINTER;
  DWORD length = 0;
  const BYTE* bytes = nullptr;
  const HRESULT hr = GetField(tag, &length, &bytes, false);
  if (FAILED(hr)) return hr;
  if (length < kU64Size) return MFS_E_BAD_FORMAT;
  *value = DecodeU64(bytes);
  return S_OK;
}

HRESULT CQuorMediaFileBlock::SetU64(DWORD tag, ULONGLONG value) {
  BYTE bytes[kU64Size];
  EncodeU64(bytes, value);
  return SetField(tag, kU64Size, bytes, true, false);
}

HRESULT CQuorMediaFileBlock::GetGuid(DWORD tag, GUID* value, bool next) {
  if (value == nullptr) return E_POINTER;
  DWORD length = 0;
  const BYTE* bytes = nullptr;
  const HRESULT hr = GetField(tag, &length, &bytes, next);
  if (FAILED(hr)) return hr;
  if (length < kGuidValueSize) return MFS_E_BAD_FORMAT;
  *value = DecodeGuid(bytes);
  return S_OK;
}

HRESULT CQuorMediaFileBlock::SetGuid(DWORD tag, const GUID& value, bool next) {
  BYTE bytes[kGuidValueSize];
  EncodeGuid(bytes, value);
  return SetField(tag, kGuidValueSize, bytes, true, next);
}

HRESULT CQuorMediaFileBlock::GetString(DWORD tag, BSTR* value) {
  if (value == nullptr) return E_POINTER;
  DWORD length = 0;
  const BYTE* bytes = nullptr;
  const HRESULT hr = GetField(tag, &length, &bytes, false);
  if (FAILED(hr)) return hr;
  const DWORD units = length / 2;
  DWORD count = 0;
  while (count < units && DecodeU16(bytes + 2 * count) != 0) ++count;
  BSTR text = SysAllocStringLen(nullptr, count);
  if (text == nullptr) return E_OUTOFMEMORY;
  for (DWORD i = 0; i < count; ++i) text[i] = static_cast<OLECHAR>(DecodeU16(bytes + 2 * i));
  *value = text;
  return S_OK;
}

HRESULT CQuorMediaFileBlock::SetString(DWORD tag, const OLECHAR* value) {
  if (value == nullptr) return E_POINTER;
  const std::size_t units = std::char_traits<OLECHAR>::length(value) + 1;  // with the NUL
  if (units > kMaxStringLength / 2) return E_INVALIDARG;
  const DWORD length = static_cast<DWORD>(units * 2);
  std::unique_ptr<BYTE[]> bytes(new (std::nothrow) BYTE[length]);
  if (!bytes) return E_OUTOFMEMORY;
  for (std::size_t i = 0; i < units; ++i) EncodeU16(bytes.get() + 2 * i, value[i]);
  return SetField(tag, length, bytes.get(), true, false);
}

DWORD CQuorMediaFileBlock::ReportFields(DXL_FunctionLogger& logger, std::span<const DWORD> onceTags,
                                        DWORD repeatableTag) const {
  DWORD seen = 0;
  for (DWORD n = 0;; ++n) {
    const DWORD tag = GetFieldTagAt(n);
    if (tag == 0) break;
    if (tag == repeatableTag) continue;
    std::size_t i = 0;
    while (i < onceTags.size() && onceTags[i] != tag) ++i;
    if (i == onceTags.size()) {
      QuorLogDebug(logger, kUnknownField, static_cast<int>(tag));
    } else if ((seen & (1u << i)) != 0) {
      QuorLogDebug(logger, kDuplicatedField, static_cast<int>(tag));
    } else {
      seen |= 1u << i;
    }
  }
  return seen;
}
