// What the library exports: the device class, its factory and its exception.
// Everything else stays inside the library.
#pragma once

#if defined(_WIN32)
#  if defined(ZELTO_EXPORTS)
#    define ZELTO_API __declspec(dllexport)
#  else
#    define ZELTO_API __declspec(dllimport)
#  endif
#else
#  define ZELTO_API __attribute__((visibility("default")))
#endif
