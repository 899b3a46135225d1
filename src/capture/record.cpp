#include "capture/record.h"

#include "plugin/host.h"
#include "stream/chunks.h"

namespace capture {

int gameSecond() { return truncate32(gpGlobals->time); }

void appendEvent(PacketChunk* chunk) {
    if (g_current == nullptr) {
        delete chunk;
        return;
    }
    if (!g_current->m_events.append(chunk)) g_refused_events++;
}

int g_refused_events = 0;

}  // namespace capture
