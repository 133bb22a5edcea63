/// Basic types shared by every module of the run-time library.
#ifndef LIB_MISC_BASICTYPES_H
#define LIB_MISC_BASICTYPES_H

#include <stddef.h>
#include <stdint.h>

typedef char Bool;
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

typedef uint8_t uint8;
typedef uint16_t uint16;
typedef uint32_t uint32;
typedef uint64_t uint64;
typedef int8_t int8;
typedef int16_t int16;
typedef int32_t int32;
typedef int64_t int64;

#define PRINTF_DECL(fmtPos, argPos) __attribute__((format(printf, fmtPos, argPos)))
#define NORETURN __attribute__((noreturn))
// Code run for every logged line is kept together, and the rare branches
// out of its way: after each write system call the caches are cold, and a
// line's cost grows with every code page it touches.
#define HOT_PATH __attribute__((hot))
#define COLD_PATH __attribute__((cold, noinline))

#endif
