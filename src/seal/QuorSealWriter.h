// CQuorSealWriter: the signing side of seals for one recording. As the storage's write tap it
// follows the writes into the member file being recorded; a thread of its own (the seal
// thread) reads those bytes back from the file once they are in the OS's hands, keeps a
// running SHA-256 of them, and appends the signed records that Seal asks for to the file's
// sidecar, so the recording's worker spends no time on SHA-256 or signatures.
//
// The sidecar is written append-only, in the order the seals were asked for: each record goes
// to the OS in one write and is flushed (and synced to the device for a durable recording)
// before the next one, so a crash loses at most the record being written and never an earlier
// one; a record that could not be written whole is cut off again. A record of a seal covers
// exactly the bytes [0, end) that had reached the OS when Seal was called.
//
// Owns its key, the seal thread, and per member file the sidecar and a reading handle on the
// member file (which reads beside the writer's own handle). BeginFile, Seal, Finish and the tap
// run under the writer's lock, on whichever thread holds it; the seal thread touches only what
// is handed to it through its command queue (under its own lock) and its own hash and files.
#pragma once

#include <array>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "core/QuorMessageCatalogue.h"
#include "platform/QuorFile.h"
#include "platform/QuorThread.h"
#include "quormediafiles/platform/QuorTypes.h"
#include "seal/QuorSealKey.h"
#include "seal/QuorSealLayout.h"
#include "seal/QuorSha256.h"
#include "storage/QuorFileStorage.h"

class DXL_FunctionLogger;

class CQuorSealWriter final : public CQuorWriteTap {
 public:
  CQuorSealWriter() noexcept;
  // Finish.
  ~CQuorSealWriter();
  CQuorSealWriter(const CQuorSealWriter&) = delete;
  CQuorSealWriter& operator=(const CQuorSealWriter&) = delete;

  // The private key of path; failures as CQuorSealKey::LoadPrivate. Only before the first
  // BeginFile.
  [[nodiscard]] HRESULT SetKey(const std::string& path, QuorMessageId* message);

  // A member file was just created with its signature and nothing else: its sidecar is created
  // (or emptied: records beside a new file belong to a file that is gone), the file is opened
  // for reading beside its writer, and its seals start over from the signature once the seals
  // asked for before are written. Starts the seal thread when it is not running.
  [[nodiscard]] HRESULT BeginFile(const std::string& memberPath);
  // Asks for a record of the bytes [0, end) of the member file, which must all have reached the
  // OS and the tap; the seal thread writes it after the records asked for before. durable: the
  // record is synced to the device too. MFS_E_NOT_SET without a key or a file begun (or after
  // its finalized seal); E_UNEXPECTED when the tap did not see exactly those bytes in order (a
  // write went back over bytes already seen): the file gets no further seals. Failures of the
  // seal thread (reading, signing, writing the sidecar) are logged there.
  [[nodiscard]] HRESULT Seal(const GUID& fileSetGuid, DWORD fileSetIndex, DWORD blockIndex,
                             ULONGLONG end, bool finalized, bool durable);
  // Returns once every record asked for is written, and ends the seal thread; the next
  // BeginFile starts it again. Nothing to do when it is not running.
  void Finish() noexcept;

  void OnWritten(ULONGLONG offset, DWORD count) noexcept override;
  void OnHandedToSystem(ULONGLONG end) noexcept override;

 private:
  enum class CommandKind { Begin, Seal, Stop };
  struct Command {
    CommandKind kind = CommandKind::Stop;
    CQuorFile member;       // Begin: the member file, open for reading
    CQuorFile sidecar;      // Begin: the new sidecar, empty
    QuorSealRecord record;  // Seal: all but digest and signature
    bool durable = false;
  };

  void Push(Command command);
  // Tells the seal thread how far the current file may be read, waking it when it waits for
  // that much.
  void Publish(ULONGLONG end);

  static DWORD SealThreadProc(void* parameter);
  void RunSealThread(DXL_FunctionLogger& log);
  void Execute(Command& command, DXL_FunctionLogger& log);
  // Reads the member file from where the hash stands up to end into the hash; on a failure the
  // file's hash is given up.
  [[nodiscard]] HRESULT HashUpTo(ULONGLONG end);
  [[nodiscard]] HRESULT WriteRecord(Command& command);
  // Closes the current member file and sidecar of the seal thread; a sidecar that cannot be
  // closed cleanly is logged.
  void CloseFiles(DXL_FunctionLogger& log);

  CQuorSealKey m_key;

  // The tap's side (the writer's lock holder): the bytes seen in order and handed to the OS.
  bool m_fileBegun = false;
  bool m_tapValid = false;
  ULONGLONG m_tappedEnd = 0;
  ULONGLONG m_handedEnd = 0;
  ULONGLONG m_published = 0;  // the last value published
  std::unique_ptr<CQuorThread> m_thread;

  // Shared with the seal thread, under m_lock.
  std::mutex m_lock;
  std::condition_variable m_wake;
  std::deque<Command> m_commands;
  ULONGLONG m_readable = 0;    // how far the current file may be read
  ULONGLONG m_wakeAt = 0;      // the seal thread waits until m_readable reaches this
  bool m_sealWaiting = false;  // the seal thread waits on m_wake

  // The seal thread's own.
  CQuorFile m_member;
  CQuorFile m_sidecar;
  ULONGLONG m_sidecarSize = 0;
  CQuorSha256 m_hash;
  ULONGLONG m_hashedEnd = 0;
  bool m_hashValid = false;
  std::unique_ptr<BYTE[]> m_buffer;
};

// The sidecar of a member file.
std::string QuorSealSidecarName(const std::string& memberPath);
