// A start page the web server cannot open: "/" answers 404, which only the visitor sees, so the
// admin is told in the log, once per map. Visitor threads note it; the main thread logs.
#pragma once

// Any visitor thread: the page for "/" at this full path could not be opened. Only the first
// name noted since the map started is kept.
void noteMissingStartPage(const char* name);

// Main thread, once a frame: logs the noted name, once per map. A plain load when nothing waits.
void reportMissingStartPage();

// Main thread, at each map start: the next miss is logged again.
void rearmMissingStartPage();
