// The abstract base of everything that is written to and read from a member file: fields and
// blocks. Both directions go through a byte sink and a byte source (format/QuorByteSource.h):
// a member file's storage, or memory.
#pragma once

#include "format/QuorByteSource.h"
#include "quormediafiles/platform/QuorTypes.h"

class CQuorPersistFileStorage {
 public:
  CQuorPersistFileStorage() = default;
  CQuorPersistFileStorage(const CQuorPersistFileStorage&) = delete;
  CQuorPersistFileStorage& operator=(const CQuorPersistFileStorage&) = delete;
  virtual ~CQuorPersistFileStorage() = default;

  // Writes the object to the sink; null sink: E_POINTER.
  [[nodiscard]] virtual HRESULT Write(CQuorByteSink* writer) = 0;
  // Reads the object from the source's position; null source: E_POINTER.
  [[nodiscard]] virtual HRESULT Read(CQuorByteSource* reader) = 0;
};
