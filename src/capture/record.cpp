#include "capture/record.h"

#include "plugin/host.h"
#include "stream/chunks.h"

namespace capture {

int gameSecond() { return truncate32(gpGlobals->time); }

int g_refused_events = 0;

}  // namespace capture
