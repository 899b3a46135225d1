#include <cstdio>
#include <cstring>

#include "host/config.h"
#include "host/host.h"

namespace {

constexpr int ENGINE_DEFAULT_PORT = 27015;  // the engine's own port when nothing else names one

void setDefaults() {
    g_cfg.set("max_spec", 20);
    g_cfg.set("udp_port", 52001);
    g_cfg.set("dir", "addons/kovitv");
    g_cfg.set("resample", 2);
    g_cfg.set("scale", 100);
    g_cfg.set("tcp_queue", 10);
    g_cfg.set("allow_teamsay", 1);
    g_cfg.set("adv", "You are watching KOVI TV");
    g_cfg.set("record_demos", 0);
}

// "host:port" from the engine; a longer text than the buffer is cut, never overrun. An empty
// port sets no tcp_port, which then takes the engine's default.
void setServerAddress() {
    char address[256];
    const char* net = g_engfuncs.pfnCVarGetString("net_address");
    snprintf(address, sizeof(address), "%s", net ? net : "");
    char* colon = strchr(address, ':');
    if (!colon) return;
    *colon = '\0';
    if (colon[1] != '\0') g_cfg.set("tcp_port", colon + 1);
    g_cfg.set("address", address);
}

// Without a port from net_address (an engine that had not set it yet, or a bare host name) and
// none from the file, port 0 would let the system pick one nobody could find.
void defaultWebPort() {
    if (g_cfg.find("tcp_port")) return;
    g_cfg.set("tcp_port", ENGINE_DEFAULT_PORT);
    const char* net = g_engfuncs.pfnCVarGetString("net_address");
    LOG_MESSAGE("Meta_Attach :: net_address \"%.64s\" names no port and tcp_port is not set: the "
                "web server uses the engine's default port %d",
                net ? net : "", ENGINE_DEFAULT_PORT);
}

const char* configFileName() {
    char* info = g_engfuncs.pfnGetInfoKeyBuffer(nullptr);
    const char* name = info ? g_engfuncs.pfnInfoKeyValue(info, const_cast<char*>("kovitvcfg")) : nullptr;
    return (name && *name) ? name : CONFIG_DEFAULT_FILE;
}

// --- what the file says, checked -------------------------------------------------------------

// What each known key takes. The checks only word the log: the store reads every value as it
// always has (configNumber, on/off), so each message says what that reading makes of it.
enum class Kind { delay, port, count, flag, number, text, from_scale, from_server };

struct Setting {
    const char* key;
    Kind kind;
};

constexpr Setting SETTINGS[] = {
    {"delay", Kind::delay},           {"max_spec", Kind::count},
    {"max_spec_per_ip", Kind::count}, {"udp_port", Kind::port},
    {"tcp_port", Kind::port},         {"tcp_queue", Kind::count},
    {"max_visitors", Kind::count},    {"record_demos", Kind::flag},
    {"allow_teamsay", Kind::flag},    {"http_stream", Kind::flag},
    {"ext_overviews", Kind::flag},    {"dir", Kind::text},
    {"scale", Kind::number},          {"resample", Kind::number},
    {"adv", Kind::text},              {"address", Kind::text},
    {"hostname", Kind::from_server},  {"width", Kind::from_scale},
    {"height", Kind::from_scale},
};

const Setting* findSetting(const char* key) {
    for (const Setting& s : SETTINGS)
        if (strcmp(s.key, key) == 0) return &s;
    return nullptr;
}

bool isWord(const char* text, const char* word) {  // word in lower case; text in any case
    for (; *text && *word; ++text, ++word)
        if ((*text >= 'A' && *text <= 'Z' ? *text + 32 : *text) != *word) return false;
    return *text == *word;
}

// True when text is exactly a number that fits an int (sign and digits, or on/off, which the
// store reads as 1 and 0).
bool isWholeNumber(const char* text) {
    if (isWord(text, "on") || isWord(text, "off")) return true;
    const char* p = text;
    if (*p == '+' || *p == '-') ++p;
    if (*p < '0' || *p > '9') return false;
    long long n = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        if ((n = n * 10 + (*p - '0')) > 2147483648LL) return false;
    return *p == '\0' && (text[0] == '-' || n <= 2147483647LL);
}

int numberOf(const char* text) {
    if (isWord(text, "on")) return 1;
    if (isWord(text, "off")) return 0;
    return configNumber(text);
}

// Edit distance of two keys, for "did you mean": keys are at most CONFIG_KEY_MAX bytes.
int distance(const char* a, const char* b) {
    int row[CONFIG_KEY_MAX + 2];
    int nb = int(strlen(b));
    for (int j = 0; j <= nb; ++j) row[j] = j;
    for (int i = 1; a[i - 1]; ++i) {
        int diagonal = row[0];
        row[0] = i;
        for (int j = 1; j <= nb; ++j) {
            int above = row[j];
            int best = diagonal + (a[i - 1] != b[j - 1]);
            if (above + 1 < best) best = above + 1;
            if (row[j - 1] + 1 < best) best = row[j - 1] + 1;
            row[j] = best;
            diagonal = above;
        }
    }
    return row[nb];
}

// A known key one or two edits away, for a typo; short keys get no guess (any is that close).
const char* nearestKey(const char* key) {
    const char* nearest = nullptr;
    int best = 3;
    int length = int(strlen(key));
    for (const Setting& s : SETTINGS) {
        int d = distance(key, s.key);
        if (d < best && d * 2 < length) {
            best = d;
            nearest = s.key;
        }
    }
    return nearest;
}

// A value as one short log line can show it: control bytes as '?', cut after 48 bytes.
const char* shown(const char* value, char* out, int size) {
    int n = 0;
    for (const char* p = value; *p && n < size - 4; ++p)
        out[n++] = (static_cast<unsigned char>(*p) < 0x20 || *p == 0x7f) ? '?' : *p;
    if (n < int(strlen(value))) {
        memcpy(out + n, "...", 3);
        n += 3;
    }
    out[n] = '\0';
    return out;
}

// One line per rejected value or unknown key, naming file, line, key, value and what is used;
// context is the file's name as the admin gave it.
void checkPair(const char* key, const char* value, int key_line, int value_line, void* context) {
    const char* file = static_cast<const char*>(context);
    const Setting* setting = findSetting(key);
    if (!value) {
        const char* now = setting ? g_cfg.getString(key) : nullptr;
        if (!setting)
            LOG_ERROR("Meta_Attach :: %s line %d: unknown key \"%s\" without a value: ignored",
                      file, key_line, key);
        else if (now)
            LOG_ERROR("Meta_Attach :: %s line %d: %s has no value: ignored, \"%s\" stays", file,
                      key_line, key, now);
        else
            LOG_ERROR("Meta_Attach :: %s line %d: %s has no value: ignored, its default stays",
                      file, key_line, key);
        return;
    }
    char text[64];
    shown(value, text, sizeof(text));
    char where[48] = "";
    if (value_line != key_line)
        snprintf(where, sizeof(where), " (the value is on line %d)", value_line);
    if (!setting) {
        const char* nearest = nearestKey(key);
        char hint[96] = "";
        if (nearest) snprintf(hint, sizeof(hint), "; did you mean %s?", nearest);
        LOG_ERROR("Meta_Attach :: %s line %d: unknown key \"%s\" (value \"%s\"%s): ignored, "
                  "kept only as the start page's $%s",
                  file, key_line, key, text, hint, key);
        return;
    }
    bool whole = isWholeNumber(value);
    int n = numberOf(value);
    switch (setting->kind) {
    case Kind::delay:
        if (whole && n >= 30 && n <= 300) return;
        LOG_ERROR("Meta_Attach :: %s line %d: delay \"%s\"%s is not 30 to 300 seconds: %d used",
                  file, key_line, text, where, n >= 30 && n <= 300 ? n : 30);
        return;
    case Kind::port: {
        if (whole && n >= 0 && n <= 65535) return;
        int used = n & 0xFFFF;  // what a port of 16 bits makes of it
        LOG_ERROR("Meta_Attach :: %s line %d: %s \"%s\"%s is not a port (0 to 65535): %d used%s",
                  file, key_line, key, text, where, used,
                  used == 0 ? ", a port the system picks" : "");
        return;
    }
    case Kind::count:
        if (whole && n >= 0) return;
        LOG_ERROR("Meta_Attach :: %s line %d: %s \"%s\"%s is not a number of 0 or more: %d used",
                  file, key_line, key, text, where, n);
        return;
    case Kind::flag:
        if (whole) return;
        LOG_ERROR("Meta_Attach :: %s line %d: %s \"%s\"%s is not on or off: %s used", file,
                  key_line, key, text, where, n != 0 ? "on" : "off");
        return;
    case Kind::number:
        if (whole) return;
        LOG_ERROR("Meta_Attach :: %s line %d: %s \"%s\"%s is not a whole number: %d used", file,
                  key_line, key, text, where, n);
        return;
    case Kind::from_scale:
        LOG_ERROR("Meta_Attach :: %s line %d: %s \"%s\" is not used: it is computed from scale",
                  file, key_line, key, text);
        return;
    case Kind::from_server:
        LOG_ERROR("Meta_Attach :: %s line %d: %s \"%s\" is not used: each map start takes the "
                  "server's",
                  file, key_line, key, text);
        return;
    case Kind::text:
        return;
    }
}

void readConfigFile() {
    const char* name = configFileName();
    char path[256];
    // An overlong path would name another file: treat it as unreadable.
    int length = snprintf(path, sizeof(path), "%s/%s", g_gamedir, name);
    if (length >= int(sizeof(path)) || !g_cfg.readFile(path, checkPair, const_cast<char*>(name)))
        LOG_ERROR("Meta_Attach :: Failed reading \"%s\" config file", name);
}

void clampDelay() {
    int delay = g_cfg.getInt("delay");
    if (delay < 30 || delay > 300) g_cfg.set("delay", 30);
}

// Truncated toward zero; an absurd scale saturates instead of overflowing the conversion.
int truncateToInt(float f) {
    if (f >= 2147483647.0f) return 2147483647;
    if (f <= -2147483648.0f) return -2147483647 - 1;
    return int(f);
}

void setAppletSize() {
    float factor = float(g_cfg.getInt("scale")) * 0.01f;
    g_cfg.set("width", truncateToInt(1024.0f * factor));
    g_cfg.set("height", truncateToInt(768.0f * factor));
}

}  // namespace

void loadConfiguration() {
    setDefaults();
    setServerAddress();
    readConfigFile();
    defaultWebPort();
    clampDelay();
    g_limitchat = g_cfg.getInt("allow_teamsay");
    setAppletSize();
}
