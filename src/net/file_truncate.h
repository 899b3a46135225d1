// Cutting an open file back to a length: the one demo-file call that differs by platform.
#pragma once

#include <cstdio>

// Flushes file, then cuts it to length bytes. True when that succeeded.
bool truncateFile(FILE* file, long length);
