// The platform-free part of the layer: address records and the shared lock.
#include "net/net.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "net/faults.h"

Mutex g_mut1;

namespace {

// Network order is big-endian in memory whatever the host, so bytes are placed one by one.
void putBigEndian(unsigned char* out, uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        out[i] = static_cast<unsigned char>(value & 0xff);
        value >>= 8;
    }
}

uint32_t getBigEndian(const unsigned char* in, int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value = (value << 8) | in[i];
    return value;
}

}  // namespace

void InetAddress::set(uint32_t host_address, int port) {
    unsigned char bytes[4];
    m_address = InetRecord{};
    m_address.m_family = INET_FAMILY;
    putBigEndian(bytes, static_cast<uint16_t>(port), 2);
    memcpy(&m_address.m_port, bytes, 2);
    putBigEndian(bytes, host_address, 4);
    memcpy(&m_address.m_address, bytes, 4);
    m_length = INET_ADDRESS_LENGTH;
}

int InetAddress::getPort() const {
    unsigned char bytes[2];
    memcpy(bytes, &m_address.m_port, 2);
    return static_cast<int>(getBigEndian(bytes, 2));
}

uint32_t InetAddress::getAddress() const {
    unsigned char bytes[4];
    memcpy(bytes, &m_address.m_address, 4);
    return getBigEndian(bytes, 4);
}

const char* InetAddress::format(char* buffer, size_t size) const {
    if (!buffer || size == 0) return buffer;
    unsigned char b[4];
    memcpy(b, &m_address.m_address, 4);
    snprintf(buffer, size, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return buffer;
}

int64_t wallClockSeconds() {
    return static_cast<int64_t>(time(nullptr)) + KOVITV_FAULT(wall_clock_offset_s);
}
