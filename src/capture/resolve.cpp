// Late resolution: a plugin attached after the game registered its messages never saw them in
// RegUserMsg_Post, so it asks Metamod for their ids by name at every map start.
#include "capture/capture.h"
#include "capture/messages.h"
#include "host/host.h"

void resolveUserMessages() {
    if (gpMetaUtilFuncs == nullptr || gpMetaUtilFuncs->pfnGetUserMsgID == nullptr) return;
    for (const UserMsgEntry* row = g_user_msg; row->name != nullptr; ++row) {
        if (*row->id != 0) continue;  // learned at registration or on an earlier map
        installUserMessage(*row, gpMetaUtilFuncs->pfnGetUserMsgID(&Plugin_info, row->name, nullptr));
    }
}
