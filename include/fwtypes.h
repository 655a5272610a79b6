/* Integer and character types of the public interfaces. On Windows they are exactly the Windows types
   (unsigned long is 32 bits, wchar_t 16 bits); on Linux they keep the same sizes, so every shared record
   has one layout on both. */
#ifndef FWTYPES_H
#define FWTYPES_H

#include <stdint.h>

#ifdef _WIN32
#include <wchar.h>
typedef unsigned long fw_ulong;
typedef wchar_t fw_wchar;
typedef void* fw_handle;
/* Windows exports are listed in each library's .def file (plain and MSVC-decorated names). */
#define FW_EXPORT
#else
#ifdef __cplusplus
typedef char16_t fw_wchar;
#else
typedef uint16_t fw_wchar;
#endif
typedef uint32_t fw_ulong;
typedef void* fw_handle;
#define FW_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
static_assert(sizeof(fw_ulong) == 4, "fw_ulong is 32 bits on every platform");
static_assert(sizeof(fw_wchar) == 2, "fw_wchar is 16 bits on every platform");
#endif

#endif
