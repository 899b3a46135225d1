#include <direct.h>

#include <cerrno>

#include "net/files.h"

bool makeDirectory(const char* path) { return _mkdir(path) == 0 || errno == EEXIST; }
