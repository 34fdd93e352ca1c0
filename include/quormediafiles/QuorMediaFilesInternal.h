// Interfaces that the library's objects call each other through. They are not dispatchable and
// callers of the library do not use them; each is reached by QueryInterface on its object.
#pragma once

#include "quormediafiles/QuorMediaFiles.h"

// {2B225947-4BC9-4953-8973-92B3E447FA88}
inline constexpr GUID IID_IQuorFileSetMetadataInt = {
    0x2B225947, 0x4BC9, 0x4953, {0x89, 0x73, 0x92, 0xB3, 0xE4, 0x47, 0xFA, 0x88}};
// {3333F0D7-A631-48C3-AEF0-1D976C65D351}
inline constexpr GUID IID_IQuorMediaFileWriter2 = {
    0x3333F0D7, 0xA631, 0x48C3, {0xAE, 0xF0, 0x1D, 0x97, 0x6C, 0x65, 0xD3, 0x51}};

// The setters of a fileset metadata object (QuorFileSetMetadata), used by the reader and the
// recording status to fill one before handing out its IQuorFileSetMetadata.
struct IQuorFileSetMetadataInt : IUnknown {
  virtual HRESULT SetFilesetGuid(BSTR bstrGuid) = 0;
  virtual HRESULT SetFilesetCreationTime(ULONGLONG nCreationTime) = 0;
  virtual HRESULT SetFilesetDescription(BSTR bstrDescription) = 0;
  virtual HRESULT SetFilesetPassword(VARIANT_BOOL vbProtected) = 0;
  virtual HRESULT SetFileSetComplete(VARIANT_BOOL vbComplete) = 0;

 protected:
  ~IQuorFileSetMetadataInt() = default;
};

// The writer's second interface: payload-only recording (member files of payload fields only),
// and waiting for the queue.
struct IQuorMediaFileWriter2 : IUnknown {
  virtual HRESULT SetPayloadOnly(VARIANT_BOOL vbPayloadOnly) = 0;
  // Returns once every sample that Write accepted before the call has been written and handed to
  // the operating system, or dropped because the recording ended or is stopping. S_OK; returns at
  // once when nothing is queued or the writer is not recording. Any thread; it waits without
  // holding the writer's locks, so Write and StopRecording may run meanwhile.
  virtual HRESULT Drain() = 0;

 protected:
  ~IQuorMediaFileWriter2() = default;
};

QUOR_DECLARE_INTERFACE_IID(IQuorFileSetMetadataInt, IID_IQuorFileSetMetadataInt);
QUOR_DECLARE_INTERFACE_IID(IQuorMediaFileWriter2, IID_IQuorMediaFileWriter2);
