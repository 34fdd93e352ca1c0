#include "seal/QuorSealWriter.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <system_error>
#include <utility>

#include "core/LoggedException.h"
#include "core/QuorClassLoggers.h"
#include "core/QuorMethodFrame.h"
#include "platform/io/QuorLastError.h"
#include "quormediafiles/QuorResultCodes.h"

namespace {
// The ring holds what the seal thread has not hashed yet: enough to ride out a signature and a
// sidecar flush without stopping the tap, and small enough that the copy into it stays in cache
// (with 4 MiB, the worker's copy took about twice as long at 64 KiB samples). A durable
// recording's sidecar sync may hold the tap for a moment, once per index block.
constexpr std::size_t kRingSize = 1u << 20;
// The tap tells the seal thread of new bytes this many at a time, and the thread wakes for as
// many; a seal asked for tells it of the rest.
constexpr ULONGLONG kPublishStep = 64u << 10;
}  // namespace

std::string QuorSealSidecarName(const std::string& memberPath) {
  return memberPath + kSealSidecarSuffix;
}

CQuorSealWriter::CQuorSealWriter(CQuorFileSystem& fileSystem) noexcept
    : m_fileSystem(&fileSystem) {}

CQuorSealWriter::~CQuorSealWriter() { Finish(); }

HRESULT CQuorSealWriter::SetKey(const std::string& path, QuorMessage<>* message) {
  CQuorSealKey key;
  if (const HRESULT hr = key.LoadPrivate(path, message); FAILED(hr)) return hr;
  m_key = std::move(key);
  return S_OK;
}

HRESULT CQuorSealWriter::BeginFile(const std::string& memberPath) {
  m_fileBegun = false;
  m_tapValid = false;
  if (!m_key.IsLoaded()) return MFS_E_NOT_SET;
  if (!m_ring) {
    m_ring.reset(new (std::nothrow) BYTE[kRingSize]);
    if (!m_ring) return E_OUTOFMEMORY;
  }
  Command command;
  command.kind = CommandKind::Begin;
  if (!command.sidecar.Create(QuorSealSidecarName(memberPath), GENERIC_WRITE, 0, CREATE_ALWAYS, 0,
                              *m_fileSystem)) {
    return HResultFromLastError();
  }
  if (!m_thread.joinable()) {
    try {
      m_thread = std::thread([this] { RunSealThread(); });
    } catch (const std::system_error& e) {
      return HRESULT_FROM_WIN32(e.code().value() == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY
                                                           : ERROR_INVALID_PARAMETER);
    }
  }
  Push(std::move(command));
  m_fileBegun = true;
  m_tapValid = true;
  m_tappedEnd = kQuorFileSignatureSize;  // the seal thread starts the hash from the signature
  return S_OK;
}

void CQuorSealWriter::OnWritten(ULONGLONG offset, const BYTE* bytes, DWORD count) noexcept {
  if (!m_tapValid) return;
  if (offset != m_tappedEnd) {
    m_tapValid = false;  // bytes already hashed may change: the file's seals end here
    return;
  }
  Append(bytes, count);
  m_tappedEnd += count;
}

void CQuorSealWriter::Append(const BYTE* bytes, std::size_t count) {
  while (count != 0) {
    if (m_head - m_tailSeen == kRingSize) {
      m_tailSeen = m_tail.load();
      if (m_head - m_tailSeen == kRingSize) {
        Publish();  // the seal thread makes room only for bytes it knows of
        std::unique_lock lock(m_lock);
        m_tapWaiting = true;
        m_room.wait(lock, [&] { return m_tail.load() != m_tailSeen; });
        m_tapWaiting = false;
        continue;
      }
    }
    const std::size_t at = static_cast<std::size_t>(m_head % kRingSize);
    const std::size_t n = std::min<std::size_t>(
        {count, kRingSize - static_cast<std::size_t>(m_head - m_tailSeen), kRingSize - at});
    std::memcpy(m_ring.get() + at, bytes, n);
    bytes += n;
    count -= n;
    m_head += n;
  }
  if (m_head - m_published >= kPublishStep) Publish();
}

void CQuorSealWriter::Publish() {
  m_published = m_head;
  bool wake = false;
  {
    std::scoped_lock lock(m_lock);
    m_readable = m_head;
    wake = m_sealWaiting && m_readable >= m_wakeAt;
  }
  if (wake) m_wake.notify_one();
}

HRESULT CQuorSealWriter::Seal(const GUID& fileSetGuid, DWORD fileSetIndex, DWORD blockIndex,
                              ULONGLONG end, bool finalized, bool durable) {
  if (!m_key.IsLoaded() || !m_fileBegun) return MFS_E_NOT_SET;
  if (!m_tapValid || end != m_tappedEnd) return E_UNEXPECTED;
  Command command;
  command.kind = CommandKind::Seal;
  command.durable = durable;
  QuorSealRecord& record = command.record;
  record.fileSetGuid = fileSetGuid;
  record.fileSetIndex = fileSetIndex;
  record.blockIndex = blockIndex;
  record.offset = end;
  record.finalized = finalized;
  record.keyId = m_key.GetKeyId();
  record.timeMs =
      static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count());
  Push(std::move(command));
  // A finalized file gets no more seals.
  if (finalized) m_fileBegun = false;
  return S_OK;
}

void CQuorSealWriter::Finish() noexcept {
  m_fileBegun = false;
  m_tapValid = false;
  if (!m_thread.joinable()) return;
  Push(Command{});  // Stop, after everything asked for before
  m_thread.join();  // the seal thread ends by itself once it reaches the stop
}

void CQuorSealWriter::Push(Command command) {
  command.streamEnd = m_head;
  m_published = m_head;
  {
    std::scoped_lock lock(m_lock);
    m_commands.push_back(std::move(command));
    m_readable = m_head;
  }
  m_wake.notify_one();
}

void CQuorSealWriter::RunSealThread() {
  (void)QuorInternalMethodFrame(QuorFrameInfo{QuorMediaFileWriterLogger(), "CQuorSealWriter::Run",
                                              this, kQuorDefaultLogLevel, 0},
                                [&](DXL_FunctionLogger& log) {
                                  RunSealLoop(log);
                                  return S_OK;
                                });
}

void CQuorSealWriter::RunSealLoop(DXL_FunctionLogger& log) {
  ULONGLONG hashed = m_tail.load();
  for (;;) {
    Command command;
    bool haveCommand = false;
    ULONGLONG readable = 0;
    {
      std::unique_lock lock(m_lock);
      for (;;) {
        if (!m_commands.empty()) {
          command = std::move(m_commands.front());
          m_commands.pop_front();
          haveCommand = true;
          break;
        }
        // With no command waiting, every published byte belongs to the file being sealed.
        if (m_readable >= hashed + kPublishStep) {
          readable = m_readable;
          break;
        }
        m_wakeAt = hashed + kPublishStep;
        m_sealWaiting = true;
        m_wake.wait(lock);
        m_sealWaiting = false;
      }
    }
    Consume(haveCommand ? command.streamEnd : readable);
    hashed = haveCommand ? command.streamEnd : readable;
    if (!haveCommand) continue;
    if (command.kind == CommandKind::Stop) break;
    Execute(command, log);
  }
  CloseSidecar(log);
}

void CQuorSealWriter::Consume(ULONGLONG streamEnd) {
  // Pieces small enough to give room back to a waiting tap soon.
  constexpr ULONGLONG kPiece = 256u << 10;
  ULONGLONG tail = m_tail.load();
  while (tail < streamEnd) {
    const std::size_t at = static_cast<std::size_t>(tail % kRingSize);
    const std::size_t n =
        static_cast<std::size_t>(std::min({streamEnd - tail, kPiece, ULONGLONG{kRingSize - at}}));
    if (m_hashValid && FAILED(m_hash.Add(m_ring.get() + at, n))) m_hashValid = false;
    tail += n;
    m_tail.store(tail);
    if (m_tapWaiting.load()) {
      std::scoped_lock lock(m_lock);
      m_room.notify_one();
    }
  }
}

void CQuorSealWriter::Execute(Command& command, DXL_FunctionLogger& log) {
  if (command.kind == CommandKind::Begin) {
    CloseSidecar(log);
    m_sidecar = std::move(command.sidecar);
    m_sidecarSize = 0;
    const std::array<BYTE, kQuorFileSignatureSize> signature = QuorFileSignatureBytes();
    m_hashValid =
        SUCCEEDED(m_hash.Reset()) && SUCCEEDED(m_hash.Add(signature.data(), signature.size()));
    return;
  }
  HRESULT hr = !m_sidecar.IsOpen() ? MFS_E_NOT_SET : !m_hashValid ? E_UNEXPECTED : S_OK;
  if (SUCCEEDED(hr)) hr = WriteRecord(command);
  if (FAILED(hr)) log.LogErrorMessage(hr, "Failed to seal the member file");
  if (command.record.finalized) CloseSidecar(log);
}

HRESULT CQuorSealWriter::WriteRecord(Command& command) {
  QuorSealRecord& record = command.record;
  QUOR_RETURN_IF_FAILED(m_hash.Peek(&record.digest));
  BYTE bytes[kSealRecordSize];
  EncodeSealSignedPart(record, bytes);
  QUOR_RETURN_IF_FAILED(m_key.Sign(bytes, kSealSignedSize, bytes + kSealSignedSize));

  if (m_sidecar.Write(bytes, kSealRecordSize, nullptr) &&
      (command.durable ? m_sidecar.Sync() : m_sidecar.Flush())) {
    m_sidecarSize += kSealRecordSize;
    return S_OK;
  }
  const HRESULT hr = HResultFromLastError();
  // What reached the file of this record goes again, so the next record follows the last whole
  // one.
  (void)(m_sidecar.SetPointer(static_cast<LONGLONG>(m_sidecarSize), nullptr, FILE_BEGIN) &&
         m_sidecar.SetEndOfFile());
  return FAILED(hr) ? hr : E_FAIL;
}

void CQuorSealWriter::CloseSidecar(DXL_FunctionLogger& log) {
  m_hashValid = false;
  if (!m_sidecar.Close()) {
    log.LogErrorMessage(HResultFromLastError(), "Failed to close the seal file");
  }
}
