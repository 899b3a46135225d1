// Game capture: the hooks that watch the game on the server's main thread and write what they
// see into the open slot of the state ring (state/state.h). The hooks themselves are declared in
// capture/hooks.h; every one of them only observes and stores MRES_IGNORED.
//
//   messages.cpp        RegUserMsg_Post, MessageBegin, the Write* hooks, MessageEnd (messages.h)
//   resolve.cpp         resolveUserMessages, below
//   handlers_*.cpp      the Client_* message handlers, the chat and radio tables (handlers.h)
//   frame.cpp           capture::advanceFrame (from the plugin's StartFrame), PlayerPostThink
//   grenades.cpp        SetModel, Think, EmitSound
//   clients.cpp         ClientConnect, ClientPutInServer, ClientDisconnect,
//                       ClientUserInfoChanged_Post
#pragma once

// Map start: asks Metamod for the id of every intercepted message the game registered before the
// plugin was attached, and enters its handler in the dispatch tables.
void resolveUserMessages();
