// Game capture entry points used outside the hooks.
#pragma once

// Map start: asks Metamod for the id of every intercepted message the game registered before the
// plugin was attached, and enters its handler in the dispatch tables.
void resolveUserMessages();
