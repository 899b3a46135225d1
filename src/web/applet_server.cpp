#include "web/applet_server.h"

#include "net/net.h"
#include "plugin/globals.h"

// Until the visitor service exists, connections are accepted and closed at once so that a
// browser is not left hanging.
void* AppletSender(void* arg) {
    Thread* self = static_cast<Thread*>(arg);
    while (self->m_running) {
        StreamSocket* visitor = nullptr;
        InetAddress peer;
        if (g_tcp_socket.accept(&visitor, &peer, 1050) == 1) {
            visitor->stop();
            delete visitor;
        }
    }
    return nullptr;
}
