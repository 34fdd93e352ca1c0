// GUID creation and the braced text form.
#include "quormediafiles/platform/QuorGuid.h"

#include <cstdio>
#include <random>

namespace {

// "{" 8 "-" 4 "-" 4 "-" 4 "-" 12 "}"
constexpr int kDashPositions[] = {9, 14, 19, 24};
static_assert(1 + 8 + 1 + 4 + 1 + 4 + 1 + 4 + 1 + 12 + 1 == kGuidStringLength);

constexpr char kHexDigits[] = "0123456789ABCDEF";

// The 32 hex digits in text order: Data1, Data2, Data3 most significant first, then Data4.
void GuidDigits(REFGUID guid, char digits[32]) noexcept {
  int n = 0;
  for (int shift = 28; shift >= 0; shift -= 4)
    digits[n++] = kHexDigits[(guid.Data1 >> shift) & 0xF];
  for (int shift = 12; shift >= 0; shift -= 4)
    digits[n++] = kHexDigits[(guid.Data2 >> shift) & 0xF];
  for (int shift = 12; shift >= 0; shift -= 4)
    digits[n++] = kHexDigits[(guid.Data3 >> shift) & 0xF];
  for (BYTE b : guid.Data4) {
    digits[n++] = kHexDigits[b >> 4];
    digits[n++] = kHexDigits[b & 0xF];
  }
}

// Writes the braced form into out (kGuidStringLength characters, no NUL).
template <typename Char>
void FormatGuid(REFGUID guid, Char* out) noexcept {
  char digits[32];
  GuidDigits(guid, digits);
  int d = 0;
  out[0] = '{';
  for (int i = 1; i < kGuidStringLength - 1; ++i) {
    const bool dash = i == kDashPositions[0] || i == kDashPositions[1] || i == kDashPositions[2] ||
                      i == kDashPositions[3];
    out[i] = static_cast<Char>(dash ? '-' : digits[d++]);
  }
  out[kGuidStringLength - 1] = '}';
}

int HexValue(char32_t c) noexcept {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
  return -1;
}

// Parses exactly the braced form from text of the given length.
template <typename Char>
bool ParseGuid(const Char* text, std::size_t length, GUID* guid) noexcept {
  if (length != static_cast<std::size_t>(kGuidStringLength)) return false;
  if (text[0] != '{' || text[kGuidStringLength - 1] != '}') return false;
  BYTE nibbles[32];
  int n = 0;
  for (int i = 1; i < kGuidStringLength - 1; ++i) {
    const bool dash = i == kDashPositions[0] || i == kDashPositions[1] || i == kDashPositions[2] ||
                      i == kDashPositions[3];
    if (dash) {
      if (text[i] != '-') return false;
      continue;
    }
    const int value = HexValue(static_cast<char32_t>(text[i]));
    if (value < 0) return false;
    nibbles[n++] = static_cast<BYTE>(value);
  }
  GUID result{};
  for (int i = 0; i < 8; ++i) result.Data1 = (result.Data1 << 4) | nibbles[i];
  for (int i = 8; i < 12; ++i)
    result.Data2 = static_cast<std::uint16_t>((result.Data2 << 4) | nibbles[i]);
  for (int i = 12; i < 16; ++i)
    result.Data3 = static_cast<std::uint16_t>((result.Data3 << 4) | nibbles[i]);
  for (int i = 0; i < 8; ++i)
    result.Data4[i] = static_cast<BYTE>((nibbles[16 + 2 * i] << 4) | nibbles[17 + 2 * i]);
  *guid = result;
  return true;
}

HRESULT ParseOleString(LPCOLESTR lpsz, GUID* guid, HRESULT badText) noexcept {
  if (!guid) return E_INVALIDARG;
  if (!lpsz) {
    *guid = GUID_NULL;
    return S_OK;
  }
  std::size_t length = 0;
  // Longer text is bad text; stop counting just past the only valid length.
  while (length <= static_cast<std::size_t>(kGuidStringLength) && lpsz[length] != u'\0') ++length;
  return ParseGuid(lpsz, length, guid) ? S_OK : badText;
}

}  // namespace

HRESULT CoCreateGuid(GUID* pguid) noexcept {
  if (!pguid) return E_POINTER;
  try {
    // std::random_device reads the kernel's random source on Linux.
    std::random_device source;
    BYTE bytes[16];
    for (int i = 0; i < 16; i += 4) {
      const std::uint32_t word = source();
      for (int k = 0; k < 4; ++k) bytes[i + k] = static_cast<BYTE>(word >> (8 * k));
    }
    GUID guid{};
    guid.Data1 =
        static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
        (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
    guid.Data2 = static_cast<std::uint16_t>(bytes[4] | (bytes[5] << 8));
    // Version 4 in the top nibble of Data3, the RFC 4122 variant in the top bits of Data4[0].
    guid.Data3 = static_cast<std::uint16_t>(((bytes[6] | (bytes[7] << 8)) & 0x0FFF) | 0x4000);
    for (int i = 0; i < 8; ++i) guid.Data4[i] = bytes[8 + i];
    guid.Data4[0] = static_cast<BYTE>((guid.Data4[0] & 0x3F) | 0x80);
    *pguid = guid;
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) noexcept {
  if (!lpsz || cchMax < kGuidStringBufferSize) return 0;
  FormatGuid(rguid, lpsz);
  lpsz[kGuidStringLength] = u'\0';
  return kGuidStringBufferSize;
}

HRESULT IIDFromString(LPCOLESTR lpsz, IID* lpiid) noexcept {
  return ParseOleString(lpsz, lpiid, E_INVALIDARG);
}

HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid) noexcept {
  return ParseOleString(lpsz, pclsid, CO_E_CLASSSTRING);
}

std::string QuorGuidToString(REFGUID guid) {
  std::string text(kGuidStringLength, '\0');
  FormatGuid(guid, text.data());
  return text;
}

HRESULT QuorGuidFromString(std::string_view text, GUID* guid) noexcept {
  if (!guid) return E_INVALIDARG;
  return ParseGuid(text.data(), text.size(), guid) ? S_OK : E_INVALIDARG;
}
