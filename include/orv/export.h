/* Symbol visibility, for the C++ headers and orv/orv_c.h alike. The library builds with hidden
 * visibility: only what carries ORV_API is exported from a shared liborv. Members of an exported
 * class are exported with it, so the internal types nested in one (its pimpl) carry ORV_HIDDEN. */
#ifndef ORV_EXPORT_H
#define ORV_EXPORT_H

#if defined(__GNUC__)
#define ORV_API __attribute__((visibility("default")))
#define ORV_HIDDEN __attribute__((visibility("hidden")))
#else
#define ORV_API
#define ORV_HIDDEN
#endif

#endif
