#include "broadcast/delayer.h"

#include "net/net.h"

// Until the encoder exists the thread only follows its stop flag.
void* PacketDelayer(void* arg) {
    Thread* self = static_cast<Thread*>(arg);
    while (self->m_running) Thread::sleep(10);
    return nullptr;
}
