// "kovitv_version": the server variable that shows the plugin's version and its spectators in
// server queries.
#pragma once

// Attach: registers the variable with the engine (Metamod keeps its own copy of it).
void registerVersionCvar();

// "kovitv_version" reads "<version> (<spectators>/<limit>)".
void setVersionCvar(int spectators, int limit);
