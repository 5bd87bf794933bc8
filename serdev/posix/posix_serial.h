#pragma once
// TPosixSerial: the device link over a serial device of a POSIX system
// ("/dev/ttyUSB0"), with the observable rules of the Windows link: a linear
// 16384-byte receive buffer that refills only once it has been read empty,
// at most 65536 bytes per ReadWait, Open purges, nothing read or written
// while closed, and the port used with the line settings it already has
// (baud rate, data bits, parity, stop bits), raw and without flow control.
// The only change ever made to them is SetByteSize; the modem lines are
// left as they are, also on close.
//
// The device is held exclusively: another process (or another link) that
// holds it makes Open fail, and LastError() keeps the system's error code
// (EBUSY or EWOULDBLOCK for a busy device, ENOENT for none). One I/O thread
// per open link moves received bytes into the buffer and hands written
// bytes to the device. A device that vanishes ends that thread: no more
// input comes (bytes already received stay readable), Write fails and Lost()
// is true. Close lets what was written leave first, for at most 1000 ms.
#include "platform/userio.h"
#include "serdev/link.h"

#include <termios.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace qvx {

constexpr int PosixSerialBufferSize = 16384;
constexpr int PosixSerialReadWaitLimit = 65536;

// True for the error codes of a device that another holder keeps.
bool PosixSerialBusy(int error);

class TPosixSerial : public IDeviceLink {
public:
    // Boxes go through userIo. The port lists come from the serial devices
    // below sysRoot ("/sys/class/tty/...") and are named below devRoot.
    explicit TPosixSerial(IUserIo& userIo, std::string sysRoot = "/sys",
                          std::string devRoot = "/dev");
    ~TPosixSerial() override;
    TPosixSerial(const TPosixSerial&) = delete;
    TPosixSerial& operator=(const TPosixSerial&) = delete;

    // A device path.
    void SetPortName(const Bytes& name) override { Port = name; }
    const Bytes& PortName() const override { return Port; }

    bool Open() override;
    bool Close() override;
    bool IsOpen() const override { return Fd >= 0; }
    bool Lost() override { return IsOpen() && DeviceGone(); }
    bool Write(const Bytes& bytes) override;
    int32_t InputCount() override;
    int32_t OutputCount() override;
    bool ReadAvailable(Bytes& text) override;
    bool ReadWait(Bytes& text, uint32_t idleMs, uint32_t totalMs = 0) override;
    void ReadLineState() override;
    uint8_t SetByteSize(uint8_t bits) override;
    uint8_t ByteSize() const { return Bits; }

    // Nothing to rescan: the lists are read from the system on each call.
    void RequestUsbRescan() override {}
    void GetPortLists(TPortLists& lists) override;

    // The errno of the last failure of Open; 0 = none.
    int LastError() const { return Error; }
    // True once the open device has gone away.
    bool DeviceGone() const;

private:
    void IoLoop();
    // Waits, at most the hand-over bound, until written bytes have left.
    void Drain();
    void Wake();
    void ReportOpenFailure(int error);
    void ApplyByteSize();
    // Takes up to limit bytes out of the buffer into out; under Lock.
    size_t TakeLocked(Bytes& out, size_t limit);

    IUserIo& UserIo;
    std::string SysRoot;
    std::string DevRoot;
    Bytes Port;
    int Fd = -1;
    int WakePipe[2] = {-1, -1};
    int Error = 0;
    uint8_t Bits = 8;
    termios LineState{};
    std::thread Io;

    mutable std::mutex Lock;
    std::condition_variable Changed;
    bool Stop = false;
    bool Gone = false;
    bool DataArrived = false;
    // The receive buffer: filled to RxFill, taken up to RxPos.
    std::unique_ptr<char[]> Rx;
    int32_t RxFill = 0;
    int32_t RxPos = 0;
    // Written, not yet handed to the device.
    Bytes TxPending;
};

} // namespace qvx
