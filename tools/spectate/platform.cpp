#include "platform.h"

#if defined(_WIN32)
#include <conio.h>
#include <winsock2.h>
#include <windows.h>

bool startNetwork() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void prepareConsole() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(out, &mode)) SetConsoleMode(out, mode | 0x0004);  // virtual terminal
}

int pollCommand() {
    if (!_kbhit()) return 0;
    return _getch();
}

#else
#include <poll.h>
#include <unistd.h>

#include <cctype>

bool startNetwork() { return true; }
void prepareConsole() {}

int pollCommand() {
    static bool ended = false;
    if (ended) return -1;
    pollfd in{0, POLLIN, 0};
    if (poll(&in, 1, 0) <= 0) return 0;
    char line[256];
    ssize_t n = read(0, line, sizeof(line));
    if (n <= 0) {
        ended = true;
        return -1;
    }
    for (ssize_t i = 0; i < n; i++)
        if (!isspace(static_cast<unsigned char>(line[i]))) return line[i];
    return 0;
}
#endif
