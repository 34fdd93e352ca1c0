// The exported entry points and the library's load and unload steps.
#include "objects/QuorMediaFilesExports.h"

#include "core/QuorClassLoggers.h"
#include "objects/QuorMediaFilesModule.h"
#include "platform/crt/QuorInvalidParameter.h"

namespace {

// The interface proxy code's part of each entry point. The proxies and stubs of the library's
// interfaces marshal calls between apartments and processes through the RPC runtime; this
// platform has neither, so the proxy code knows no class, holds nothing and registers nothing.
// Each entry point still asks it first, where its generated code would be called.
HRESULT PrxDllGetClassObject(REFCLSID /*rclsid*/, REFIID /*riid*/, void** /*ppv*/) noexcept {
  return CLASS_E_CLASSNOTAVAILABLE;
}
HRESULT PrxDllCanUnloadNow() noexcept { return S_OK; }
HRESULT PrxDllRegisterServer() noexcept { return S_OK; }
HRESULT PrxDllUnregisterServer() noexcept { return S_OK; }

// The handler that was installed before the library was loaded, put back at unload.
_invalid_parameter_handler g_previousHandler = nullptr;

// Runs when the library is loaded, after the static construction of its objects (the class
// loggers and the class table entries).
__attribute__((constructor)) void QuorMediaFilesAttach() noexcept {
  CQuorMediaFilesModule::Instance().ProcessAttach();
  g_previousHandler = _set_invalid_parameter_handler(&QuorInvalidParameterHandler);
}

__attribute__((destructor)) void QuorMediaFilesDetach() noexcept {
  if (_get_invalid_parameter_handler() == &QuorInvalidParameterHandler) {
    (void)_set_invalid_parameter_handler(g_previousHandler);  // returns our own handler
  }
}

}  // namespace

HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) noexcept {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  const HRESULT hr = PrxDllGetClassObject(rclsid, riid, ppv);
  if (hr != CLASS_E_CLASSNOTAVAILABLE) return hr;
  return CQuorMediaFilesModule::Instance().GetClassObject(rclsid, riid, ppv);
}

HRESULT DllCanUnloadNow() noexcept {
  if (PrxDllCanUnloadNow() != S_OK) return S_FALSE;
  return CQuorMediaFilesModule::Instance().GetLockCount() == 0 ? S_OK : S_FALSE;
}

HRESULT DllRegisterServer() noexcept {
  const HRESULT hr = PrxDllRegisterServer();
  if (FAILED(hr)) return hr;
  return CQuorMediaFilesModule::Instance().RegisterServer();
}

HRESULT DllUnregisterServer() noexcept {
  const HRESULT hr = PrxDllUnregisterServer();
  if (FAILED(hr)) return hr;
  return CQuorMediaFilesModule::Instance().UnregisterServer();
}
