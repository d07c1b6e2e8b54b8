// An object made on first use and never destroyed: code that runs while the
// process ends (the application empties its release queue in its destructor,
// after other statics are gone) may still reach it. It lives in static storage;
// what it allocates is freed by its users once they are done with it.
#pragma once

#include <new>

namespace kelvarin {

template <class T> T& Immortal() {
  alignas(T) static unsigned char storage[sizeof(T)];
  static T* const object = ::new (static_cast<void*>(storage)) T();
  return *object;
}

} // namespace kelvarin
