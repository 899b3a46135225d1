#include <direct.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "net/files.h"

bool makeDirectory(const char* path) { return _mkdir(path) == 0 || errno == EEXIST; }

bool listDirectory(const char* path, void (*visit)(const char* name, void* context), void* context) {
    struct _stati64 folder;
    if (_stati64(path, &folder) != 0 || (folder.st_mode & _S_IFMT) != _S_IFDIR) return false;
    char pattern[1024];
    int n = snprintf(pattern, sizeof(pattern), "%s/*", path);
    if (n <= 0 || n >= int(sizeof(pattern))) return false;
    _finddata_t entry;
    intptr_t search = _findfirst(pattern, &entry);
    if (search == -1) return true;  // not even "." : nothing to list
    do {
        if (strcmp(entry.name, ".") == 0 || strcmp(entry.name, "..") == 0) continue;
        visit(entry.name, context);
    } while (_findnext(search, &entry) == 0);
    _findclose(search);
    return true;
}

int64_t regularFileSize(const char* path) {
    struct _stati64 info;
    if (_stati64(path, &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) return -1;
    return int64_t(info.st_size);
}

int64_t openFileModified(FILE* file) {
    struct _stati64 info;
    if (!file || _fstati64(_fileno(file), &info) != 0) return -1;
    return int64_t(info.st_mtime);
}

bool regularFileStamp(const char* path, FileStamp* stamp) {
    struct _stati64 info;
    if (_stati64(path, &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) return false;
    stamp->m_size = int64_t(info.st_size);
    stamp->m_modified_ns = int64_t(info.st_mtime) * 1000000000;
    stamp->m_changed_ns = 0;
    stamp->m_identity = 0;
    return true;
}
