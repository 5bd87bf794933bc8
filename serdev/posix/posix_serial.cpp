#include "serdev/posix/posix_serial.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qvx {

namespace {

// How long Write waits for the previous chunk to go before it gives up.
constexpr auto ChunkHandOver = std::chrono::milliseconds(1000);
// What one read or write of the I/O thread moves at most.
constexpr size_t IoPiece = 4096;

tcflag_t SizeFlag(uint8_t bits) {
    switch (bits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

uint8_t BitsOf(const termios& t) {
    switch (t.c_cflag & CSIZE) {
    case CS5:
        return 5;
    case CS6:
        return 6;
    case CS7:
        return 7;
    default:
        return 8;
    }
}

// Raw bytes without flow control; the line settings (speed, data bits,
// parity, stop bits) stay as the port has them, the modem lines too.
void MakeRaw(termios& t) {
    const tcflag_t kept = t.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB);
    cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL);
    t.c_cflag |= kept | CLOCAL | CREAD;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    if (kept & PARENB)
        t.c_iflag |= INPCK;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

// The first line of a small sysfs file; "" when it cannot be read.
std::string ReadLine(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::string();
    char buffer[256];
    ssize_t n = read(fd, buffer, sizeof buffer);
    close(fd);
    if (n <= 0)
        return std::string();
    std::string text(buffer, static_cast<size_t>(n));
    text = text.substr(0, text.find('\n'));
    while (!text.empty() && (text.back() == ' ' || text.back() == '\r'))
        text.pop_back();
    return text;
}

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string BaseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// "ttyS2" before "ttyS10": the name's digits at the end compare as a number.
bool NaturalLess(const std::string& a, const std::string& b) {
    auto split = [](const std::string& s) {
        size_t i = s.size();
        while (i > 0 && s[i - 1] >= '0' && s[i - 1] <= '9')
            --i;
        return i;
    };
    const size_t ia = split(a), ib = split(b);
    const std::string pa = a.substr(0, ia), pb = b.substr(0, ib);
    if (pa != pb)
        return pa < pb;
    const std::string na = a.substr(ia), nb = b.substr(ib);
    if (na.size() != nb.size())
        return na.size() < nb.size();
    return na < nb;
}

// One serial device as the lists show it: the USB interface's, product's or
// maker's text when it sits on USB, else its driver's name.
void DescribeDevice(const std::string& sysRoot, const std::string& deviceLink,
                    std::string& description, std::string& deviceId) {
    description.clear();
    deviceId.clear();
    char real[PATH_MAX];
    if (!realpath(deviceLink.c_str(), real))
        return;
    std::string interfaceText, product, maker;
    std::string path = real;
    char rootReal[PATH_MAX];
    const std::string root = realpath(sysRoot.c_str(), rootReal) ? rootReal : sysRoot;
    while (path.size() > root.size() && path.compare(0, root.size(), root) == 0) {
        if (interfaceText.empty() && Exists(path + "/bInterfaceNumber"))
            interfaceText = ReadLine(path + "/interface");
        if (Exists(path + "/idVendor") && Exists(path + "/idProduct")) {
            deviceId = "USB\\VID_" + Upper(ReadLine(path + "/idVendor")) + "&PID_" +
                       Upper(ReadLine(path + "/idProduct"));
            product = ReadLine(path + "/product");
            maker = ReadLine(path + "/manufacturer");
            break;
        }
        path = path.substr(0, path.find_last_of('/'));
    }
    for (const std::string* text : {&interfaceText, &product, &maker})
        if (!text->empty()) {
            description = *text;
            return;
        }
    char driver[PATH_MAX];
    ssize_t n = readlink((deviceLink + "/driver").c_str(), driver, sizeof driver - 1);
    if (n > 0)
        description = BaseName(std::string(driver, static_cast<size_t>(n)));
}

} // namespace

bool PosixSerialBusy(int error) {
    return error == EBUSY || error == EWOULDBLOCK || error == EAGAIN;
}

TPosixSerial::TPosixSerial(IUserIo& userIo, std::string sysRoot, std::string devRoot)
    : UserIo(userIo), SysRoot(std::move(sysRoot)), DevRoot(std::move(devRoot)),
      Rx(new char[PosixSerialBufferSize]) {}

TPosixSerial::~TPosixSerial() {
    Close();
}

void TPosixSerial::ReportOpenFailure(int error) {
    Error = error;
    if (error == 0)
        return;
    UserIo.ShowBox("COM-port Error: " + std::string(std::strerror(error)),
                   "Open Port(" + Port + ") Error...", mb::Ok | mb::IconInformation,
                   TBoxOwner::MainWindow);
}

bool TPosixSerial::Open() {
    if (IsOpen())
        Close();
    Error = 0;
    int fd = open(Port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        ReportOpenFailure(errno);
        return false;
    }
    int error = 0;
    termios t{};
    // The lock first: a device that another holds keeps its own settings.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || tcgetattr(fd, &t) != 0 || ioctl(fd, TIOCEXCL) != 0)
        error = errno;
    if (error == 0) {
        MakeRaw(t);
        if (tcsetattr(fd, TCSANOW, &t) != 0 || tcgetattr(fd, &LineState) != 0 ||
            pipe2(WakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
            error = errno;
        if (error != 0)
            ioctl(fd, TIOCNXCL);
    }
    if (error != 0) {
        close(fd);
        ReportOpenFailure(error);
        return false;
    }
    Bits = BitsOf(LineState);
    tcflush(fd, TCIOFLUSH);
    {
        std::lock_guard<std::mutex> guard(Lock);
        Stop = false;
        Gone = false;
        DataArrived = false;
        RxFill = RxPos = 0;
        TxPending.clear();
    }
    Fd = fd;
    Io = std::thread([this] { IoLoop(); });
    return true;
}

bool TPosixSerial::Close() {
    if (!IsOpen())
        return true;
    Drain();
    {
        std::lock_guard<std::mutex> guard(Lock);
        Stop = true;
    }
    Wake();
    Changed.notify_all();
    if (Io.joinable())
        Io.join();
    // The exclusive flag stays with the device otherwise, for as long as
    // anybody else holds it open.
    ioctl(Fd, TIOCNXCL);
    close(Fd);
    Fd = -1;
    close(WakePipe[0]);
    close(WakePipe[1]);
    WakePipe[0] = WakePipe[1] = -1;
    std::lock_guard<std::mutex> guard(Lock);
    RxFill = RxPos = 0;
    TxPending.clear();
    DataArrived = false;
    return true;
}

// What was written just before a close still leaves: the I/O thread hands the
// rest to the device and the device sends its queue, within the hand-over
// bound (tcdrain would wait without one).
void TPosixSerial::Drain() {
    const auto deadline = std::chrono::steady_clock::now() + ChunkHandOver;
    {
        std::unique_lock<std::mutex> lock(Lock);
        if (!Changed.wait_until(lock, deadline, [&] { return Gone || TxPending.empty(); }) || Gone)
            return;
    }
    for (;;) {
        int queued = 0;
        if (ioctl(Fd, TIOCOUTQ, &queued) != 0 || queued <= 0 ||
            std::chrono::steady_clock::now() >= deadline)
            return;
        poll(nullptr, 0, 1);
    }
}

bool TPosixSerial::DeviceGone() const {
    std::lock_guard<std::mutex> guard(Lock);
    return Gone;
}

void TPosixSerial::Wake() {
    if (WakePipe[1] >= 0) {
        const char c = 0;
        ssize_t ignored = write(WakePipe[1], &c, 1);
        (void)ignored; // a full pipe wakes the thread as well
    }
}

void TPosixSerial::IoLoop() {
    char piece[IoPiece];
    for (;;) {
        size_t space = 0;
        bool sending = false;
        {
            std::lock_guard<std::mutex> guard(Lock);
            if (Stop)
                return;
            space = static_cast<size_t>(PosixSerialBufferSize - RxFill);
            sending = !TxPending.empty();
        }
        pollfd p[2] = {
            {Fd, static_cast<short>((space > 0 ? POLLIN : 0) | (sending ? POLLOUT : 0)), 0},
            {WakePipe[0], POLLIN, 0}};
        if (poll(p, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            p[0].revents = POLLERR;
        }
        if (p[1].revents & POLLIN)
            while (read(WakePipe[0], piece, sizeof piece) > 0) {
            }
        bool lost = false;
        if (p[0].revents & POLLIN) {
            ssize_t n = read(Fd, piece, std::min(space, sizeof piece));
            if (n > 0) {
                std::lock_guard<std::mutex> guard(Lock);
                std::memcpy(Rx.get() + RxFill, piece, static_cast<size_t>(n));
                RxFill += static_cast<int32_t>(n);
                DataArrived = true;
                Changed.notify_all();
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                lost = true;
            }
        } else if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            lost = true;
        }
        if (!lost && (p[0].revents & POLLOUT)) {
            size_t count = 0;
            {
                std::lock_guard<std::mutex> guard(Lock);
                count = std::min(TxPending.size(), sizeof piece);
                std::memcpy(piece, TxPending.data(), count);
            }
            ssize_t n = write(Fd, piece, count);
            if (n > 0) {
                std::lock_guard<std::mutex> guard(Lock);
                TxPending.erase(0, static_cast<size_t>(n));
                Changed.notify_all();
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                lost = true;
            }
        }
        if (lost) {
            std::lock_guard<std::mutex> guard(Lock);
            Gone = true;
            TxPending.clear();
            Changed.notify_all();
            return;
        }
    }
}

bool TPosixSerial::Write(const Bytes& bytes) {
    if (!IsOpen())
        return bytes.empty();
    std::unique_lock<std::mutex> lock(Lock);
    if (bytes.empty())
        return !Gone;
    size_t offset = 0;
    do {
        if (!Changed.wait_for(lock, ChunkHandOver, [&] { return Gone || TxPending.empty(); }) ||
            Gone)
            return false; // the rest is dropped
        size_t n = std::min(bytes.size() - offset, static_cast<size_t>(PosixSerialBufferSize));
        // Nothing is queued, so nothing is on its way either: what the line
        // takes at once leaves now, without a turn of the I/O thread (which
        // a busy machine may keep waiting). The rest is queued as usual.
        const ssize_t direct = write(Fd, bytes.data() + offset, n);
        if (direct > 0) {
            offset += static_cast<size_t>(direct);
            n -= static_cast<size_t>(direct);
        }
        if (n == 0)
            continue;
        TxPending.append(bytes, offset, n);
        offset += n;
        Wake();
    } while (offset < bytes.size());
    return true;
}

size_t TPosixSerial::TakeLocked(Bytes& out, size_t limit) {
    const size_t n = std::min(static_cast<size_t>(RxFill - RxPos), limit);
    out.append(Rx.get() + RxPos, n);
    RxPos += static_cast<int32_t>(n);
    if (RxPos == PosixSerialBufferSize) {
        RxFill = RxPos = 0; // read empty: the reader fills it again from the start
        Wake();
    }
    return n;
}

int32_t TPosixSerial::InputCount() {
    if (!IsOpen())
        return 0;
    std::lock_guard<std::mutex> guard(Lock);
    return RxFill - RxPos;
}

int32_t TPosixSerial::OutputCount() {
    if (!IsOpen())
        return 0;
    int queued = 0;
    if (ioctl(Fd, TIOCOUTQ, &queued) != 0 || queued < 0)
        queued = 0;
    std::lock_guard<std::mutex> guard(Lock);
    return static_cast<int32_t>(TxPending.size()) + queued;
}

bool TPosixSerial::ReadAvailable(Bytes& text) {
    if (!IsOpen())
        return true;
    std::lock_guard<std::mutex> guard(Lock);
    if (RxFill - RxPos <= 0)
        return true;
    text.clear();
    TakeLocked(text, PosixSerialBufferSize);
    return true;
}

bool TPosixSerial::ReadWait(Bytes& text, uint32_t idleMs, uint32_t totalMs) {
    Bytes collected;
    if (IsOpen()) {
        using TClock = std::chrono::steady_clock;
        const TClock::time_point deadline = TClock::now() + std::chrono::milliseconds(totalMs);
        std::unique_lock<std::mutex> lock(Lock);
        while (collected.size() < static_cast<size_t>(PosixSerialReadWaitLimit)) {
            std::chrono::milliseconds wait(idleMs);
            if (totalMs > 0) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now());
                if (left.count() <= 0)
                    break;
                wait = std::min(wait, left);
            }
            // Each arrival wakes one wait, as the Windows link's event does;
            // a device that is gone ends the wait at once.
            Changed.wait_for(lock, wait, [&] { return DataArrived || Gone; });
            if (!DataArrived)
                break;
            DataArrived = false;
            TakeLocked(collected, PosixSerialReadWaitLimit - collected.size());
        }
    }
    if (collected.empty())
        return false;
    text = collected;
    return true;
}

void TPosixSerial::ReadLineState() {
    if (IsOpen() && tcgetattr(Fd, &LineState) == 0)
        Bits = BitsOf(LineState);
}

void TPosixSerial::ApplyByteSize() {
    if (!IsOpen() || Bits < 5 || Bits > 8)
        return;
    termios t{};
    if (tcgetattr(Fd, &t) != 0)
        return;
    t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | SizeFlag(Bits);
    if (tcsetattr(Fd, TCSANOW, &t) == 0)
        LineState = t;
}

uint8_t TPosixSerial::SetByteSize(uint8_t bits) {
    Bits = bits;
    ApplyByteSize();
    return Bits;
}

void TPosixSerial::GetPortLists(TPortLists& lists) {
    const std::string classDir = SysRoot + "/class/tty";
    std::vector<std::string> names;
    if (DIR* dir = opendir(classDir.c_str())) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != ".." && Exists(classDir + "/" + name + "/device"))
                names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    for (const std::string& name : names) {
        std::string description, deviceId;
        DescribeDevice(SysRoot, classDir + "/" + name + "/device", description, deviceId);
        lists.Add(DevRoot + "/" + name, description, deviceId);
    }
}

} // namespace qvx
