// A 32-bit build's plain stat and readdir fail (EOVERFLOW) where a size or an inode number
// needs 64 bits: files over 2 GiB, and every file on file systems with 64-bit inode numbers
// (XFS, btrfs). This file's calls take the 64-bit forms; none of its types leave it.
#define _FILE_OFFSET_BITS 64

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "net/faults.h"
#include "net/files.h"

bool makeDirectory(const char* path) {
    if (KOVITV_FAULT(folders_unwritable)) {  // what exists is still found, nothing new is made
        struct stat existing;
        if (stat(path, &existing) == 0) return true;
        errno = EACCES;
        return false;
    }
    return mkdir(path, 0755) == 0 || errno == EEXIST;
}

bool listDirectory(const char* path, void (*visit)(const char* name, void* context), void* context) {
    DIR* folder = opendir(path);
    if (!folder) return false;
    while (dirent* entry = readdir(folder)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
        visit(entry->d_name, context);
    }
    closedir(folder);
    return true;
}

int64_t regularFileSize(const char* path) {
    struct stat info;
    if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    return int64_t(info.st_size);
}

int64_t openFileModified(FILE* file) {
    struct stat info;
    if (!file || fstat(fileno(file), &info) != 0) return -1;
    return int64_t(info.st_mtime);
}

bool regularFileStamp(const char* path, FileStamp* stamp) {
    struct stat info;
    if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    stamp->m_size = int64_t(info.st_size);
    stamp->m_modified_ns = int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    stamp->m_changed_ns = int64_t(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
    stamp->m_identity = uint64_t(info.st_ino) ^ (uint64_t(info.st_dev) << 32);
    return true;
}
