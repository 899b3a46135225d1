#include "capture/record.h"

#include "host/host.h"
#include "state/events.h"

namespace capture {

int gameSecond() { return truncate32(gpGlobals->time); }

int g_refused_events = 0;

}  // namespace capture
