// Marks the library's public symbols. The library builds with hidden visibility, so only what
// carries ORV_API is exported from a shared liborv (and visible to hosts of a static one).
#pragma once

#if defined(_WIN32)
#if defined(ORV_BUILDING_LIBRARY)
#define ORV_API __declspec(dllexport)
#else
#define ORV_API
#endif
#else
#define ORV_API __attribute__((visibility("default")))
#endif
