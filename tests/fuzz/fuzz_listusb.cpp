// The USB list's reading of the D2XX device records, scan after scan on this
// thread as TListUSB scans on its own: the listing functions report counts
// and statuses and fill records as the fuzz input says (never beyond the room
// they were given, as the library's contract is). Every scan must replace
// what the one before listed with only what the records hold: "USB:" + a
// serial of at most 16 bytes, a description of at most 64, never more
// entries than records filled.
#include "platform/memory/fake_libraries.h"
#include "serdev/d2xx.h"
#include "serdev/portlists.h"
#include "tests/fuzz/fuzz_link.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>

namespace {

using namespace qvx;

// What the listing functions answer in the scan to come.
struct TListing {
    FtStatus CreateStatus = 0;
    uint32_t Count = 0;
    FtStatus ReadStatus = 0;
    uint32_t Claimed = 0; // the count the read reports back
    Bytes Records;        // what the read copies, at most the room it has
};
TListing Listing;

FtStatus QVX_STDCALL FakeCreate(uint32_t* count) {
    *count = Listing.Count;
    return Listing.CreateStatus;
}

FtStatus QVX_STDCALL FakeRead(void* records, uint32_t* count) {
    const size_t room = size_t(*count) * d2xxrecord::Size;
    const size_t n = std::min(room, Listing.Records.size());
    std::memcpy(records, Listing.Records.data(), n);
    *count = Listing.Claimed;
    return Listing.ReadStatus;
}

void NextListing(FuzzedDataProvider& in) {
    Listing = TListing();
    Listing.CreateStatus = in.ConsumeIntegralInRange<FtStatus>(0, 4) == 0 ? 1 : 0;
    Listing.Count = in.ConsumeBool() ? in.ConsumeIntegral<uint32_t>()
                                     : in.ConsumeIntegralInRange<uint32_t>(0, 8);
    Listing.ReadStatus = in.ConsumeIntegralInRange<FtStatus>(0, 4) == 0 ? 1 : 0;
    Listing.Claimed = in.ConsumeBool() ? in.ConsumeIntegral<uint32_t>() : Listing.Count;
    Listing.Records = in.ConsumeBytesAsString(in.ConsumeIntegralInRange<size_t>(0, 8 * 100));
}

// One scan into lists that hold the previous scan's entries.
void Scan(TUsbListReader& reader, TPortLists& lists) {
    FUZZ_CHECK(reader.Scan(lists)); // the library is always there
    const size_t n = lists.Count();
    // Never more than both counts allow; nothing from a failed listing.
    FUZZ_CHECK(n <= std::min(Listing.Count, Listing.Claimed));
    if (Listing.CreateStatus != 0 || Listing.ReadStatus != 0)
        FUZZ_CHECK(n == 0);
    for (size_t i = 0; i < n; ++i) {
        const TPortEntry& e = lists.Entries[i];
        FUZZ_CHECK(e.Name.compare(0, 4, "USB:") == 0);
        FUZZ_CHECK(e.Name.size() <= 4 + d2xxrecord::SerialLength);
        FUZZ_CHECK(e.Description.size() <= d2xxrecord::DescriptionLength);
        FUZZ_CHECK(e.DeviceId.empty());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    TFakeLibraries libraries;
    libraries.Add("mvd2xx.dll", {{"FT_CreateDeviceInfoList", reinterpret_cast<void*>(&FakeCreate)},
                                 {"FT_GetDeviceInfoList", reinterpret_cast<void*>(&FakeRead)}});
    TUsbListReader reader(libraries);
    TPortLists lists;
    NextListing(in);
    Scan(reader, lists);
    for (int scans = 1; scans < 4 && in.remaining_bytes() > 0; ++scans) {
        NextListing(in);
        Scan(reader, lists);
    }
    return 0;
}
