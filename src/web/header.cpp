#include "web/header.h"

#include <cstdio>

#include "web/request.h"

namespace {

constexpr const char* WEEKDAYS[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* MONTHS[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

int64_t floorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Proleptic Gregorian date of a day count from 1970-01-01 (H. Hinnant's civil_from_days).
void civilFromDays(int64_t days, int64_t* year, int* month, int* day) {
    days += 719468;
    int64_t era = floorDiv(days, 146097);
    int64_t doe = days - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    *day = int(doy - (153 * mp + 2) / 5 + 1);
    *month = int(mp < 10 ? mp + 3 : mp - 9);
    *year = yoe + era * 400 + (*month <= 2);
}

}  // namespace

bool formatHttpDate(int64_t seconds, char* out, int size) {
    int64_t days = floorDiv(seconds, 86400);
    int64_t rest = seconds - days * 86400;
    int64_t year;
    int month, day;
    civilFromDays(days, &year, &month, &day);
    int weekday = int(((days + 4) % 7 + 7) % 7);  // 1970-01-01 was a Thursday
    int n = snprintf(out, size_t(size), "%s, %02d %s %04lld %02d:%02d:%02d GMT", WEEKDAYS[weekday],
                     day, MONTHS[month - 1], static_cast<long long>(year), int(rest / 3600),
                     int(rest / 60 % 60), int(rest % 60));
    return n > 0 && n < size;
}

int formatResponseHeader(char* out, int size, const char* status, const char* date,
                         int content_length, const char* content_type,
                         const char* cache_control, const char* last_modified) {
    char modified[DATE_MAX + 32] = "";
    if (last_modified) snprintf(modified, sizeof(modified), "Last-Modified: %s\r\n", last_modified);
    char content[32] = "";
    if (content_type)
        snprintf(content, sizeof(content), "Content-Length: %d\r\n", content_length);
    int n = snprintf(out, size_t(size),
                     "HTTP/1.1 %s\r\nDate: %s\r\nCache-Control: %s\r\n%sServer: Kovi TV\r\n"
                     "%sConnection: Keep-Alive\r\n%s%s%s\r\n",
                     status, date, cache_control, modified, content,
                     content_type ? "Content-Type: " : "", content_type ? content_type : "",
                     content_type ? "\r\n" : "");
    return (n > 0 && n < size) ? n : -1;
}

bool sendAll(StreamSocket* connection, const char* data, int length) {
    while (length > 0) {
        int sent = connection->send(data, length, WEB_TIMEOUT_MS);
        if (sent <= 0) return false;
        data += sent;
        length -= sent;
    }
    return true;
}
