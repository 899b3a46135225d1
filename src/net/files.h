// The few file-system calls that differ between Linux and Windows.
#pragma once

#include <cstdint>
#include <cstdio>

// Creates one folder (mode 0755 on Linux). True when it was created or already exists.
bool makeDirectory(const char* path);

// Calls visit for each name in the folder ("." and ".." left out), in the system's order. False
// when the folder cannot be read.
bool listDirectory(const char* path, void (*visit)(const char* name, void* context), void* context);

// Size in bytes of a regular file; -1 for anything else (missing, a folder, a device).
int64_t regularFileSize(const char* path);

// When an open file was last changed, in seconds since 1970 (UTC); -1 when the system cannot say.
int64_t openFileModified(FILE* file);

// What tells one version of a file from another without reading it: size, change times and the
// file's identity (Windows: size and last write only).
struct FileStamp {
    int64_t m_size = -1;
    int64_t m_modified_ns = 0;
    int64_t m_changed_ns = 0;
    uint64_t m_identity = 0;

    bool operator==(const FileStamp& other) const {
        return m_size == other.m_size && m_modified_ns == other.m_modified_ns &&
               m_changed_ns == other.m_changed_ns && m_identity == other.m_identity;
    }
};

// The stamp of a regular file; false for anything else (missing, a folder, a device).
bool regularFileStamp(const char* path, FileStamp* stamp);
