/// \file
/// TOV_API: the one macro that exports tovlib's classes and constants from the shared library.
#ifndef TOVLIB_TOVEXPORT_H
#define TOVLIB_TOVEXPORT_H

// The library is compiled with hidden visibility; everything a client may name is
// marked with TOV_API. Classes are exported whole, so that their virtual tables and
// type information have a single home and dynamic_cast and catch work across the
// library boundary.

/// \def TOV_API
/// Marks a class or constant as part of tovlib's interface: default visibility on ELF
/// targets, dllexport while building and dllimport when using the DLL on Windows, and
/// nothing for a static library there (TOVLIB_STATIC, which the CMake target sets).
/// Clients never need to write it.
#if defined(_WIN32) || defined(__CYGWIN__)
#if defined(TOVLIB_BUILDING)
#define TOV_API __declspec(dllexport)
#elif defined(TOVLIB_STATIC)
#define TOV_API
#else
#define TOV_API __declspec(dllimport)
#endif
#else
#define TOV_API __attribute__((visibility("default")))
#endif

#endif
