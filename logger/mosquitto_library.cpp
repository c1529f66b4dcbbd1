#include "logger/mosquitto_library.h"

#include <dlfcn.h>

namespace {

struct Loaded {
  MosquittoLibrary functions;
  std::string error;
  bool ok = false;
};

Loaded Load() {
  Loaded loaded;
  // Never closed: sessions may live until exit.
  void* handle = ::dlopen("libmosquitto.so.1", RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    loaded.error = std::string("cannot load libmosquitto: ") + ::dlerror();
    return loaded;
  }
  MosquittoLibrary& f = loaded.functions;
#define VARNEL_MOSQUITTO_LOOKUP(name)                                                      \
  f.mosquitto_##name =                                                                     \
      reinterpret_cast<decltype(f.mosquitto_##name)>(::dlsym(handle, "mosquitto_" #name)); \
  if (f.mosquitto_##name == nullptr) {                                                     \
    loaded.error = "libmosquitto lacks mosquitto_" #name;                                  \
    return loaded;                                                                         \
  }
  VARNEL_MOSQUITTO_FUNCTIONS(VARNEL_MOSQUITTO_LOOKUP)
#undef VARNEL_MOSQUITTO_LOOKUP
  loaded.ok = true;
  return loaded;
}

}  // namespace

const MosquittoLibrary* MosquittoLibrary::Get(std::string* error) {
  static const Loaded loaded = Load();
  if (!loaded.ok && error != nullptr) *error = loaded.error;
  return loaded.ok ? &loaded.functions : nullptr;
}
