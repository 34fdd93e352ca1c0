#include "seal/QuorSealWriter.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <utility>

#include "core/LoggedException.h"
#include "core/QuorClassLoggers.h"
#include "core/QuorMethodFrame.h"
#include "platform/QuorLastError.h"
#include "quormediafiles/QuorResultCodes.h"

namespace {
// The seal thread reads the member file in pieces of this size, which stay in its core's cache
// between the read and the hash, and reads ahead of the next seal once this much is waiting.
constexpr DWORD kReadChunk = 256u << 10;
}  // namespace

std::string QuorSealSidecarName(const std::string& memberPath) {
  return memberPath + kSealSidecarSuffix;
}

CQuorSealWriter::CQuorSealWriter() noexcept = default;

CQuorSealWriter::~CQuorSealWriter() { Finish(); }

HRESULT CQuorSealWriter::SetKey(const std::string& path, QuorMessageId* message) {
  CQuorSealKey key;
  if (const HRESULT hr = key.LoadPrivate(path, message); FAILED(hr)) return hr;
  m_key = std::move(key);
  return S_OK;
}

HRESULT CQuorSealWriter::BeginFile(const std::string& memberPath) {
  m_fileBegun = false;
  m_tapValid = false;
  if (!m_key.IsLoaded()) return MFS_E_NOT_SET;
  Command command;
  command.kind = CommandKind::Begin;
  if (!command.sidecar.Create(QuorSealSidecarName(memberPath), GENERIC_WRITE, 0, CREATE_ALWAYS) ||
      !command.member.Create(memberPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             OPEN_EXISTING)) {
    return HResultFromLastError();
  }
  if (!m_thread) {
    auto thread = std::make_unique<CQuorThread>();
    QUOR_RETURN_IF_FAILED(thread->CreateThread(&SealThreadProc, this, false));
    m_thread = std::move(thread);
  }
  Push(std::move(command));
  m_fileBegun = true;
  m_tapValid = true;
  m_tappedEnd = kQuorFileSignatureSize;
  m_handedEnd = 0;
  m_published = kQuorFileSignatureSize;
  return S_OK;
}

void CQuorSealWriter::OnWritten(ULONGLONG offset, DWORD count) noexcept {
  if (!m_tapValid) return;
  if (offset != m_tappedEnd) {
    m_tapValid = false;  // bytes already seen may change: the file's seals end here
    return;
  }
  m_tappedEnd += count;
}

void CQuorSealWriter::OnHandedToSystem(ULONGLONG end) noexcept {
  if (!m_tapValid) return;
  m_handedEnd = std::max(m_handedEnd, end);
  Publish(std::min(m_tappedEnd, m_handedEnd));
}

void CQuorSealWriter::Publish(ULONGLONG end) {
  if (end <= m_published) return;
  m_published = end;
  bool wake = false;
  {
    std::scoped_lock lock(m_lock);
    m_readable = end;
    wake = m_sealWaiting && end >= m_wakeAt;
  }
  if (wake) m_wake.notify_one();
}

HRESULT CQuorSealWriter::Seal(const GUID& fileSetGuid, DWORD fileSetIndex, DWORD blockIndex,
                              ULONGLONG end, bool finalized, bool durable) {
  if (!m_key.IsLoaded() || !m_fileBegun) return MFS_E_NOT_SET;
  if (!m_tapValid || end != m_tappedEnd || end > m_handedEnd) return E_UNEXPECTED;
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
  if (!m_thread) return;
  Push(Command{});  // Stop, after everything asked for before
  // The seal thread ends by itself once it reaches the stop; a wait that fails leaves the join
  // to the thread object's destruction.
  (void)WaitForSingleObject(m_thread.get(), INFINITE);
  m_thread.reset();
}

void CQuorSealWriter::Push(Command command) {
  {
    std::scoped_lock lock(m_lock);
    m_commands.push_back(std::move(command));
    if (m_commands.back().kind == CommandKind::Begin) m_readable = kQuorFileSignatureSize;
  }
  m_wake.notify_one();
}

DWORD CQuorSealWriter::SealThreadProc(void* parameter) {
  auto* self = static_cast<CQuorSealWriter*>(parameter);
  return static_cast<DWORD>(
      QuorInternalMethodFrame(QuorFrameInfo{QuorMediaFileWriterLogger(), "CQuorSealWriter::Run",
                                            self, kQuorDefaultLogLevel, 0},
                              [&](DXL_FunctionLogger& log) {
                                self->RunSealThread(log);
                                return S_OK;
                              }));
}

void CQuorSealWriter::RunSealThread(DXL_FunctionLogger& log) {
  for (;;) {
    Command command;
    bool haveCommand = false;
    ULONGLONG readTo = 0;
    {
      std::unique_lock lock(m_lock);
      for (;;) {
        if (!m_commands.empty()) {
          command = std::move(m_commands.front());
          m_commands.pop_front();
          haveCommand = true;
          break;
        }
        // With no seal waiting, the file is read as far as the OS has it, a piece at a time.
        if (m_hashValid && m_readable >= m_hashedEnd + kReadChunk) {
          readTo = m_readable;
          break;
        }
        m_wakeAt = m_hashValid ? m_hashedEnd + kReadChunk : ~0ull;
        m_sealWaiting = true;
        m_wake.wait(lock);
        m_sealWaiting = false;
      }
    }
    if (!haveCommand) {
      (void)HashUpTo(readTo);  // a failure is reported by the file's next seal
      continue;
    }
    if (command.kind == CommandKind::Stop) break;
    Execute(command, log);
  }
  CloseFiles(log);
}

void CQuorSealWriter::Execute(Command& command, DXL_FunctionLogger& log) {
  if (command.kind == CommandKind::Begin) {
    CloseFiles(log);
    m_member = std::move(command.member);
    m_sidecar = std::move(command.sidecar);
    m_sidecarSize = 0;
    const std::array<BYTE, kQuorFileSignatureSize> signature = QuorFileSignatureBytes();
    m_hashValid =
        SUCCEEDED(m_hash.Reset()) && SUCCEEDED(m_hash.Add(signature.data(), signature.size()));
    m_hashedEnd = signature.size();
    return;
  }
  HRESULT hr = m_sidecar.IsOpen() ? HashUpTo(command.record.offset) : MFS_E_NOT_SET;
  if (SUCCEEDED(hr)) hr = WriteRecord(command);
  if (FAILED(hr)) log.LogErrorMessage(hr, "Failed to seal the member file");
  if (command.record.finalized) CloseFiles(log);
}

HRESULT CQuorSealWriter::HashUpTo(ULONGLONG end) {
  if (!m_hashValid || end < m_hashedEnd) {
    m_hashValid = false;
    return E_UNEXPECTED;
  }
  if (!m_buffer) {
    m_buffer.reset(new (std::nothrow) BYTE[kReadChunk]);
    if (!m_buffer) return E_OUTOFMEMORY;
  }
  while (m_hashedEnd < end) {
    const DWORD n = static_cast<DWORD>(std::min<ULONGLONG>(kReadChunk, end - m_hashedEnd));
    DWORD read = 0;
    HRESULT hr = S_OK;
    if (!m_member.SetPointer(static_cast<LONGLONG>(m_hashedEnd), nullptr, FILE_BEGIN) ||
        !m_member.Read(m_buffer.get(), n, &read)) {
      hr = HResultFromLastError();
    } else if (read != n) {
      hr = HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
    } else {
      hr = m_hash.Add(m_buffer.get(), n);
    }
    if (FAILED(hr)) {
      m_hashValid = false;  // the hash no longer follows the file
      return hr;
    }
    m_hashedEnd += n;
  }
  return S_OK;
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

void CQuorSealWriter::CloseFiles(DXL_FunctionLogger& log) {
  m_hashValid = false;
  (void)m_member.Close();  // read only: nothing to lose
  if (!m_sidecar.Close()) {
    log.LogErrorMessage(HResultFromLastError(), "Failed to close the seal file");
  }
}
