// CQuorClassRegistry: the class table of one binary (a program or a shared module) and its module
// lock count (live objects, referenced class objects and LockServer locks); and the process-wide
// list of published class tables behind CoGetClassObject and CoCreateInstance.
//
// Subsystems register their creatable classes at static construction with
// QUOR_OBJECT_ENTRY_AUTO(clsid, CClass, u"Name") in the class's .cpp file. Because the entries
// live in static libraries, each entry also defines the symbol QuorObjectEntry_<CClass>; a
// program that creates the class only by identifier must pull that symbol in (the build adds
// `-u QuorObjectEntry_<CClass>` to the link options of the subsystem's library).
//
// The table, its class objects and the lock count have hidden visibility: every binary that links
// the engine's static libraries holds its own, and the shared runtime (libquor_platform.so) holds
// none. A table publishes itself to the runtime when it is constructed and withdraws when it is
// destroyed (at exit, or when its module is unloaded). A module that the in-process server table
// loads publishes too, so that its own code finds its classes; the server table withdraws it,
// together with the unload decision, before it unloads the module.
//
// The class objects are made on first request and cached by the table. The cached reference does
// not hold the module; every reference handed out does, until it is released. Thread-safe.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <new>
#include <vector>

#include "quormediafiles/platform/QuorComPtr.h"
#include "quormediafiles/platform/QuorDispatch.h"

// One copy per binary: the module's copy stays inside the module.
#define QUOR_BINARY_LOCAL __attribute__((visibility("hidden")))

// Makes a new object and hands out its riid interface (E_POINTER, E_OUTOFMEMORY,
// E_NOINTERFACE).
using QuorCreateInstanceFn = HRESULT (*)(REFIID riid, void** ppv);
// A published table's lookup: the class object of rclsid, CLASS_E_CLASSNOTAVAILABLE if unknown.
using QuorClassTableFn = HRESULT (*)(REFCLSID rclsid, REFIID riid, void** ppv);

// The runtime's list of published tables, asked in the order of publication. A table published
// while this thread is loading an in-process server belongs to that server.
void QuorPublishClassTable(QuorClassTableFn lookup) noexcept;
void QuorWithdrawClassTable(QuorClassTableFn lookup) noexcept;

struct CQuorClassEntry {
  const CLSID* clsid;
  QuorCreateInstanceFn create;
  const char16_t* name;  // the coclass name, for diagnostics
};

class QUOR_BINARY_LOCAL CQuorClassRegistry {
 public:
  static CQuorClassRegistry& Instance() noexcept {
    // Constructed on first use, so registrars in any translation unit may run before others.
    static CQuorClassRegistry registry;
    return registry;
  }

  CQuorClassRegistry(const CQuorClassRegistry&) = delete;
  CQuorClassRegistry& operator=(const CQuorClassRegistry&) = delete;

  // A later entry for the same class identifier replaces an earlier one.
  void Register(const CQuorClassEntry& entry) noexcept;
  // The class object of rclsid from this binary's table; CLASS_E_CLASSNOTAVAILABLE when not
  // registered here.
  [[nodiscard]] HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) noexcept;

  static void LockModule() noexcept { s_lockCount.fetch_add(1, std::memory_order_relaxed); }
  static void UnlockModule() noexcept { s_lockCount.fetch_sub(1, std::memory_order_acq_rel); }
  // This binary's live objects, referenced class objects and server locks.
  static LONG LockCount() noexcept { return s_lockCount.load(std::memory_order_acquire); }

 private:
  class CFactory;
  struct CSlot {
    CQuorClassEntry entry;
    CFactory* factory;  // the table's reference; made on first request
  };

  CQuorClassRegistry() noexcept { QuorPublishClassTable(&Lookup); }
  ~CQuorClassRegistry();
  static HRESULT Lookup(REFCLSID rclsid, REFIID riid, void** ppv) noexcept {
    return Instance().GetClassObject(rclsid, riid, ppv);
  }

  std::mutex m_mutex;
  std::vector<CSlot> m_slots;
  static inline std::atomic<LONG> s_lockCount{0};
};

// The class object of one class: a new object per CreateInstance through the class's creator
// function; aggregation is refused.
class QUOR_BINARY_LOCAL CQuorClassRegistry::CFactory final : public IClassFactory {
 public:
  explicit CFactory(QuorCreateInstanceFn create) noexcept : m_create(create) {}

  HRESULT QueryInterface(REFIID riid, void** ppvObject) override {
    if (!ppvObject) return E_POINTER;
    *ppvObject = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
    AddRef();
    *ppvObject = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  // Every reference but the table's own holds the module.
  ULONG AddRef() override {
    LockModule();
    return m_references.fetch_add(1, std::memory_order_relaxed) + 1;
  }
  ULONG Release() override {
    const ULONG remaining = m_references.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (remaining == 0) delete this;  // the table is gone: process exit
    UnlockModule();
    return remaining;
  }
  // Drops the table's reference, which does not count as a lock.
  void ReleaseTableReference() noexcept {
    if (m_references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

  HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override {
    if (!ppvObject) return E_POINTER;
    *ppvObject = nullptr;
    if (pUnkOuter) return CLASS_E_NOAGGREGATION;
    return m_create(riid, ppvObject);
  }
  HRESULT LockServer(INT fLock) override {
    if (fLock) {
      LockModule();
    } else {
      UnlockModule();
    }
    return S_OK;
  }

 private:
  ~CFactory() = default;

  QuorCreateInstanceFn m_create;
  std::atomic<ULONG> m_references{1};  // the table's
};

inline CQuorClassRegistry::~CQuorClassRegistry() {
  QuorWithdrawClassTable(&Lookup);
  for (CSlot& slot : m_slots) {
    if (slot.factory) slot.factory->ReleaseTableReference();
  }
}

inline void CQuorClassRegistry::Register(const CQuorClassEntry& entry) noexcept {
  std::scoped_lock lock(m_mutex);
  for (CSlot& slot : m_slots) {
    if (*slot.entry.clsid == *entry.clsid) {
      slot.entry = entry;
      if (slot.factory) slot.factory->ReleaseTableReference();
      slot.factory = nullptr;
      return;
    }
  }
  try {
    m_slots.push_back(CSlot{entry, nullptr});
  } catch (const std::bad_alloc&) {
    // (void): at static construction there is nobody to report to; the class then reports
    // CLASS_E_CLASSNOTAVAILABLE when asked for.
    (void)entry;
  }
}

inline HRESULT CQuorClassRegistry::GetClassObject(REFCLSID rclsid, REFIID riid,
                                                  void** ppv) noexcept {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  std::scoped_lock lock(m_mutex);
  for (CSlot& slot : m_slots) {
    if (*slot.entry.clsid != rclsid) continue;
    if (!slot.factory) {
      slot.factory = new (std::nothrow) CFactory(slot.entry.create);
      if (!slot.factory) return E_OUTOFMEMORY;
    }
    return slot.factory->QueryInterface(riid, ppv);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

// Registers one entry when constructed (at static construction of its translation unit).
class QUOR_BINARY_LOCAL CQuorClassRegistrar {
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
