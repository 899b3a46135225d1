#include <io.h>

#include "net/file_truncate.h"

bool truncateFile(FILE* file, long length) {
    fflush(file);  // a failing flush is why we are here; what it left is cut below
    return _chsize(_fileno(file), length) == 0;
}
