// A thin C++ layer over the object interfaces for applications that prefer exceptions and
// standard containers to HRESULTs and automation types. Header-only; it adds no state.
//
//   auto reader = QuorCreate<IQuorMediaFileReader>(CLSID_QuorMediaFileReader);
//   QuorCheck(reader->OpenFileSet(QuorBstr("/rec/cam.qmf").Get(), nullptr), "OpenFileSet");
//   CQuorSafeArray ids;
//   QuorCheck(reader->GetTrackIds(ids.AddressOf()), "GetTrackIds");
//   for (ULONG id : QuorU32Vector(ids.Get())) ...
//
// QuorCheck throws CQuorError for a failed HRESULT; the error carries the code, its name and
// the description that the failing object left in the calling thread's error information.
// Every function may be called from any thread; the objects keep their own threading rules.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "quormediafiles/QuorMediaFiles.h"
#include "quormediafiles/platform/QuorErrorInfo.h"

// A result code and its symbolic name.
struct CQuorNamedResultCode {
  HRESULT hr;
  const char* name;
};
#define QUOR_NAMED_CODE(code) \
  { code, #code }
#define QUOR_NAMED_WIN32(code) \
  { HRESULT_FROM_WIN32(code), "HRESULT_FROM_WIN32(" #code ")" }
// Every result code the library or the platform returns that has a name here: the success codes,
// then the library's own, the standard ones and the Win32 errors of the file layer.
inline constexpr CQuorNamedResultCode kQuorNamedResultCodes[] = {
    QUOR_NAMED_CODE(S_OK),
    QUOR_NAMED_CODE(S_FALSE),
    QUOR_NAMED_CODE(MFS_S_NEXT_FILE),
    QUOR_NAMED_CODE(MFS_E_NOT_SET),
    QUOR_NAMED_CODE(MFS_E_WRONG_STATE),
    QUOR_NAMED_CODE(MFS_E_NO_VALUE),
    QUOR_NAMED_CODE(MFS_E_BAD_PASSWORD),
    QUOR_NAMED_CODE(MFS_E_BAD_FORMAT),
    QUOR_NAMED_CODE(MFS_E_FILE_FULL),
    QUOR_NAMED_CODE(MFS_E_AUTH_CANCELLED),
    QUOR_NAMED_CODE(E_NOTIMPL),
    QUOR_NAMED_CODE(E_NOINTERFACE),
    QUOR_NAMED_CODE(E_POINTER),
    QUOR_NAMED_CODE(E_ABORT),
    QUOR_NAMED_CODE(E_FAIL),
    QUOR_NAMED_CODE(E_UNEXPECTED),
    QUOR_NAMED_CODE(E_ACCESSDENIED),
    QUOR_NAMED_CODE(E_HANDLE),
    QUOR_NAMED_CODE(E_OUTOFMEMORY),
    QUOR_NAMED_CODE(E_INVALIDARG),
    QUOR_NAMED_CODE(CLASS_E_NOAGGREGATION),
    QUOR_NAMED_CODE(CLASS_E_CLASSNOTAVAILABLE),
    QUOR_NAMED_CODE(REGDB_E_CLASSNOTREG),
    QUOR_NAMED_CODE(DISP_E_TYPEMISMATCH),
    QUOR_NAMED_WIN32(ERROR_FILE_NOT_FOUND),
    QUOR_NAMED_WIN32(ERROR_PATH_NOT_FOUND),
    QUOR_NAMED_WIN32(ERROR_TOO_MANY_OPEN_FILES),
    QUOR_NAMED_WIN32(ERROR_NOT_ENOUGH_MEMORY),
    QUOR_NAMED_WIN32(ERROR_INVALID_DATA),
    QUOR_NAMED_WIN32(ERROR_NO_MORE_FILES),
    QUOR_NAMED_WIN32(ERROR_WRITE_FAULT),
    QUOR_NAMED_WIN32(ERROR_READ_FAULT),
    QUOR_NAMED_WIN32(ERROR_SHARING_VIOLATION),
    QUOR_NAMED_WIN32(ERROR_HANDLE_EOF),
    QUOR_NAMED_WIN32(ERROR_NOT_SUPPORTED),
    QUOR_NAMED_WIN32(ERROR_FILE_EXISTS),
    QUOR_NAMED_WIN32(ERROR_INVALID_PARAMETER),
    QUOR_NAMED_WIN32(ERROR_DISK_FULL),
    QUOR_NAMED_WIN32(ERROR_INVALID_NAME),
    QUOR_NAMED_WIN32(ERROR_NEGATIVE_SEEK),
    QUOR_NAMED_WIN32(ERROR_ALREADY_EXISTS),
    QUOR_NAMED_WIN32(ERROR_FILENAME_EXCED_RANGE),
    QUOR_NAMED_WIN32(ERROR_DIRECTORY),
    QUOR_NAMED_WIN32(ERROR_IO_DEVICE),
};
#undef QUOR_NAMED_CODE
#undef QUOR_NAMED_WIN32

// The symbolic name of a result code the library or the platform returns
// ("MFS_E_BAD_PASSWORD", "E_INVALIDARG", "HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)"), or ""
// when the code has no name here.
inline std::string QuorResultCodeName(HRESULT hr) {
  for (const CQuorNamedResultCode& n : kQuorNamedResultCodes) {
    if (n.hr == hr) return n.name;
  }
  return {};
}

// "0x8004F008".
inline std::string QuorResultCodeHex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

// "MFS_E_BAD_PASSWORD (0x8004F008)", or the number alone for a code without a name.
inline std::string QuorResultCodeText(HRESULT hr) {
  const std::string name = QuorResultCodeName(hr);
  return name.empty() ? QuorResultCodeHex(hr) : name + " (" + QuorResultCodeHex(hr) + ")";
}

// Takes the calling thread's error information and returns its description ("" when there is
// none). Call it right after the failed call: the next failing call replaces the record.
inline std::string QuorTakeErrorDescription() {
  CQuorComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.AddressOf()) != S_OK || !info) return {};
  CQuorBstr description;
  if (FAILED(info->GetDescription(description.AddressOf()))) return {};
  return description.ToUtf8();
}

// A failed call: its result code, what was being done, and the object's description.
class CQuorError : public std::runtime_error {
 public:
  CQuorError(HRESULT hr, std::string operation, std::string description)
      : std::runtime_error(Compose(hr, operation, description)),
        m_hr(hr),
        m_operation(std::move(operation)),
        m_description(std::move(description)) {}

  HRESULT Code() const noexcept { return m_hr; }
  const std::string& Operation() const noexcept { return m_operation; }
  const std::string& Description() const noexcept { return m_description; }

 private:
  // "MFS_E_BAD_PASSWORD (0x8004F008): Error getting Valid Password Hash"; without a
  // description the operation stands in its place.
  static std::string Compose(HRESULT hr, const std::string& operation,
                             const std::string& description) {
    std::string text = QuorResultCodeText(hr) + ": ";
    text += description.empty() ? operation + " failed" : description;
    return text;
  }

  HRESULT m_hr;
  std::string m_operation;
  std::string m_description;
};

// Returns hr when it is a success code, else throws CQuorError with the thread's error
// information.
inline HRESULT QuorCheck(HRESULT hr, std::string_view operation) {
  if (SUCCEEDED(hr)) return hr;
  throw CQuorError(hr, std::string(operation), QuorTakeErrorDescription());
}

// A new object of class clsid, asked for interface T; throws CQuorError on failure.
template <class T>
CQuorComPtr<T> QuorCreate(REFCLSID clsid) {
  CQuorComPtr<T> object;
  QuorCheck(CoCreateInstance(clsid, &object), "CoCreateInstance");
  return object;
}

// Runs a getter whose value may be absent: std::nullopt for MFS_E_NO_VALUE (whose error
// information is discarded), the value on success, CQuorError for any other failure.
template <class T, class Getter>
std::optional<T> QuorGetOptional(Getter&& get, std::string_view operation) {
  T value{};
  const HRESULT hr = get(&value);
  if (hr == MFS_E_NO_VALUE) {
    (void)QuorTakeErrorDescription();  // (void): an absent value is an answer, not an error
    return std::nullopt;
  }
  QuorCheck(hr, operation);
  return value;
}

// The same for a BSTR getter; the text comes back as UTF-8.
template <class Getter>
std::optional<std::string> QuorGetOptionalString(Getter&& get, std::string_view operation) {
  CQuorBstr text;
  const HRESULT hr = get(text.AddressOf());
  if (hr == MFS_E_NO_VALUE) {
    (void)QuorTakeErrorDescription();  // (void): an absent value is an answer, not an error
    return std::nullopt;
  }
  QuorCheck(hr, operation);
  return text.ToUtf8();
}

// A BSTR owner from UTF-8 text; throws std::bad_alloc when out of memory.
inline CQuorBstr QuorBstr(std::string_view utf8) {
  CQuorBstr text = CQuorBstr::FromUtf8(utf8);
  if (!text) throw std::bad_alloc();
  return text;
}

// Runs a getter of a BSTR out-parameter and returns the text as UTF-8.
template <class Getter>
std::string QuorGetString(Getter&& get, std::string_view operation) {
  CQuorBstr text;
  QuorCheck(get(text.AddressOf()), operation);
  return text.ToUtf8();
}

// The elements of a one-dimensional array of fixed-size elements of type T (VT_UI1, VT_UI4,
// ...). A null array gives an empty vector.
template <class T>
std::vector<T> QuorArrayToVector(SAFEARRAY* psa) {
  std::vector<T> values;
  if (psa == nullptr || psa->rgsabound[0].cElements == 0) return values;
  if (SafeArrayGetElemsize(psa) != sizeof(T)) throw CQuorError(DISP_E_TYPEMISMATCH, "array", "");
  void* data = nullptr;
  QuorCheck(SafeArrayAccessData(psa, &data), "SafeArrayAccessData");
  const T* first = static_cast<const T*>(data);
  values.assign(first, first + psa->rgsabound[0].cElements);
  (void)SafeArrayUnaccessData(psa);  // (void): the array was locked above, unlocking cannot fail
  return values;
}

inline std::vector<std::uint8_t> QuorBytes(SAFEARRAY* psa) {
  return QuorArrayToVector<std::uint8_t>(psa);
}
inline std::vector<ULONG> QuorU32Vector(SAFEARRAY* psa) { return QuorArrayToVector<ULONG>(psa); }

// The strings of a VT_BSTR array as UTF-8.
inline std::vector<std::string> QuorStringVector(SAFEARRAY* psa) {
  std::vector<std::string> values;
  if (psa == nullptr) return values;
  const LONG lower = psa->rgsabound[0].lLbound;
  for (ULONG i = 0; i < psa->rgsabound[0].cElements; ++i) {
    LONG index = lower + static_cast<LONG>(i);
    CQuorBstr element;
    QuorCheck(SafeArrayGetElement(psa, &index, element.AddressOf()), "SafeArrayGetElement");
    values.push_back(element.ToUtf8());
  }
  return values;
}

// A new VT_UI1 array holding a copy of bytes.
inline CQuorSafeArray QuorByteArray(std::span<const std::uint8_t> bytes) {
  CQuorSafeArray array = CQuorSafeArray::CreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  if (!array) throw std::bad_alloc();
  if (!bytes.empty()) {
    void* data = nullptr;
    QuorCheck(SafeArrayAccessData(array.Get(), &data), "SafeArrayAccessData");
    std::copy(bytes.begin(), bytes.end(), static_cast<std::uint8_t*>(data));
    (void)SafeArrayUnaccessData(array.Get());  // (void): locked above
  }
  return array;
}

// VARIANT_BOOL <-> bool: any non-zero value is true.
inline bool QuorIsTrue(VARIANT_BOOL value) noexcept { return value != VARIANT_FALSE; }
inline VARIANT_BOOL QuorVariantBool(bool value) noexcept {
  return value ? VARIANT_TRUE : VARIANT_FALSE;
}
