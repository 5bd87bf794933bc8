#pragma once
// The main window over in-memory seams and a link whose answers the test
// scripts, for the tests of the window's behaviour.
#include "app/Unitmain.h"
#include "platform/callconv.h"
#include "platform/memory/memory_platform.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>

namespace qvx {

// Answers each written command with the reply scripted for it; replies go out
// ChunkSize bytes per read, so that one reply spans several session ticks.
class TReplyLink : public IDeviceLink {
public:
    TPortLists Lists;
    bool OpenSucceeds = true;
    bool Opened = false;
    int Opens = 0, Rescans = 0;
    size_t ChunkSize = 0;                       // 0 = everything at once
    std::map<Bytes, std::deque<Bytes>> Replies; // per command, answered in turn
    std::vector<Bytes> Writes;
    std::vector<Bytes> WritesWhileClosed;
    Bytes Pending;
    Bytes Name;

    void Answer(const Bytes& command, const Bytes& reply) { Replies[command].push_back(reply); }

    void SetPortName(const Bytes& name) override { Name = name; }
    const Bytes& PortName() const override { return Name; }
    bool Open() override {
        ++Opens;
        Opened = OpenSucceeds;
        return Opened;
    }
    bool Close() override {
        Opened = false;
        Pending.clear();
        return true;
    }
    bool IsOpen() const override { return Opened; }
    bool Write(const Bytes& bytes) override {
        if (!Opened) {
            WritesWhileClosed.push_back(bytes);
            return bytes.empty();
        }
        Writes.push_back(bytes);
        auto it = Replies.find(bytes);
        if (it != Replies.end() && !it->second.empty()) {
            Pending += it->second.front();
            if (it->second.size() > 1)
                it->second.pop_front();
        }
        return true;
    }
    int32_t InputCount() override {
        if (!Opened)
            return 0;
        size_t n = ChunkSize ? std::min(ChunkSize, Pending.size()) : Pending.size();
        return static_cast<int32_t>(n);
    }
    int32_t OutputCount() override { return 0; }
    bool ReadAvailable(Bytes& text) override {
        size_t n = static_cast<size_t>(InputCount());
        if (n > 0) {
            text = Pending.substr(0, n);
            Pending.erase(0, n);
        }
        return true;
    }
    bool ReadWait(Bytes&, uint32_t) override { return false; }
    void ReadLineState() override {}
    uint8_t SetByteSize(uint8_t bits) override { return bits; }
    void RequestUsbRescan() override { ++Rescans; }
    void GetPortLists(TPortLists& lists) override {
        lists.Entries.insert(lists.Entries.end(), Lists.Entries.begin(), Lists.Entries.end());
    }
    void AddPort(const Bytes& name, const Bytes& description, const Bytes& id = "") {
        Lists.Add(name, description, id);
    }
};

// A framed reply: start marker, lines, end marker. A reply always begins with
// its "CR:" line; one is put first when the lines have none.
inline Bytes Framed(const std::vector<std::string>& lines) {
    Bytes body = "\r\n";
    if (lines.empty() || lines[0].compare(0, 3, "CR:") != 0)
        body += "CR:(c)\r\n";
    for (const std::string& line : lines)
        body += line + "\r\n";
    return body + "\r\n";
}

class WindowTest : public ::testing::Test, protected TMemoryPlatform {
protected:
    WindowTest() {
        Form.Settings.AppProductName = "Quorvelix";
        Form.Settings.AppTitle = "Quorvelix Configurator Version 2.3.1.8";
        Link.AddPort("COM3", "Communications Port", "ACPI\\PNP0501\\1");
        Link.AddPort("USB:A1B2C3D4", "Quorvelix Adapter");
        Form.RebuildPortList(true);
    }
    // Runs the session's ticks until it ends (bounded).
    void RunSession(int maxTicks = 2000) {
        for (int i = 0; i < maxTicks && Form.SessionState != ssIdle; ++i)
            Timers.Advance(10);
    }
    void SelectPort(const std::string& name) {
        for (size_t i = 0; i < Form.Ports.Count(); ++i)
            if (Form.Ports.Entries[i].Name == name)
                Form.cbCOM.SetItemIndex(static_cast<int>(i));
    }
    std::string Setting(const std::string& name, const std::string& sub = "") {
        TMemoryRegistry::Value v;
        std::string path = "SOFTWARE\\Morveklink" + (sub.empty() ? "" : "\\" + sub);
        return Registry.GetValue(path, name, v) ? v.Text : "<missing>";
    }
    std::vector<std::string> Column(int sub) {
        std::vector<std::string> out;
        for (size_t i = 0; i < Form.lvModes.Count(); ++i) {
            TListItem* item = Form.lvModes.Item(i);
            out.push_back(sub < 0 ? item->Caption : item->SubItems[static_cast<size_t>(sub)]);
        }
        return out;
    }

    TReplyLink Link;
    TfrmMain Form{Platform, &Link};
};

} // namespace qvx
