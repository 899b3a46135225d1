#include <sys/stat.h>

#include <cerrno>

#include "net/files.h"

bool makeDirectory(const char* path) { return mkdir(path, 0755) == 0 || errno == EEXIST; }
