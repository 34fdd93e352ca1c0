// The four entry points that make the library an in-process component server. They are the
// only symbols the shared library exports (C linkage, default visibility); a client finds them
// with dlsym after loading the library from the path that the class registry names.
#pragma once

#include "quormediafiles/platform/QuorDispatch.h"

#define QUOR_SERVER_EXPORT extern "C" __attribute__((visibility("default")))

// The class object of one of the library's coclasses. CLASS_E_CLASSNOTAVAILABLE for any other
// identifier; E_POINTER for a null ppv.
QUOR_SERVER_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) noexcept;
// S_OK when no object, class object lock or server lock holds the library; S_FALSE otherwise.
QUOR_SERVER_EXPORT HRESULT DllCanUnloadNow() noexcept;
// Writes the library's entries into the class registry: application identifier, the six
// coclasses with both program identifiers, and the type library.
QUOR_SERVER_EXPORT HRESULT DllRegisterServer() noexcept;
// Removes exactly those entries.
QUOR_SERVER_EXPORT HRESULT DllUnregisterServer() noexcept;
