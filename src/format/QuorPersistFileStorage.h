// The abstract base of everything that is written to and read from a member file: fields and
// blocks. Both directions go through the storage's byte writer and byte reader, which move
// exactly the bytes asked for at the current position of the current file.
#pragma once

#include "quormediafiles/platform/QuorTypes.h"

class CQuorFileStorageReader;
class CQuorFileStorageWriter;

class CQuorPersistFileStorage {
 public:
  CQuorPersistFileStorage() = default;
  CQuorPersistFileStorage(const CQuorPersistFileStorage&) = delete;
  CQuorPersistFileStorage& operator=(const CQuorPersistFileStorage&) = delete;
  virtual ~CQuorPersistFileStorage() = default;

  // Writes the object at the writer's position; null writer: E_POINTER.
  [[nodiscard]] virtual HRESULT Write(CQuorFileStorageWriter* writer) = 0;
  // Reads the object from the reader's position; null reader: E_POINTER.
  [[nodiscard]] virtual HRESULT Read(CQuorFileStorageReader* reader) = 0;
};
