// The logging library: a process-wide log, one class logger per instrumented class and one
// function logger per logged call. Entries go to one pluggable sink: none by default (nothing is
// formatted then), a capturing sink for tests, or a stream sink that programs install.
//
// No operation here throws or reports failure to its caller. A function logger costs a few
// stores and one relaxed atomic load when no sink is installed, so it may sit on hot paths.
// Format strings are printf-style; their arguments must match their placeholders (pass an
// unsigned 32-bit value for 0x%08X and an int for %i).
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "quormediafiles/platform/QuorTypes.h"

enum class DXL_EntryKind {
  Error,    // a function logger's LogErrorMessage, or LogMessageEx with level text "Error"
  Release,  // a function logger's LogReleaseMessage, or LogMessageEx with another level text
  Debug,    // a function logger's LogDebugMessage
  Enter,    // a function logger was created (only for sinks that want calls)
  Leave,    // a function logger ended (only for sinks that want calls)
};

// One entry as a sink sees it. The strings are copies; empty when the source gave none.
struct DXL_Entry {
  DXL_EntryKind kind = DXL_EntryKind::Release;
  std::string component;     // class logger's component, or LogMessageEx's component
  std::string className;     // class logger's class name
  std::string functionName;  // function logger's name, or LogMessageEx's source
  std::string levelText;     // LogMessageEx's level text
  long number = 0;
  int level = 0;  // function logger's level
  std::uint32_t objectValue = 0;
  const void* objectIdentity = nullptr;
  bool hasHr = false;
  HRESULT hr = S_OK;
  std::string text;  // the formatted text
};

// Receives entries, possibly from several threads at once.
class DXL_Sink {
 public:
  virtual ~DXL_Sink() = default;
  // Asked before any formatting; false skips the entry.
  virtual bool Wants(DXL_EntryKind kind) const noexcept = 0;
  virtual void Write(const DXL_Entry& entry) noexcept = 0;
};

// Records every entry in memory. Thread-safe.
class DXL_CaptureSink final : public DXL_Sink {
 public:
  explicit DXL_CaptureSink(bool captureCalls = false) noexcept : m_captureCalls(captureCalls) {}
  bool Wants(DXL_EntryKind kind) const noexcept override;
  void Write(const DXL_Entry& entry) noexcept override;

  std::vector<DXL_Entry> Entries() const;
  void Clear() noexcept;
  // Whether an entry of this kind has text containing textPart (and hr, when given).
  bool Contains(DXL_EntryKind kind, std::string_view textPart) const;
  bool ContainsError(HRESULT hr, std::string_view textPart = {}) const;

 private:
  bool m_captureCalls;
  mutable std::mutex m_mutex;
  std::vector<DXL_Entry> m_entries;
};

// How much a stream sink writes: errors only, errors and release entries, or everything.
enum class DXL_Threshold { Error = 0, Release = 1, Debug = 2 };

// Writes one line per entry to a stdio stream. Thread-safe.
class DXL_StreamSink final : public DXL_Sink {
 public:
  // Borrows stream (stderr, stdout) for the sink's lifetime.
  DXL_StreamSink(std::FILE* stream, DXL_Threshold threshold) noexcept;
  // Opens (appends to) the file at path; null when it cannot be opened.
  static std::shared_ptr<DXL_StreamSink> OpenFile(const std::string& path,
                                                  DXL_Threshold threshold) noexcept;
  ~DXL_StreamSink() override;
  bool Wants(DXL_EntryKind kind) const noexcept override;
  void Write(const DXL_Entry& entry) noexcept override;

 private:
  std::FILE* m_stream;
  bool m_ownsStream = false;
  DXL_Threshold m_threshold;
  std::mutex m_mutex;
};

// The process-wide log.
class DXL_Log {
 public:
  // Creates the singleton if absent; returns it (never null).
  static DXL_Log* CreateInstance() noexcept;
  // The singleton, or null before CreateInstance.
  static DXL_Log* GetInstancePtr() noexcept;

  void LogMessageEx(const char* component, const char* source, const char* levelText, long number,
                    const char* format, ...) noexcept;

  // Installs sink (null: silence); returns the sink it replaces.
  static std::shared_ptr<DXL_Sink> SetSink(std::shared_ptr<DXL_Sink> sink) noexcept;
  static std::shared_ptr<DXL_Sink> GetSink() noexcept;
  // The one relaxed load that every logger makes first.
  static bool HasSink() noexcept { return s_hasSink.load(std::memory_order_relaxed); }

 private:
  DXL_Log() = default;
  static std::atomic<bool> s_hasSink;
};

// Installs a sink for a scope and puts the previous one back at its end.
class DXL_ScopedSink {
 public:
  explicit DXL_ScopedSink(std::shared_ptr<DXL_Sink> sink) noexcept
      : m_previous(DXL_Log::SetSink(std::move(sink))) {}
  ~DXL_ScopedSink() { (void)DXL_Log::SetSink(std::move(m_previous)); }
  DXL_ScopedSink(const DXL_ScopedSink&) = delete;
  DXL_ScopedSink& operator=(const DXL_ScopedSink&) = delete;

 private:
  std::shared_ptr<DXL_Sink> m_previous;
};

// One per instrumented class; built at compile time so that static loggers exist before any
// other static initialization runs. Borrows its strings (string literals).
class DXL_ClassLogger {
 public:
  constexpr DXL_ClassLogger(const char* className, long number, const char* componentName) noexcept
      : m_className(className), m_number(number), m_componentName(componentName) {}
  ~DXL_ClassLogger() = default;
  DXL_ClassLogger(const DXL_ClassLogger&) = delete;
  DXL_ClassLogger& operator=(const DXL_ClassLogger&) = delete;

  const char* ClassName() const noexcept { return m_className; }
  const char* ComponentName() const noexcept { return m_componentName; }
  long Number() const noexcept { return m_number; }

 private:
  const char* m_className;
  long m_number;
  const char* m_componentName;
};

// One per logged call; lives on the stack for the call. Borrows the class logger, the function
// name and the text until it ends.
class DXL_FunctionLogger {
 public:
  DXL_FunctionLogger(const DXL_ClassLogger& classLogger, const char* functionName,
                     const void* objectIdentity, long number, const char* text, int level,
                     std::uint32_t objectValue) noexcept
      : m_classLogger(classLogger),
        m_functionName(functionName),
        m_objectIdentity(objectIdentity),
        m_text(text),
        m_number(number),
        m_level(level),
        m_objectValue(objectValue) {
    if (DXL_Log::HasSink()) Emit(DXL_EntryKind::Enter, false, S_OK, m_text, nullptr);
  }
  ~DXL_FunctionLogger() {
    if (DXL_Log::HasSink()) Emit(DXL_EntryKind::Leave, false, S_OK, nullptr, nullptr);
  }
  DXL_FunctionLogger(const DXL_FunctionLogger&) = delete;
  DXL_FunctionLogger& operator=(const DXL_FunctionLogger&) = delete;

  void LogErrorMessage(HRESULT hr) noexcept;
  void LogErrorMessage(HRESULT hr, const char* text) noexcept;
  void LogReleaseMessage(const char* format, ...) noexcept;
  void LogDebugMessage(const char* format, ...) noexcept;

  const char* FunctionName() const noexcept { return m_functionName; }

 private:
  // Formats (when args is not null) and hands the entry to the sink, if it wants it.
  void Emit(DXL_EntryKind kind, bool hasHr, HRESULT hr, const char* format,
            std::va_list* args) noexcept;

  const DXL_ClassLogger& m_classLogger;
  const char* m_functionName;
  const void* m_objectIdentity;
  const char* m_text;
  long m_number;
  int m_level;
  std::uint32_t m_objectValue;
};
