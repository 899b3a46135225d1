// The little spectate needs from the system beyond the project's network layer.
#pragma once

bool startNetwork();       // Windows: the socket library; elsewhere nothing to do
void prepareConsole();     // Windows: ANSI sequences on; elsewhere nothing to do
// A command typed on standard input, without waiting: the first letter of a line, 0 when none
// is waiting, -1 once the input has ended (it is not asked again).
int pollCommand();
