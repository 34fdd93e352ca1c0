// Rich error information for the calling thread, with the Windows names: a method that fails
// stores an IErrorInfo record (source, description, interface id) with SetErrorInfo; the caller
// fetches it once with GetErrorInfo. Each thread has its own record.
//
//   IErrorInfo* e = nullptr;
//   if (GetErrorInfo(0, &e) == S_OK) { BSTR d; e->GetDescription(&d); ...; e->Release(); }
#pragma once

#include "quormediafiles/platform/QuorTypes.h"
#include "quormediafiles/platform/QuorUnknown.h"

// {1CF2B120-547D-101B-8E65-08002B2BD119}
inline constexpr IID IID_IErrorInfo = {
    0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
// {22F03340-547D-101B-8E65-08002B2BD119}
inline constexpr IID IID_ICreateErrorInfo = {
    0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
// {DF0B3D60-548F-101B-8E65-08002B2BD119}
inline constexpr IID IID_ISupportErrorInfo = {
    0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

// The getters hand out new BSTRs that the caller frees (null when the field was never set).
struct IErrorInfo : IUnknown {
  virtual HRESULT GetGUID(GUID* pGUID) = 0;
  virtual HRESULT GetSource(BSTR* pBstrSource) = 0;
  virtual HRESULT GetDescription(BSTR* pBstrDescription) = 0;
  virtual HRESULT GetHelpFile(BSTR* pBstrHelpFile) = 0;
  virtual HRESULT GetHelpContext(DWORD* pdwHelpContext) = 0;

 protected:
  ~IErrorInfo() = default;
};

// The setters copy their strings (null clears the field).
struct ICreateErrorInfo : IUnknown {
  virtual HRESULT SetGUID(REFGUID rguid) = 0;
  virtual HRESULT SetSource(LPOLESTR szSource) = 0;
  virtual HRESULT SetDescription(LPOLESTR szDescription) = 0;
  virtual HRESULT SetHelpFile(LPOLESTR szHelpFile) = 0;
  virtual HRESULT SetHelpContext(DWORD dwHelpContext) = 0;

 protected:
  ~ICreateErrorInfo() = default;
};

// Implemented by objects that set error information (answers S_OK for the interfaces that do).
struct ISupportErrorInfo : IUnknown {
  virtual HRESULT InterfaceSupportsErrorInfo(REFIID riid) = 0;

 protected:
  ~ISupportErrorInfo() = default;
};

// A new, empty record with one reference on its ICreateErrorInfo face; QueryInterface gives
// its IErrorInfo face. E_INVALIDARG for a null pointer, E_OUTOFMEMORY.
HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) noexcept;
// Replaces the thread's record (taking a reference on perrinfo; null clears it).
HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) noexcept;
// Hands the thread's record out (the caller owns one reference) and clears it; S_FALSE and a
// null pointer when there is none.
HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) noexcept;
