// The POSIX device link against a pseudo-terminal served by the simulated
// adapter (pty_sim_device, started per test), and its port lists on a
// sysfs tree of the test's own.
#include "serdev/posix/posix_serial.h"

#include "platform/memory/scripted_userio.h"
#include "tests/native/pty_sim_device.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace qvx {
namespace {

// Reads until the reply's end marker has come (or the device has gone).
Bytes ReadReply(TPosixSerial& link) {
    Bytes all;
    const auto end = std::chrono::steady_clock::now() + HangLimit;
    while (all.find("\r\n\r\n", 2) == std::string::npos && !link.DeviceGone() &&
           std::chrono::steady_clock::now() < end) {
        Bytes piece;
        if (link.ReadWait(piece, 50))
            all += piece;
    }
    return all;
}

TEST(PosixSerial, IdentifyExchangeCrossesThePty) {
    TSimDevice device("line.rate=11520\nline.chunk=64\n");
    ASSERT_TRUE(device.Ready);
    TScriptedUserIo userIo;
    TPosixSerial link(userIo);
    link.SetPortName(device.Link);
    ASSERT_TRUE(link.Open());
    EXPECT_TRUE(link.Write("!Morvek_SC_I"));
    const Bytes reply = ReadReply(link);
    EXPECT_EQ(reply.rfind("\r\nCR:(c) Morveklink, Quorvelix adapter\r\n", 0), 0u) << reply;
    EXPECT_NE(reply.find("\r\nSN:QV2A0017\r\n"), std::string::npos) << reply;
    EXPECT_TRUE(link.Close());
    EXPECT_TRUE(userIo.Boxes().empty());
}

// A pty keeps only 8 data bits without parity; the speed and the stop bits
// it keeps as set.
TEST(PosixSerial, OpenKeepsTheLineSettingsAndMakesTheLineRaw) {
    TSimDevice device("");
    ASSERT_TRUE(device.Ready);
    int fd = open(device.Link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios before{};
    ASSERT_EQ(tcgetattr(fd, &before), 0);
    before.c_lflag |= ICANON | ECHO;
    before.c_iflag |= IXON | ICRNL;
    before.c_cflag |= CSTOPB | CRTSCTS | HUPCL;
    cfsetispeed(&before, B57600);
    cfsetospeed(&before, B57600);
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &before), 0);

    TScriptedUserIo userIo;
    TPosixSerial link(userIo);
    link.SetPortName(device.Link);
    ASSERT_TRUE(link.Open());
    termios after{};
    ASSERT_EQ(tcgetattr(fd, &after), 0);
    EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B57600));
    EXPECT_EQ(after.c_cflag & CSTOPB, static_cast<tcflag_t>(CSTOPB));
    EXPECT_EQ(after.c_cflag & (CRTSCTS | HUPCL), 0u);
    EXPECT_EQ(after.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(after.c_iflag & (IXON | ICRNL), 0u);
    close(fd);
}

TEST(PosixSerial, AHeldOrMissingDeviceFailsToOpenWithItsError) {
    TSimDevice device("");
    ASSERT_TRUE(device.Ready);
    TScriptedUserIo userIo;
    TPosixSerial first(userIo), second(userIo);
    first.SetPortName(device.Link);
    second.SetPortName(device.Link);
    ASSERT_TRUE(first.Open());
    EXPECT_FALSE(second.Open());
    EXPECT_TRUE(PosixSerialBusy(second.LastError())) << second.LastError();
    ASSERT_EQ(userIo.Boxes().size(), 1u);
    EXPECT_EQ(userIo.Boxes()[0].Caption, "Open Port(" + device.Link + ") Error...");
    EXPECT_EQ(userIo.Boxes()[0].Text.rfind("COM-port Error: ", 0), 0u);
    EXPECT_EQ(userIo.Boxes()[0].Flags, mb::Ok | mb::IconInformation);

    // Closed, the device is free again, also for another process.
    first.Close();
    int other = open(device.Link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    close(other);
    EXPECT_TRUE(second.Open());
    EXPECT_EQ(second.LastError(), 0);

    TPosixSerial missing(userIo);
    missing.SetPortName(device.Folder + "/none");
    EXPECT_FALSE(missing.Open());
    EXPECT_EQ(missing.LastError(), ENOENT);
    EXPECT_FALSE(PosixSerialBusy(missing.LastError()));
}

TEST(PosixSerial, AVanishingDeviceEndsInputAndWrites) {
    TSimDevice device("line.rate=11520\nfault.disconnect.bytes=40\n");
    ASSERT_TRUE(device.Ready);
    TScriptedUserIo userIo;
    TPosixSerial link(userIo);
    link.SetPortName(device.Link);
    ASSERT_TRUE(link.Open());
    ASSERT_TRUE(link.Write("!Morvek_SC_I"));
    Bytes received;
    const auto end = std::chrono::steady_clock::now() + HangLimit;
    while (link.Write("x") && std::chrono::steady_clock::now() < end) {
        Bytes piece;
        if (link.ReadWait(piece, 20))
            received += piece;
    }
    EXPECT_FALSE(link.Write("x"));
    EXPECT_LE(received.size(), 40u);
    // No wait for input lasts once the device is gone.
    auto wait = std::async(std::launch::async, [&] {
        Bytes rest;
        while (link.ReadWait(rest, 3600 * 1000))
            received += rest;
        return link.InputCount();
    });
    ASSERT_EQ(wait.wait_for(HangLimit), std::future_status::ready);
    EXPECT_EQ(wait.get(), 0);
    EXPECT_LE(received.size(), 40u);
    EXPECT_TRUE(link.Close());
    EXPECT_FALSE(link.IsOpen());
}

TEST(PosixSerial, LostOnceTheDeviceGoes) {
    TSimDevice device("fault.disconnect.bytes=10\n");
    ASSERT_TRUE(device.Ready);
    TScriptedUserIo userIo;
    TPosixSerial link(userIo);
    link.SetPortName(device.Link);
    ASSERT_TRUE(link.Open());
    EXPECT_FALSE(link.Lost());
    ASSERT_TRUE(link.Write("!Morvek_SC_I"));
    const auto end = std::chrono::steady_clock::now() + HangLimit;
    while (!link.Lost() && std::chrono::steady_clock::now() < end) {
        Bytes piece;
        link.ReadWait(piece, 20);
    }
    EXPECT_TRUE(link.Lost());
    link.Close();
    EXPECT_FALSE(link.Lost());
}

// The adapter takes the command 150 ms after it was written; the link closes
// at once and opens again before the reply comes.
TEST(PosixSerial, AWriteJustBeforeCloseReachesTheDevice) {
    TSimDevice device("fault.write.delay=150000\n");
    ASSERT_TRUE(device.Ready);
    TScriptedUserIo userIo;
    TPosixSerial link(userIo);
    link.SetPortName(device.Link);
    ASSERT_TRUE(link.Open());
    ASSERT_TRUE(link.Write("!Morvek_SC_I"));
    EXPECT_TRUE(link.Close());
    ASSERT_TRUE(link.Open());
    Bytes reply;
    EXPECT_TRUE(link.ReadWait(reply, 1000));
    EXPECT_NE(reply.find("\r\nSN:QV2A0017\r\n"), std::string::npos) << reply;
}

// A sysfs tree: two serial ports on USB (one with an interface text), two
// on the board and a console without a device.
class PosixPortLists : public ::testing::Test {
protected:
    void SetUp() override { Root = MakeTempFolder(); }
    void TearDown() override { RemoveTree(Root); }

    void Folder(const std::string& path) {
        std::system(("mkdir -p '" + Root + "/" + path + "'").c_str());
    }
    void File(const std::string& path, const std::string& text) {
        std::ofstream(Root + "/" + path) << text << "\n";
    }
    void Link(const std::string& path, const std::string& target) {
        ASSERT_EQ(symlink((Root + "/" + target).c_str(), (Root + "/" + path).c_str()), 0) << path;
    }
    std::string Root;
};

TEST_F(PosixPortLists, ListSerialDevicesWithTheirUsbIdentity) {
    const std::string usb = "devices/pci0/usb1/1-1";
    Folder(usb + "/1-1:1.0/ttyUSB0");
    File(usb + "/idVendor", "0403");
    File(usb + "/idProduct", "60a1");
    File(usb + "/product", "Quorvelix adapter");
    File(usb + "/manufacturer", "Morveklink");
    File(usb + "/1-1:1.0/bInterfaceNumber", "00");
    const std::string acm = "devices/pci0/usb2/2-1";
    Folder(acm + "/2-1:1.0");
    File(acm + "/idVendor", "1d50");
    File(acm + "/idProduct", "606f");
    File(acm + "/product", "Board");
    File(acm + "/2-1:1.0/bInterfaceNumber", "00");
    File(acm + "/2-1:1.0/interface", "CDC Port");
    Folder("devices/platform/serial8250");
    Folder("bus/platform/drivers/serial8250");
    Link("devices/platform/serial8250/driver", "bus/platform/drivers/serial8250");
    Folder("bus/usb-serial/drivers/ftdi_sio");
    Link(usb + "/1-1:1.0/ttyUSB0/driver", "bus/usb-serial/drivers/ftdi_sio");
    for (const char* name : {"ttyUSB0", "ttyACM0", "ttyS10", "ttyS2", "tty0"})
        Folder(std::string("class/tty/") + name);
    Link("class/tty/ttyUSB0/device", usb + "/1-1:1.0/ttyUSB0");
    Link("class/tty/ttyACM0/device", acm + "/2-1:1.0");
    Link("class/tty/ttyS10/device", "devices/platform/serial8250");
    Link("class/tty/ttyS2/device", "devices/platform/serial8250");

    TScriptedUserIo userIo;
    TPosixSerial link(userIo, Root, "/dev");
    TPortLists lists;
    lists.Add("earlier", "kept", "");
    link.GetPortLists(lists);
    const std::vector<TPortEntry> expected = {
        {"earlier", "kept", ""},
        {"/dev/ttyACM0", "CDC Port", "USB\\VID_1D50&PID_606F"},
        {"/dev/ttyS2", "serial8250", ""},
        {"/dev/ttyS10", "serial8250", ""},
        {"/dev/ttyUSB0", "Quorvelix adapter", "USB\\VID_0403&PID_60A1"},
    };
    EXPECT_EQ(lists.Entries, expected);
}

} // namespace
} // namespace qvx
