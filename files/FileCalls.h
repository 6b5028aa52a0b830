// The system calls through which the file layer reads and changes files,
// gathered in one table. The program never alters the table; tests replace
// entries to watch the order of the calls or to make any one of them fail,
// which no file on a healthy disk can be made to do on demand.
#pragma once

#include <sys/types.h>

struct FileCalls {
    int (*open)(const char* path, int flags, mode_t mode);
    ssize_t (*read)(int fd, void* data, size_t count);
    ssize_t (*write)(int fd, const void* data, size_t count);
    ssize_t (*pwrite)(int fd, const void* data, size_t count, off_t offset);
    int (*fsync)(int fd);
    int (*ftruncate)(int fd, off_t size);
    int (*rename)(const char* from, const char* to);
    int (*linkat)(int fromFolder, const char* from, int toFolder, const char* to, int flags);
    int (*unlink)(const char* path);
};

// The table in use; starts out as the plain system calls.
FileCalls& SystemFileCalls();
// The plain system calls, for a test to fall back on.
const FileCalls& PlainFileCalls();
