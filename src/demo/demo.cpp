#include "demo/demo.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "net/faults.h"
#include "net/file_truncate.h"
#include "net/files.h"
#include "net/net.h"
#include "stream/packet.h"

DemoRecorder g_demo;

void recordSnapshot(const PacketManager* packets) {
    if (g_demo.recording()) g_demo.write(packets);
}

namespace {

bool writeBytes(FILE* file, const void* bytes, size_t n) {
    if (KOVITV_FAULT(demo_no_space)) {
        errno = ENOSPC;
        return false;
    }
    if (KOVITV_FAULT(demo_short_write)) {
        fwrite(bytes, 1, n / 2, file);
        errno = ENOSPC;  // what a full disk leaves after a short write
        return false;
    }
    return fwrite(bytes, 1, n, file) == n;
}

}  // namespace

int DemoRecorder::init(const char* base) {
    snprintf(m_folder, sizeof(m_folder), "%s/demos", base ? base : "");
    m_error.store(0, std::memory_order_relaxed);
    return makeDirectory(m_folder) ? 0 : startFailed(m_folder, -1);
}

int DemoRecorder::start(const char* map) {
    close();  // a file left open (a map end that never came) is finished, not leaked
    m_close_wanted.store(false, std::memory_order_relaxed);
    time_t now = static_cast<time_t>(wallClockSeconds());
    const tm* local = localtime(&now);  // main thread only
    char date[16] = "000000";
    char clock[16] = "0000";
    if (local != nullptr) {
        strftime(date, sizeof(date), "%m%d%y", local);
        strftime(clock, sizeof(clock), "%H%M", local);
    }
    // Names longer than DEMO_NAME_MAX are cut, as every name of the plugin is.
    char folder[DEMO_NAME_MAX + 1];
    if (snprintf(folder, sizeof(folder), "%s/%s", m_folder, date) < 0)
        return startFailed(m_folder, -1);
    // The demos folder again: one that could not be made at attach (permissions since mended)
    // must not keep every later map from being recorded.
    if (!makeDirectory(m_folder)) return startFailed(m_folder, -1);
    if (!makeDirectory(folder)) return startFailed(folder, -1);
    if (snprintf(m_path, sizeof(m_path), "%s/%s/%s_%s.kdem", m_folder, date, clock,
                 map ? map : "") < 0)
        return startFailed(folder, -2);
    FILE* file = nullptr;
    if (KOVITV_FAULT(folders_unwritable))
        errno = EACCES;
    else
        file = fopen(m_path, "wb");
    if (file == nullptr) return startFailed(m_path, -2);
    // Unbuffered: every byte that fwrite accepted is in the file, so after a failure nothing is
    // left in a buffer for fclose to append behind the cut.
    setvbuf(file, nullptr, _IONBF, 0);
    const uint8_t format = DEMO_FORMAT;
    if (fwrite(&format, 1, 1, file) != 1) {
        int error = errno;
        fclose(file);
        errno = error;
        return startFailed(m_path, -2);
    }
    m_file = file;
    m_whole = 1;
    m_error.store(0, std::memory_order_relaxed);
    return 0;
}

int DemoRecorder::startFailed(const char* path, int result) {
    snprintf(m_failed_path, sizeof(m_failed_path), "%s", path);
    m_error.store(errno != 0 ? errno : EIO, std::memory_order_relaxed);
    return result;
}

int DemoRecorder::write(const PacketManager* packets) {
    if (m_file != nullptr && m_close_wanted.exchange(false, std::memory_order_acq_rel)) close();
    if (m_file == nullptr || packets == nullptr) return 0;
    int count = packets->count();
    if (count == 0) return 0;  // a record says at least one packet: nothing to record
    if (count > DEMO_RECORD_PACKETS_MAX) count = DEMO_RECORD_PACKETS_MAX;
    // A failure is noticed at the record it hit, and everything before that record is in the
    // file: cutting back to m_whole leaves a file of whole records.
    uint8_t n = static_cast<uint8_t>(count);
    bool ok = writeBytes(m_file, &n, 1);
    long size = 1;
    const Packet* packet = packets->first();
    for (int i = 0; ok && i < count && packet != nullptr; i++, packet = packet->m_next) {
        int length = packet->m_length;
        if (length < PACKET_RESERVED || length > PACKET_SIZE) length = PACKET_RESERVED;
        unsigned char masked[2 + PACKET_SIZE];
        masked[0] = static_cast<unsigned char>(length >> 8);
        masked[1] = static_cast<unsigned char>(length & 0xFF);
        for (int b = 0; b < length; b++)
            masked[2 + b] = static_cast<unsigned char>(packet->m_data[b] ^ DEMO_MASK);
        ok = writeBytes(m_file, masked, static_cast<size_t>(2 + length));
        size += 2 + length;
    }
    if (ok) {
        m_whole += size;
        return 0;
    }
    m_error.store(errno != 0 ? errno : EIO, std::memory_order_relaxed);
    truncateFile(m_file, m_whole);
    fclose(m_file);
    m_file = nullptr;
    m_failed.store(true, std::memory_order_release);
    return -1;
}

void DemoRecorder::close() {
    if (m_file == nullptr) return;
    fclose(m_file);
    m_file = nullptr;
}
