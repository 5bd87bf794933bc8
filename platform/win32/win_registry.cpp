// Placeholder until the Windows registry seam lands.
#include <windows.h>
