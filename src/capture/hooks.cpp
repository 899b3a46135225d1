// Capture hooks. They are in the tables from the start so the host's view of the plugin never
// changes; until the capture code lands they only observe nothing.
#include "plugin/hooks.h"
#include "plugin/host.h"
#include "web/applet_server.h"

void Think(edict_t*) { setMetaIgnored(); }
qboolean ClientConnect(edict_t*, const char*, const char*, char*) {
    setMetaIgnored();
    return 1;
}
void ClientDisconnect(edict_t*) { setMetaIgnored(); }
void ClientPutInServer(edict_t*) { setMetaIgnored(); }
void PlayerPostThink(edict_t*) { setMetaIgnored(); }
void StartFrame() {
    reportRefusedVisitors();  // the web server's threads may not log; the main thread does
    setMetaIgnored();
}
void ClientUserInfoChanged_Post(edict_t*, char*) { setMetaIgnored(); }
void SetModel(edict_t*, const char*) { setMetaIgnored(); }
void EmitSound(edict_t*, int, const char*, float, float, int, int) { setMetaIgnored(); }
int RegUserMsg_Post(const char*, int) {
    setMetaIgnored();
    return 0;
}
void MessageBegin(int, int, const float*, edict_t*) { setMetaIgnored(); }
void MessageEnd() { setMetaIgnored(); }
void WriteByte(int) { setMetaIgnored(); }
void WriteChar(int) { setMetaIgnored(); }
void WriteShort(int) { setMetaIgnored(); }
void WriteLong(int) { setMetaIgnored(); }
void WriteAngle(float) { setMetaIgnored(); }
void WriteCoord(float) { setMetaIgnored(); }
void WriteString(const char*) { setMetaIgnored(); }
void WriteEntity(int) { setMetaIgnored(); }
