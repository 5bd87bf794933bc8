/* Preloaded into Wine's processes for COM ports on a pseudo-terminal.
 *
 * Wine polls a serial port's modem and line status. A pty has neither, so
 * those ioctls fail with ENOTTY and Wine ends every pending WaitCommEvent
 * with an error. Only when the real call fails, this answers as a quiet,
 * connected line would: modem lines CTS|DSR|CAR|DTR|RTS, zeroed interrupt
 * counters, and an empty transmitter once the output queue is empty. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <linux/serial.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>

typedef int (*ioctl_fn)(int, unsigned long, void *);

static int fake(int fd, unsigned long request, void *arg, ioctl_fn real) {
    int saved = errno;
    switch (request) {
    case TIOCMGET:
        *(int *)arg = TIOCM_CTS | TIOCM_DSR | TIOCM_CAR | TIOCM_DTR | TIOCM_RTS;
        break;
    case TIOCGICOUNT:
        memset(arg, 0, sizeof(struct serial_icounter_struct));
        break;
    case TIOCSERGETLSR: {
        int queued = 0;
        *(unsigned int *)arg = (real(fd, TIOCOUTQ, &queued) == 0 && queued == 0) ? TIOCSER_TEMT : 0;
        break;
    }
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC:
        break;
    default:
        return -2;
    }
    errno = saved;
    return 0;
}

static int wrapped(const char *name, int fd, unsigned long request, void *arg) {
    ioctl_fn real = (ioctl_fn)dlsym(RTLD_NEXT, name);
    if (!real) {
        errno = ENOSYS;
        return -1;
    }
    int r = real(fd, request, arg);
    if (r == -1 && (errno == ENOTTY || errno == EINVAL)) {
        int f = fake(fd, request, arg, real);
        if (f == 0)
            return 0;
        errno = ENOTTY;
    }
    return r;
}

int ioctl(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    return wrapped("ioctl", fd, request, arg);
}

/* Debian's i386 libc routes ioctl through its 64-bit time variant. */
int __ioctl_time64(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    return wrapped("__ioctl_time64", fd, request, arg);
}
