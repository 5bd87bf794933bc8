#pragma once
// Resource ids of the program file, shared by the resource script, the Windows
// layer and the portable window description (plain #defines so that the
// resource compiler can read them too).
#define IDI_MAIN 1
#define IDB_LOGO 100
#define IDB_STATE_RUNNING 110
#define IDB_STATE_ACTIVE 111
#define IDB_STATE_HIDDEN 112
#define IDB_STATE_AVAILABLE 113
