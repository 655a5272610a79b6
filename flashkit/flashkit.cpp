// flashkit: one-shot whole tasks for host programs. Each operation loads flashcore by file name, opens the
// selected camera, performs one task, closes and unloads. The operations arrive with the facade.
#include "flashkit.h"
