/* Preloaded into a program under test, makes its positioned writes fail as a failing disk's
 * do: a write reaching past the offset in VEXO_FAIL_WRITES_AT stores what lies before it,
 * and every write beyond fails with EIO. */
#define _GNU_SOURCE
#include <errno.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <unistd.h>

static ssize_t WriteBefore(int fd, const void* data, size_t size, long long offset) {
    const char* text = getenv("VEXO_FAIL_WRITES_AT");
    const long long failAt = text ? atoll(text) : -1;
    if (failAt >= 0 && offset + (long long)size > failAt) {
        if (offset >= failAt) {
            errno = EIO;
            return -1;
        }
        size = (size_t)(failAt - offset);
    }
    return syscall(SYS_pwrite64, fd, data, size, offset);
}

ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
    return WriteBefore(fd, data, size, offset);
}

ssize_t pwrite64(int fd, const void* data, size_t size, off64_t offset) {
    return WriteBefore(fd, data, size, offset);
}
