// CQuorSealWriter: the signing side of seals for one recording. As the storage's write tap it
// copies the bytes written to the member file being recorded into a ring; a thread of its own
// (the seal thread) keeps a running SHA-256 of them and appends the signed records that Seal
// asks for to the file's sidecar, so the recording's worker spends no time on SHA-256 or
// signatures, and no seal reads the file.
//
// The sidecar is written append-only, in the order the seals were asked for: each record goes
// to the OS in one write and is flushed (and synced to the device for a durable recording)
// before the next one, so a crash loses at most the record being written and never an earlier
// one; a record that could not be written whole is cut off again. A record covers exactly the
// bytes [0, end) of the file that the tap had seen, in order, when Seal was called.
//
// Owns its key, the ring, the seal thread and the sidecar of the file being sealed. BeginFile,
// Seal, Finish and the tap run under the writer's lock, on whichever thread holds it; the seal
// thread touches only the ring bytes and commands handed to it (through its own lock and the
// ring's positions) and its own hash and sidecar. A tap that finds the ring full waits for the
// seal thread to make room.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/QuorMessageCatalogue.h"
#include "platform/io/QuorFile.h"
#include "quormediafiles/platform/QuorTypes.h"
#include "seal/QuorSealKey.h"
#include "seal/QuorSealLayout.h"
#include "seal/QuorSha256.h"
#include "storage/QuorFileStorage.h"

class DXL_FunctionLogger;

class CQuorSealWriter final : public CQuorWriteTap {
 public:
  // Sidecars are created through fileSystem, which must outlive the seal writer.
  explicit CQuorSealWriter(CQuorFileSystem& fileSystem = QuorPosixFileSystem()) noexcept;
  // Finish.
  ~CQuorSealWriter();
  CQuorSealWriter(const CQuorSealWriter&) = delete;
  CQuorSealWriter& operator=(const CQuorSealWriter&) = delete;

  // The private key of path; failures as CQuorSealKey::LoadPrivate. Only before the first
  // BeginFile.
  [[nodiscard]] HRESULT SetKey(const std::string& path, QuorMessage<>* message);

  // A member file was just created with its signature and nothing else: its sidecar is created
  // (or emptied: records beside a new file belong to a file that is gone), and its seals start
  // over from the signature once the seals asked for before are written. Starts the seal thread
  // when it is not running.
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

  void OnWritten(ULONGLONG offset, const BYTE* bytes, DWORD count) noexcept override;

 private:
  enum class CommandKind { Begin, Seal, Stop };
  // A command applies once the ring bytes before streamEnd have been hashed.
  struct Command {
    CommandKind kind = CommandKind::Stop;
    ULONGLONG streamEnd = 0;
    CQuorFile sidecar;      // Begin: the new sidecar, empty
    QuorSealRecord record;  // Seal: all but digest and signature
    bool durable = false;
  };

  void Push(Command command);
  // Copies bytes into the ring, waiting for room when it is full.
  void Append(const BYTE* bytes, std::size_t count);
  // Lets the seal thread hash what the ring holds, waking it when it waits for that much.
  void Publish();

  // The seal thread: takes commands and ring bytes until the stop.
  void RunSealThread();
  void RunSealLoop(DXL_FunctionLogger& log);
  // Hashes the ring bytes up to streamEnd (into nothing once the file's hash is given up) and
  // gives their room back.
  void Consume(ULONGLONG streamEnd);
  void Execute(Command& command, DXL_FunctionLogger& log);
  [[nodiscard]] HRESULT WriteRecord(Command& command);
  // Closes the sidecar being written; a failure to close it cleanly is logged.
  void CloseSidecar(DXL_FunctionLogger& log);

  CQuorSealKey m_key;
  std::unique_ptr<BYTE[]> m_ring;  // stream byte n at n % kRingSize

  // The tap's side (the writer's lock holder).
  bool m_fileBegun = false;
  bool m_tapValid = false;
  ULONGLONG m_tappedEnd = 0;  // file offset the next write must start at
  ULONGLONG m_head = 0;       // stream bytes copied into the ring
  ULONGLONG m_published = 0;  // stream bytes the seal thread was told of
  ULONGLONG m_tailSeen = 0;   // the seal thread's tail, as last read
  std::thread m_thread;

  // Shared with the seal thread: under m_lock, or atomic.
  std::mutex m_lock;
  std::condition_variable m_wake;  // the seal thread's
  std::condition_variable m_room;  // the tap's
  std::deque<Command> m_commands;
  ULONGLONG m_readable = 0;          // stream bytes the seal thread may hash
  ULONGLONG m_wakeAt = 0;            // the waiting seal thread wants m_readable to reach this
  bool m_sealWaiting = false;        // the seal thread waits on m_wake
  std::atomic<ULONGLONG> m_tail{0};  // stream bytes hashed and given back
  std::atomic<bool> m_tapWaiting{false};

  CQuorFileSystem* m_fileSystem;

  // The seal thread's own.
  CQuorFile m_sidecar;
  ULONGLONG m_sidecarSize = 0;
  CQuorSha256 m_hash;
  bool m_hashValid = false;
};

// The sidecar of a member file.
std::string QuorSealSidecarName(const std::string& memberPath);
