// TOV_API: the one macro that exports tovlib's classes and constants from the shared library.
#ifndef TOVLIB_TOVEXPORT_H
#define TOVLIB_TOVEXPORT_H

// The library is compiled with hidden visibility; everything a client may name is
// marked with TOV_API. Classes are exported whole, so that their virtual tables and
// type information have a single home and dynamic_cast and catch work across the
// library boundary.
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
