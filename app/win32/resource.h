#pragma once
// Resource ids of the program file (shared by the resource script and code).
#include "../resource_ids.h"
