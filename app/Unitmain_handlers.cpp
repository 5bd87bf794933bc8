// Event handlers of the main window. Each one is an empty stub for now; the
// window behaviour is filled in here handler by handler.
#include "app/Unitmain.h"

namespace qvx {} // namespace qvx
