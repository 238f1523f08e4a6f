/* Makes one operation of a process fail, for the fault-injection tests:
 * loaded with LD_PRELOAD, it counts the calls of one kind made after the
 * process first opens a file whose path holds PLINTH_FAULT_ARM, and makes the
 * PLINTH_FAULT_AT-th of them fail as the system would (a full disk, an I/O
 * error, no memory). When it does, it creates the file PLINTH_FAULT_REPORT.
 *
 *   PLINTH_FAULT_OP  read | write | alloc | close | rename | link
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

extern void* __libc_malloc(size_t size);

static int armed;
static long calls;

static int faultHere(const char* op) {
    if (!__atomic_load_n(&armed, __ATOMIC_SEQ_CST)) return 0;
    const char* wanted = getenv("PLINTH_FAULT_OP");
    if (wanted == NULL || strcmp(wanted, op) != 0) return 0;
    const char* at = getenv("PLINTH_FAULT_AT");
    const long n = __atomic_add_fetch(&calls, 1, __ATOMIC_SEQ_CST);
    if (at == NULL || n != atol(at)) return 0;
    const char* report = getenv("PLINTH_FAULT_REPORT");
    if (report != NULL) {
        /* Through the system call itself, so that this open neither counts nor allocates. */
        const int fd = (int)syscall(SYS_openat, AT_FDCWD, report, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0) close(fd);
    }
    return 1;
}

static void armOn(const char* path) {
    const char* marker = getenv("PLINTH_FAULT_ARM");
    if (path != NULL && marker != NULL && strstr(path, marker) != NULL) __atomic_store_n(&armed, 1, __ATOMIC_SEQ_CST);
}

#define NEXT(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))

int open(const char* path, int flags, ...) {
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    armOn(path);
    return NEXT(open)(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    armOn(path);
    return NEXT(open64)(path, flags, mode);
}

ssize_t read(int fd, void* buffer, size_t bytes) {
    if (faultHere("read")) {
        errno = EIO;
        return -1;
    }
    return NEXT(read)(fd, buffer, bytes);
}

size_t fwrite(const void* data, size_t size, size_t count, FILE* stream) {
    if (faultHere("write")) {
        errno = ENOSPC;
        return 0;
    }
    return NEXT(fwrite)(data, size, count, stream);
}

int fflush(FILE* stream) {
    if (stream != NULL && faultHere("write")) {
        errno = ENOSPC;
        return EOF;
    }
    return NEXT(fflush)(stream);
}

int fclose(FILE* stream) {
    const int fail = faultHere("close");
    const int result = NEXT(fclose)(stream);
    if (fail) {
        errno = EIO;
        return EOF;
    }
    return result;
}

int rename(const char* from, const char* to) {
    if (faultHere("rename")) {
        errno = EIO;
        return -1;
    }
    return NEXT(rename)(from, to);
}

int linkat(int fromFolder, const char* from, int toFolder, const char* to, int flags) {
    if (faultHere("link")) {
        errno = ENOSPC;
        return -1;
    }
    return NEXT(linkat)(fromFolder, from, toFolder, to, flags);
}

void* malloc(size_t size) {
    if (faultHere("alloc")) {
        errno = ENOMEM;
        return NULL;
    }
    return __libc_malloc(size);
}
