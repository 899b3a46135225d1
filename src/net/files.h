// The few file-system calls that differ between Linux and Windows.
#pragma once

// Creates one folder (mode 0755 on Linux). True when it was created or already exists.
bool makeDirectory(const char* path);
