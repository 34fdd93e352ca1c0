// BSTR functions, UTF-8 <-> UTF-16 conversion and the BSTR owner.
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include "quormediafiles/platform/QuorOleAuto.h"

namespace {

// A BSTR's allocation: byte length (u32) | characters | NUL (u16). The BSTR points at the
// characters, 4 bytes into the allocation.
constexpr std::size_t kBstrPrefixSize = sizeof(std::uint32_t);
constexpr std::size_t kBstrTerminatorSize = sizeof(OLECHAR);
static_assert(kBstrPrefixSize == 4 && kBstrTerminatorSize == 2);

std::uint32_t* PrefixOf(BSTR bstr) noexcept {
  return reinterpret_cast<std::uint32_t*>(reinterpret_cast<char*>(bstr) - kBstrPrefixSize);
}

constexpr char16_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch) noexcept {
  // The byte length must fit its u32 prefix.
  if (cch > (std::numeric_limits<std::uint32_t>::max() - kBstrPrefixSize) / sizeof(OLECHAR) - 1)
    return nullptr;
  const std::size_t bytes = std::size_t{cch} * sizeof(OLECHAR);
  void* block = std::malloc(kBstrPrefixSize + bytes + kBstrTerminatorSize);
  if (!block) return nullptr;
  *static_cast<std::uint32_t*>(block) = static_cast<std::uint32_t>(bytes);
  BSTR bstr = reinterpret_cast<BSTR>(static_cast<char*>(block) + kBstrPrefixSize);
  if (pch) {
    std::memcpy(bstr, pch, bytes);
  } else {
    std::memset(bstr, 0, bytes);
  }
  bstr[cch] = u'\0';
  return bstr;
}

BSTR SysAllocString(const OLECHAR* psz) noexcept {
  if (!psz) return nullptr;
  std::size_t length = 0;
  while (psz[length] != u'\0') ++length;
  if (length > std::numeric_limits<UINT>::max()) return nullptr;
  return SysAllocStringLen(psz, static_cast<UINT>(length));
}

void SysFreeString(BSTR bstrString) noexcept {
  if (bstrString) std::free(PrefixOf(bstrString));
}

UINT SysStringByteLen(BSTR bstr) noexcept { return bstr ? *PrefixOf(bstr) : 0; }

UINT SysStringLen(BSTR pbstr) noexcept {
  return static_cast<UINT>(SysStringByteLen(pbstr) / sizeof(OLECHAR));
}

HRESULT VarBstrCmp(BSTR bstrLeft, BSTR bstrRight, LCID /*lcid*/, ULONG dwFlags) noexcept {
  const UINT leftLength = SysStringLen(bstrLeft);
  const UINT rightLength = SysStringLen(bstrRight);
  const bool ignoreCase = (dwFlags & NORM_IGNORECASE) != 0;
  const auto fold = [ignoreCase](OLECHAR c) -> OLECHAR {
    return (ignoreCase && c >= u'a' && c <= u'z') ? static_cast<OLECHAR>(c - u'a' + u'A') : c;
  };
  const UINT common = leftLength < rightLength ? leftLength : rightLength;
  for (UINT i = 0; i < common; ++i) {
    const OLECHAR l = fold(bstrLeft[i]);
    const OLECHAR r = fold(bstrRight[i]);
    if (l != r) return l < r ? VARCMP_LT : VARCMP_GT;
  }
  if (leftLength == rightLength) return VARCMP_EQ;
  return leftLength < rightLength ? VARCMP_LT : VARCMP_GT;
}

std::u16string QuorUtf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t count = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      count = 1, cp = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      count = 2, cp = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      count = 3, cp = lead & 0x07, minimum = 0x10000;
    } else {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    std::size_t taken = 1;
    bool ok = true;
    for (; taken <= count; ++taken) {
      if (i + taken >= text.size()) {
        ok = false;
        break;
      }
      const auto next = static_cast<unsigned char>(text[i + taken]);
      if ((next & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (next & 0x3F);
    }
    if (!ok) {
      // A truncated sequence: one replacement for the lead byte and its continuation bytes.
      out.push_back(kReplacement);
      i += taken;
      continue;
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back(kReplacement);
      i += count + 1;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += count + 1;
  }
  return out;
}

std::string QuorUtf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

std::string QuorBstrToUtf8(BSTR bstr) {
  return bstr ? QuorUtf16ToUtf8(std::u16string_view(bstr, SysStringLen(bstr))) : std::string();
}

BSTR QuorBstrFromUtf8(std::string_view text) noexcept {
  try {
    const std::u16string wide = QuorUtf8ToUtf16(text);
    if (wide.size() > std::numeric_limits<UINT>::max()) return nullptr;
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  } catch (...) {
    return nullptr;
  }
}

CQuorBstr::CQuorBstr(CQuorBstr&& other) noexcept : m_bstr(std::exchange(other.m_bstr, nullptr)) {}

CQuorBstr& CQuorBstr::operator=(CQuorBstr&& other) noexcept {
  if (this != &other) Attach(std::exchange(other.m_bstr, nullptr));
  return *this;
}

CQuorBstr::~CQuorBstr() { SysFreeString(m_bstr); }

CQuorBstr CQuorBstr::Copy(const OLECHAR* text) noexcept {
  CQuorBstr result;
  result.m_bstr = SysAllocString(text);
  return result;
}

CQuorBstr CQuorBstr::Copy(std::u16string_view text) noexcept {
  CQuorBstr result;
  if (text.size() <= std::numeric_limits<UINT>::max())
    result.m_bstr = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return result;
}

CQuorBstr CQuorBstr::FromUtf8(std::string_view text) noexcept {
  CQuorBstr result;
  result.m_bstr = QuorBstrFromUtf8(text);
  return result;
}

void CQuorBstr::Attach(BSTR bstr) noexcept {
  if (bstr == m_bstr) return;
  SysFreeString(m_bstr);
  m_bstr = bstr;
}

BSTR CQuorBstr::Detach() noexcept { return std::exchange(m_bstr, nullptr); }

BSTR* CQuorBstr::AddressOf() noexcept {
  Attach(nullptr);
  return &m_bstr;
}
