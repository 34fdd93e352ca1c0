// Registers the installed module, creates objects by class identifier and prints what they
// answer: "track: front door" and the named failure of opening a missing fileset, with the
// description that the module's object left in this thread's error information.
#include <dlfcn.h>

#include <cstdio>

#include "quormediafiles/QuorMediaFilesCpp.h"

int main(int argc, char** argv) {
  const char* modulePath = argc > 1 ? argv[1] : QUOR_MODULE_PATH;
  void* module = dlopen(modulePath, RTLD_NOW);
  if (module == nullptr) {
    std::fprintf(stderr, "cannot load %s: %s\n", modulePath, dlerror());
    return 1;
  }
  using RegisterFn = HRESULT (*)();
  auto registerServer = reinterpret_cast<RegisterFn>(dlsym(module, "DllRegisterServer"));
  try {
    QuorCheck(registerServer ? registerServer() : E_FAIL, "DllRegisterServer");
    auto track = QuorCreate<IQuorTrackMetadata>(CLSID_QuorTrackMetadata);
    QuorCheck(track->SetTrackName(QuorBstr("front door").Get()), "SetTrackName");
    std::printf(
        "track: %s\n",
        QuorGetString([&](BSTR* p) { return track->GetTrackName(p); }, "GetTrackName").c_str());
    auto reader = QuorCreate<IQuorMediaFileReader>(CLSID_QuorMediaFileReader);
    try {
      QuorCheck(reader->OpenFileSet(QuorBstr("/nonexistent/missing.qmf").Get(), nullptr),
                "OpenFileSet");
    } catch (const CQuorError& e) {
      std::printf("open: %s\n", e.what());
    }
  } catch (const CQuorError& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    return 2;
  }
  return 0;
}
