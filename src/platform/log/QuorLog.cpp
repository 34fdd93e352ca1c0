// The log singleton, the sink slot and the sinks. Everything past the relaxed "is a sink
// installed" load is the slow path: it may lock and allocate, but never lets a failure out.
#include "platform/log/QuorLog.h"

#include <cstring>
#include <utility>

#include "platform/log/QuorFormatText.h"

namespace {

std::mutex g_sinkMutex;
std::shared_ptr<DXL_Sink> g_sink;  // guarded by g_sinkMutex
std::atomic<DXL_Log*> g_instance{nullptr};

std::shared_ptr<DXL_Sink> CurrentSink() {
  std::scoped_lock lock(g_sinkMutex);
  return g_sink;
}

const char* KindName(DXL_EntryKind kind) noexcept {
  switch (kind) {
    case DXL_EntryKind::Error:
      return "Error";
    case DXL_EntryKind::Release:
      return "Release";
    case DXL_EntryKind::Debug:
      return "Debug";
    case DXL_EntryKind::Enter:
      return "Enter";
    case DXL_EntryKind::Leave:
      return "Leave";
  }
  return "?";
}

}  // namespace

std::atomic<bool> DXL_Log::s_hasSink{false};

DXL_Log* DXL_Log::CreateInstance() noexcept {
  static DXL_Log log;
  g_instance.store(&log, std::memory_order_release);
  return &log;
}

DXL_Log* DXL_Log::GetInstancePtr() noexcept { return g_instance.load(std::memory_order_acquire); }

std::shared_ptr<DXL_Sink> DXL_Log::SetSink(std::shared_ptr<DXL_Sink> sink) noexcept {
  std::scoped_lock lock(g_sinkMutex);
  s_hasSink.store(sink != nullptr, std::memory_order_relaxed);
  return std::exchange(g_sink, std::move(sink));
}

std::shared_ptr<DXL_Sink> DXL_Log::GetSink() noexcept { return CurrentSink(); }

void DXL_Log::LogMessageEx(const char* component, const char* source, const char* levelText,
                           long number, const char* format, ...) noexcept {
  if (!HasSink()) return;
  try {
    const std::shared_ptr<DXL_Sink> sink = CurrentSink();
    const bool isError = levelText && std::strcmp(levelText, "Error") == 0;
    const DXL_EntryKind kind = isError ? DXL_EntryKind::Error : DXL_EntryKind::Release;
    if (!sink || !sink->Wants(kind)) return;
    DXL_Entry entry;
    entry.kind = kind;
    entry.component = component ? component : "";
    entry.functionName = source ? source : "";
    entry.levelText = levelText ? levelText : "";
    entry.number = number;
    std::va_list args;
    va_start(args, format);
    try {
      entry.text = QuorFormatTextV(format, args);
    } catch (...) {
      va_end(args);
      throw;
    }
    va_end(args);
    sink->Write(entry);
  } catch (...) {
    // Logging never fails its caller.
  }
}

void DXL_FunctionLogger::Emit(DXL_EntryKind kind, bool hasHr, HRESULT hr, const char* format,
                              std::va_list* args) noexcept {
  try {
    const std::shared_ptr<DXL_Sink> sink = CurrentSink();
    if (!sink || !sink->Wants(kind)) return;
    DXL_Entry entry;
    entry.kind = kind;
    entry.component = m_classLogger.ComponentName() ? m_classLogger.ComponentName() : "";
    entry.className = m_classLogger.ClassName() ? m_classLogger.ClassName() : "";
    entry.functionName = m_functionName ? m_functionName : "";
    entry.number = m_number;
    entry.level = m_level;
    entry.objectValue = m_objectValue;
    entry.objectIdentity = m_objectIdentity;
    entry.hasHr = hasHr;
    entry.hr = hr;
    if (args) {
      entry.text = QuorFormatTextV(format, *args);
    } else if (format) {
      entry.text = format;
    }
    sink->Write(entry);
  } catch (...) {
    // Logging never fails its caller.
  }
}

void DXL_FunctionLogger::LogErrorMessage(HRESULT hr) noexcept {
  if (DXL_Log::HasSink()) Emit(DXL_EntryKind::Error, true, hr, nullptr, nullptr);
}

void DXL_FunctionLogger::LogErrorMessage(HRESULT hr, const char* text) noexcept {
  if (DXL_Log::HasSink()) Emit(DXL_EntryKind::Error, true, hr, text, nullptr);
}

void DXL_FunctionLogger::LogReleaseMessage(const char* format, ...) noexcept {
  if (!DXL_Log::HasSink()) return;
  std::va_list args;
  va_start(args, format);
  Emit(DXL_EntryKind::Release, false, S_OK, format, &args);
  va_end(args);
}

void DXL_FunctionLogger::LogDebugMessage(const char* format, ...) noexcept {
  if (!DXL_Log::HasSink()) return;
  std::va_list args;
  va_start(args, format);
  Emit(DXL_EntryKind::Debug, false, S_OK, format, &args);
  va_end(args);
}

bool DXL_CaptureSink::Wants(DXL_EntryKind kind) const noexcept {
  return m_captureCalls || (kind != DXL_EntryKind::Enter && kind != DXL_EntryKind::Leave);
}

void DXL_CaptureSink::Write(const DXL_Entry& entry) noexcept {
  try {
    std::scoped_lock lock(m_mutex);
    m_entries.push_back(entry);
  } catch (...) {
    // An entry lost for want of memory does not fail the caller.
  }
}

std::vector<DXL_Entry> DXL_CaptureSink::Entries() const {
  std::scoped_lock lock(m_mutex);
  return m_entries;
}

void DXL_CaptureSink::Clear() noexcept {
  std::scoped_lock lock(m_mutex);
  m_entries.clear();
}

bool DXL_CaptureSink::Contains(DXL_EntryKind kind, std::string_view textPart) const {
  std::scoped_lock lock(m_mutex);
  for (const DXL_Entry& entry : m_entries) {
    if (entry.kind == kind && entry.text.find(textPart) != std::string::npos) return true;
  }
  return false;
}

bool DXL_CaptureSink::ContainsError(HRESULT hr, std::string_view textPart) const {
  std::scoped_lock lock(m_mutex);
  for (const DXL_Entry& entry : m_entries) {
    if (entry.kind == DXL_EntryKind::Error && entry.hasHr && entry.hr == hr &&
        entry.text.find(textPart) != std::string::npos)
      return true;
  }
  return false;
}

DXL_StreamSink::DXL_StreamSink(std::FILE* stream, DXL_Threshold threshold) noexcept
    : m_stream(stream), m_threshold(threshold) {}

std::shared_ptr<DXL_StreamSink> DXL_StreamSink::OpenFile(const std::string& path,
                                                         DXL_Threshold threshold) noexcept {
  try {
    std::FILE* stream = std::fopen(path.c_str(), "a");
    if (!stream) return nullptr;
    auto sink = std::make_shared<DXL_StreamSink>(stream, threshold);
    sink->m_ownsStream = true;
    return sink;
  } catch (...) {
    return nullptr;
  }
}

DXL_StreamSink::~DXL_StreamSink() {
  if (m_ownsStream && m_stream) (void)std::fclose(m_stream);  // nothing to report it to
}

bool DXL_StreamSink::Wants(DXL_EntryKind kind) const noexcept {
  switch (kind) {
    case DXL_EntryKind::Error:
      return true;
    case DXL_EntryKind::Release:
      return m_threshold >= DXL_Threshold::Release;
    case DXL_EntryKind::Debug:
      return m_threshold >= DXL_Threshold::Debug;
    default:
      return false;
  }
}

void DXL_StreamSink::Write(const DXL_Entry& entry) noexcept {
  if (!m_stream) return;
  std::scoped_lock lock(m_mutex);
  if (entry.hasHr) {
    std::fprintf(m_stream, "[%s] %s %s hr=0x%08X %s\n", KindName(entry.kind),
                 entry.component.c_str(), entry.functionName.c_str(),
                 static_cast<unsigned>(entry.hr), entry.text.c_str());
  } else {
    std::fprintf(m_stream, "[%s] %s %s %s\n", KindName(entry.kind), entry.component.c_str(),
                 entry.functionName.c_str(), entry.text.c_str());
  }
  std::fflush(m_stream);
}
