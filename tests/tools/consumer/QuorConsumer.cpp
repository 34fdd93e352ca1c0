// Registers the installed module, records a fileset through quor.hpp, reads it back and prints
// "track: front door", "samples: 3", "authentic: yes", and the named failure of opening a
// missing fileset with the description that the module's object left.
// Usage: quor_consumer [MODULE] DIRECTORY
#include <dlfcn.h>

#include <cstdio>
#include <string>

#include "quormediafiles/quor.hpp"

int main(int argc, char** argv) {
  if (argc < 2) return 1;
  const char* modulePath = argc > 2 ? argv[1] : QUOR_MODULE_PATH;
  const std::string dir = argv[argc - 1];
  void* module = dlopen(modulePath, RTLD_NOW);
  if (module == nullptr) {
    std::fprintf(stderr, "cannot load %s: %s\n", modulePath, dlerror());
    return 1;
  }
  using RegisterFn = int (*)();
  auto registerServer = reinterpret_cast<RegisterFn>(dlsym(module, "DllRegisterServer"));
  if (registerServer == nullptr || registerServer() < 0) return 1;
  try {
    auto writer = quor::Writer::create(dir + "/cam.qmf", {},
                                       {{.id = 1, .name = "front door", .video = true}});
    const unsigned char frame[] = {1, 2, 3};
    for (int t = 0; t < 3; ++t) {
      writer.write(1, t, quor::SampleFlags::KeyFrame | quor::SampleFlags::Video,
                   std::span<const unsigned char>(frame));
    }
    writer.stop();
    auto reader = quor::Reader::open(dir + "/cam.qmf");
    std::printf("track: %s\n", reader.tracks().at(0).name.c_str());
    int count = 0;
    for (const quor::Sample& s : reader.samples(1)) count += s.payload().size() == 3;
    std::printf("samples: %d\n", count);
    std::printf("authentic: %s\n", reader.authenticate().authentic ? "yes" : "no");
    try {
      quor::Reader::open("/nonexistent/missing.qmf");
    } catch (const quor::Error& e) {
      std::printf("open: %s\n", e.what());
    }
  } catch (const quor::Error& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    return 2;
  }
  return 0;
}
