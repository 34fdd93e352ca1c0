// CQuorFileSetMetadata: the description of a whole fileset (coclass QuorFileSetMetadata).
// Callers read it through IQuorFileSetMetadata; the reader and the recording status fill it
// through the library's IQuorFileSetMetadataInt before handing it out. No lock.
#pragma once

#include <cstdint>

#include "objects/QuorStringField.h"
#include "platform/automation/QuorDispatchObject.h"
#include "quormediafiles/QuorMediaFilesInternal.h"

class CQuorFileSetMetadata final
    : public CQuorDispatchObject<IQuorFileSetMetadata, IQuorFileSetMetadataInt> {
 public:
  CQuorFileSetMetadata() noexcept = default;

  HRESULT GetFileSetGuid(BSTR* pbstrGuid) override;
  HRESULT GetFileSetCreationTime(ULONGLONG* pnCreationTime) override;
  HRESULT GetFileSetDescription(BSTR* pbstrDescription) override;
  HRESULT IsPasswordProtected(VARIANT_BOOL* pvbProtected) override;
  HRESULT IsFileSetComplete(VARIANT_BOOL* pvbComplete) override;

  HRESULT SetFilesetGuid(BSTR bstrGuid) override;
  HRESULT SetFilesetCreationTime(ULONGLONG nCreationTime) override;
  HRESULT SetFilesetDescription(BSTR bstrDescription) override;
  HRESULT SetFilesetPassword(VARIANT_BOOL vbProtected) override;
  HRESULT SetFileSetComplete(VARIANT_BOOL vbComplete) override;

  // Set bits.
  static constexpr std::uint8_t kCreationTimeSet = 0x01;
  static constexpr std::uint8_t kPasswordProtectedSet = 0x02;

 private:
  std::uint8_t m_setBits = 0;
  CQuorStringField m_filesetGuid;
  CQuorStringField m_description;
  ULONGLONG m_creationTime = 0;
  VARIANT_BOOL m_passwordProtected = VARIANT_FALSE;
  VARIANT_BOOL m_complete = VARIANT_FALSE;
};
