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

// The symbolic name of a result code the library or the platform returns
// ("MFS_E_BAD_PASSWORD", "E_INVALIDARG", "HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)"), or ""
// when the code has no name here.
inline std::string QuorResultCodeName(HRESULT hr) {
  struct Named {
    HRESULT hr;
    const char* name;
  };
  static constexpr Named kNames[] = {
      {S_OK, "S_OK"},
      {S_FALSE, "S_FALSE"},
      {MFS_S_NEXT_FILE, "MFS_S_NEXT_FILE"},
      {MFS_E_NOT_SET, "MFS_E_NOT_SET"},
      {MFS_E_WRONG_STATE, "MFS_E_WRONG_STATE"},
      {MFS_E_NO_VALUE, "MFS_E_NO_VALUE"},
      {MFS_E_BAD_PASSWORD, "MFS_E_BAD_PASSWORD"},
      {MFS_E_BAD_FORMAT, "MFS_E_BAD_FORMAT"},
      {MFS_E_FILE_FULL, "MFS_E_FILE_FULL"},
      {MFS_E_AUTH_CANCELLED, "MFS_E_AUTH_CANCELLED"},
      {E_NOTIMPL, "E_NOTIMPL"},
      {E_NOINTERFACE, "E_NOINTERFACE"},
      {E_POINTER, "E_POINTER"},
      {E_ABORT, "E_ABORT"},
      {E_FAIL, "E_FAIL"},
      {E_UNEXPECTED, "E_UNEXPECTED"},
      {E_ACCESSDENIED, "E_ACCESSDENIED"},
      {E_HANDLE, "E_HANDLE"},
      {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
      {E_INVALIDARG, "E_INVALIDARG"},
      {CLASS_E_NOAGGREGATION, "CLASS_E_NOAGGREGATION"},
      {CLASS_E_CLASSNOTAVAILABLE, "CLASS_E_CLASSNOTAVAILABLE"},
      {REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG"},
  };
  for (const Named& n : kNames) {
    if (n.hr == hr) return n.name;
  }
  struct NamedWin32 {
    DWORD code;
    const char* name;
  };
  static constexpr NamedWin32 kWin32[] = {
      {ERROR_FILE_NOT_FOUND, "ERROR_FILE_NOT_FOUND"},
      {ERROR_PATH_NOT_FOUND, "ERROR_PATH_NOT_FOUND"},
      {ERROR_TOO_MANY_OPEN_FILES, "ERROR_TOO_MANY_OPEN_FILES"},
      {ERROR_ACCESS_DENIED, "ERROR_ACCESS_DENIED"},
      {ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE"},
      {ERROR_NOT_ENOUGH_MEMORY, "ERROR_NOT_ENOUGH_MEMORY"},
      {ERROR_INVALID_DATA, "ERROR_INVALID_DATA"},
      {ERROR_NO_MORE_FILES, "ERROR_NO_MORE_FILES"},
      {ERROR_WRITE_FAULT, "ERROR_WRITE_FAULT"},
      {ERROR_READ_FAULT, "ERROR_READ_FAULT"},
      {ERROR_SHARING_VIOLATION, "ERROR_SHARING_VIOLATION"},
      {ERROR_HANDLE_EOF, "ERROR_HANDLE_EOF"},
      {ERROR_NOT_SUPPORTED, "ERROR_NOT_SUPPORTED"},
      {ERROR_FILE_EXISTS, "ERROR_FILE_EXISTS"},
      {ERROR_INVALID_PARAMETER, "ERROR_INVALID_PARAMETER"},
      {ERROR_DISK_FULL, "ERROR_DISK_FULL"},
      {ERROR_INVALID_NAME, "ERROR_INVALID_NAME"},
      {ERROR_NEGATIVE_SEEK, "ERROR_NEGATIVE_SEEK"},
      {ERROR_ALREADY_EXISTS, "ERROR_ALREADY_EXISTS"},
      {ERROR_FILENAME_EXCED_RANGE, "ERROR_FILENAME_EXCED_RANGE"},
      {ERROR_DIRECTORY, "ERROR_DIRECTORY"},
      {ERROR_IO_DEVICE, "ERROR_IO_DEVICE"},
  };
  for (const NamedWin32& n : kWin32) {
    if (HRESULT_FROM_WIN32(n.code) == hr) return std::string("HRESULT_FROM_WIN32(") + n.name + ")";
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
