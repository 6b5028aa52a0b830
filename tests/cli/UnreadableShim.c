/* Preloaded into corvella-cli by its tests: every open of the file named by
 * CORVELLA_UNREADABLE fails with EACCES, as for a user without read
 * permission (the tests run as root, whom permission bits do not stop). */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int Refused(const char* path)
{
    const char* unreadable = getenv("CORVELLA_UNREADABLE");
    if (path == NULL || unreadable == NULL || strcmp(path, unreadable) != 0)
        return 0;
    errno = EACCES;
    return 1;
}

static mode_t ModeOf(int flags, va_list arguments)
{
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? (mode_t)va_arg(arguments, int) : 0;
}

#define FORWARD_OPEN(name)                                                      \
    int name(const char* path, int flags, ...)                                  \
    {                                                                           \
        va_list arguments;                                                      \
        va_start(arguments, flags);                                             \
        mode_t mode = ModeOf(flags, arguments);                                 \
        va_end(arguments);                                                      \
        if (Refused(path))                                                      \
            return -1;                                                          \
        int (*next)(const char*, int, ...) = dlsym(RTLD_NEXT, #name);           \
        return next(path, flags, mode);                                         \
    }

#define FORWARD_OPENAT(name)                                                    \
    int name(int folder, const char* path, int flags, ...)                      \
    {                                                                           \
        va_list arguments;                                                      \
        va_start(arguments, flags);                                             \
        mode_t mode = ModeOf(flags, arguments);                                 \
        va_end(arguments);                                                      \
        if (Refused(path))                                                      \
            return -1;                                                          \
        int (*next)(int, const char*, int, ...) = dlsym(RTLD_NEXT, #name);      \
        return next(folder, path, flags, mode);                                 \
    }

#define FORWARD_FOPEN(name)                                                     \
    FILE* name(const char* path, const char* mode)                              \
    {                                                                           \
        if (Refused(path))                                                      \
            return NULL;                                                        \
        FILE* (*next)(const char*, const char*) = dlsym(RTLD_NEXT, #name);      \
        return next(path, mode);                                                \
    }

FORWARD_OPEN(open)
FORWARD_OPEN(open64)
FORWARD_OPENAT(openat)
FORWARD_OPENAT(openat64)
FORWARD_FOPEN(fopen)
FORWARD_FOPEN(fopen64)
