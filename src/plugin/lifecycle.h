// What belongs to one map is set up by ServerActivate_Post and torn down by ServerDeactivate_Post
// (plugin/hooks.h); this is the rest of the plugin's life.
#pragma once

// Attach: arranges for unloadPlugin to run when the library is unloaded or the process exits,
// before any global object is destroyed (it registers after they were all built). Once only.
void registerUnload();

// Stops every thread, then frees what they used: the queued packets, the connections, the demo
// file, the sockets, the state slots, the names, the configuration and the mutex. Safe to run
// more than once; touches nothing of the host.
void unloadPlugin();

// Main thread: logs one line when a failed write has closed the demo file since the last call
// (the encoder thread may not log). Map end calls it; a per-frame hook may too.
void reportDemoFailure();

// Main thread, at each map's end: one line for each bound that gave something up during the map
// (events over a snapshot's packets or a slot's room, names, unsent snapshots), then the counts
// start again.
void reportDropped();
