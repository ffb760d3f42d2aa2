#pragma once
// A library the program loads when it first needs it rather than links
// (libssl, libcrypto, libresolv's parsers): a check that does not use it
// does not pay for loading it. Loaded at most once per process and never
// unloaded; a failed load is tried again by the next use. POSIX only.
//
// A set of calls is a struct whose members are pointers named after the
// functions, with a member template Resolve(F) that hands each member to F:
//
//   #define MY_CALLS(X) X(SSL_new) X(SSL_free)
//   struct TCalls {
//     MY_CALLS(TOLVANE_CALL_POINTER)
//     template <typename F> void Resolve(F&& Call) { MY_CALLS(TOLVANE_RESOLVE_CALL) }
//   };

#include <dlfcn.h>

#include <mutex>
#include <string>
#include <type_traits>

#define TOLVANE_CALL_POINTER(name) decltype(&::name) name = nullptr;
#define TOLVANE_RESOLVE_CALL(name) Call(#name, name);

// Why a library's calls could not be had: the loader's reason (Missing
// empty), or the first call the library lacks.
struct TLoadFailure {
  std::string Reason;
  std::string Missing;
};

// The calls of Soname, resolved once; nullptr with Failure filled in when
// the library or one of its calls is missing.
template <typename TCalls>
const TCalls* LoadCalls(const char* Soname, TLoadFailure& Failure) {
  static std::mutex loading;
  static const TCalls* loaded = nullptr;
  std::lock_guard<std::mutex> lock(loading);
  if (loaded) return loaded;
  void* library = dlopen(Soname, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char* reason = dlerror();
    Failure.Reason = reason ? reason : "";
    return nullptr;
  }
  auto* calls = new TCalls;
  calls->Resolve([&](const char* Name, auto& Slot) {
    Slot = reinterpret_cast<std::remove_reference_t<decltype(Slot)>>(dlsym(library, Name));
    if (!Slot && Failure.Missing.empty()) Failure.Missing = Name;
  });
  if (!Failure.Missing.empty()) {
    delete calls;
    dlclose(library);
    return nullptr;
  }
  loaded = calls;
  return loaded;
}
