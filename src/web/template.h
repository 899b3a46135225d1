// Filling a page's $name placeholders from the configuration store ($demo, any case, from the
// request's query); BinFile::loadWithValues (host/config.h) does the same from an open file.
#pragma once

class ConfigManager;

// The room a template of length bytes is filled into, as loadWithValues gives it: its length and
// four times the store's texts; a page that would grow beyond is cut.
long long templateCapacity(int length, const ConfigManager* store);

// Fills text[0, length) into out, which holds capacity + 1 bytes: what does not fit is cut, and
// the result is zero-terminated. The bytes filled in; -1 when no memory was left for a name.
int fillTemplate(const char* text, int length, const char* query, const ConfigManager* store,
                 char* out, int capacity);
