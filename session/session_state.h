#pragma once
// States of the adapter session's state machine. A request handler stores
// one of the request codes (ssClearIdentity, ssSendSelectMode, ssSendPower,
// ssSendSelfTest, ssSendUpdate, ssStartUploadDirect, ssSendReset) as the
// state to enter once the port is open, then starts the session. The codes
// are fixed: the state is kept in one byte.
#include <cstdint>

namespace qvx {

enum TSessionState : uint8_t {
    ssIdle = 0, // no session
    ssStart = 1,
    ssClearIdentity = 2,
    ssSendIdentify = 3,
    ssWaitSent = 4,
    ssIdentityDone = 5,
    ssSendSelectMode = 8,
    ssSendModeNumber = 9,
    ssModeSelected = 10,
    ssSendPower = 11,
    ssSendPowerArg = 12,
    ssPowerDone = 13,
    ssSendSelfTest = 14,
    ssSelfTestDone = 15,
    ssSendUpdate = 16,
    ssStartUpload = 17,       // after the reply to "!Morvek_SC_U"
    ssStartUploadDirect = 18, // upload without the service command first
    ssUploading = 19,
    ssNotFound = 23,
    ssWaitReply = 24,
    ssSendReset = 25,
};

} // namespace qvx
