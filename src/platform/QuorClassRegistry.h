// CQuorClassRegistry: the process-wide table of class objects behind CoGetClassObject and
// CoCreateInstance, and the module lock count (live objects plus LockServer locks).
//
// Subsystems register their creatable classes at static construction with
// QUOR_OBJECT_ENTRY_AUTO(clsid, CClass, u"Name") in the class's .cpp file. Because the entries
// live in static libraries, each entry also defines the symbol QuorObjectEntry_<CClass>; a
// program that creates the class only by identifier must pull that symbol in (the build adds
// `-u QuorObjectEntry_<CClass>` to the link options of the subsystem's library).
//
// Thread-safe. The class objects are made on first request and kept until process exit.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "quormediafiles/platform/QuorComPtr.h"
#include "quormediafiles/platform/QuorDispatch.h"

// Makes a new object and hands out its riid interface (E_POINTER, E_OUTOFMEMORY,
// E_NOINTERFACE).
using QuorCreateInstanceFn = HRESULT (*)(REFIID riid, void** ppv);

struct CQuorClassEntry {
  const CLSID* clsid;
  QuorCreateInstanceFn create;
  const char16_t* name;  // the coclass name, for diagnostics
};

class CQuorClassRegistry {
 public:
  static CQuorClassRegistry& Instance() noexcept;

  // A later entry for the same class identifier replaces an earlier one.
  void Register(const CQuorClassEntry& entry) noexcept;
  // The class object of rclsid from the table; CLASS_E_CLASSNOTAVAILABLE when not registered.
  [[nodiscard]] HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) noexcept;

  static void LockModule() noexcept { s_lockCount.fetch_add(1, std::memory_order_relaxed); }
  static void UnlockModule() noexcept { s_lockCount.fetch_sub(1, std::memory_order_acq_rel); }
  // Live objects (class objects included) plus server locks.
  static LONG LockCount() noexcept { return s_lockCount.load(std::memory_order_acquire); }

 private:
  struct CSlot {
    CQuorClassEntry entry;
    CQuorComPtr<IClassFactory> factory;  // made on first request
  };

  CQuorClassRegistry() = default;

  std::mutex m_mutex;
  std::vector<CSlot> m_slots;
  static inline std::atomic<LONG> s_lockCount{0};
};

// Registers one entry when constructed (at static construction of its translation unit).
class CQuorClassRegistrar {
 public:
  explicit CQuorClassRegistrar(const CQuorClassEntry& entry) noexcept {
    CQuorClassRegistry::Instance().Register(entry);
  }
};

#define QUOR_OBJECT_ENTRY_AUTO(clsid, TClass, name)                \
  extern "C" {                                                     \
  extern const CQuorClassRegistrar QuorObjectEntry_##TClass;       \
  const CQuorClassRegistrar QuorObjectEntry_##TClass{              \
      CQuorClassEntry{&(clsid), &QuorCreateObject<TClass>, name}}; \
  }
