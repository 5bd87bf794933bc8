#pragma once
// Calling convention of entry points resolved from system and vendor libraries
// (D2XX, pass-thru libraries, winmm). Standard call on 32-bit Windows, the
// default convention everywhere else.
#if defined(_WIN32) && !defined(_WIN64)
#define QVX_STDCALL __stdcall
#else
#define QVX_STDCALL
#endif
