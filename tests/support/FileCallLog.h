// Test seam over the file layer's system calls: records the calls that
// change files, in order, and can make the n-th of them fail with EIO; reads
// are counted apart, and the n-th read can fail too.
// Installed for the lifetime of one FileCallLog; one at a time.
#pragma once

#include "files/FileCalls.h"

#include <cerrno>
#include <fcntl.h>
#include <set>
#include <string>
#include <utility>
#include <vector>

class FileCallLog {
public:
    FileCallLog() { Install(); }
    ~FileCallLog() { SystemFileCalls() = PlainFileCalls(); }
    FileCallLog(const FileCallLog&) = delete;
    FileCallLog& operator=(const FileCallLog&) = delete;

    // The changing calls so far: "write", "pwrite", "fsync", "fsync-folder",
    // "truncate", "rename", "link", "unlink", "create" (an open that may
    // create a file); runs of "write" count once each.
    static std::vector<std::string>& Calls() { return state().calls; }
    // Makes the n-th changing call (1-based) fail with `error`; 0: none.
    static void FailCall(int n, int error = EIO)
    {
        state().failAt = n;
        state().error = error;
    }
    // Offset and length of every pwrite, in order.
    static std::vector<std::pair<off_t, size_t>>& PositionedWrites() { return state().pwrites; }
    // Makes the n-th read (1-based, counted from now) fail with EIO; 0: none.
    static void FailRead(int n)
    {
        state().reads = 0;
        state().failReadAt = n;
    }
    // Makes every open of an unnamed file fail with `error`.
    static void RefuseUnnamedFiles(int error) { state().refuseUnnamed = error; }

private:
    struct State {
        std::vector<std::string> calls;
        std::vector<std::pair<off_t, size_t>> pwrites;
        std::set<int> folders;
        int failAt = 0;
        int error = EIO;
        int refuseUnnamed = 0;
        int reads = 0;
        int failReadAt = 0;
    };
    static State& state()
    {
        static State s;
        return s;
    }
    static bool Turn(const std::string& name)
    {
        state().calls.push_back(name);
        if (int(state().calls.size()) == state().failAt) {
            errno = state().error;
            return true;
        }
        return false;
    }
    static void Install()
    {
        state() = State{};
        FileCalls& calls = SystemFileCalls();
        calls.open = [](const char* path, int flags, mode_t mode) {
            if ((flags & O_TMPFILE) == O_TMPFILE && state().refuseUnnamed) {
                errno = state().refuseUnnamed;
                return -1;
            }
            bool creates = (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE;
            if (creates && Turn("create"))
                return -1;
            int fd = PlainFileCalls().open(path, flags, mode);
            if (fd >= 0 && (flags & O_TMPFILE) != O_TMPFILE && (flags & O_DIRECTORY))
                state().folders.insert(fd);
            else if (fd >= 0)
                state().folders.erase(fd);
            return fd;
        };
        calls.read = [](int fd, void* data, size_t count) -> ssize_t {
            if (++state().reads == state().failReadAt) {
                errno = EIO;
                return -1;
            }
            return PlainFileCalls().read(fd, data, count);
        };
        calls.write = [](int fd, const void* data, size_t count) -> ssize_t {
            return Turn("write") ? -1 : PlainFileCalls().write(fd, data, count);
        };
        calls.pwrite = [](int fd, const void* data, size_t count, off_t at) -> ssize_t {
            state().pwrites.emplace_back(at, count);
            return Turn("pwrite") ? -1 : PlainFileCalls().pwrite(fd, data, count, at);
        };
        calls.fsync = [](int fd) {
            return Turn(state().folders.count(fd) ? "fsync-folder" : "fsync") ? -1 : PlainFileCalls().fsync(fd);
        };
        calls.ftruncate = [](int fd, off_t size) {
            return Turn("truncate") ? -1 : PlainFileCalls().ftruncate(fd, size);
        };
        calls.rename = [](const char* from, const char* to) {
            return Turn("rename") ? -1 : PlainFileCalls().rename(from, to);
        };
        calls.linkat = [](int a, const char* from, int b, const char* to, int flags) {
            return Turn("link") ? -1 : PlainFileCalls().linkat(a, from, b, to, flags);
        };
        calls.unlink = [](const char* path) { return Turn("unlink") ? -1 : PlainFileCalls().unlink(path); };
    }
};
