#include <cstdio>
#include <cstring>

#include "host/config.h"
#include "host/host.h"

namespace {

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

// "host:port" from the engine; a longer text than the buffer is cut, never overrun.
void setServerAddress() {
    char address[256];
    const char* net = g_engfuncs.pfnCVarGetString("net_address");
    snprintf(address, sizeof(address), "%s", net ? net : "");
    char* colon = strchr(address, ':');
    if (!colon) return;
    *colon = '\0';
    g_cfg.set("tcp_port", colon + 1);
    g_cfg.set("address", address);
}

const char* configFileName() {
    char* info = g_engfuncs.pfnGetInfoKeyBuffer(nullptr);
    const char* name = info ? g_engfuncs.pfnInfoKeyValue(info, const_cast<char*>("kovitvcfg")) : nullptr;
    return (name && *name) ? name : CONFIG_DEFAULT_FILE;
}

void readConfigFile() {
    const char* name = configFileName();
    char path[256];
    // An overlong path would name another file: treat it as unreadable.
    int length = snprintf(path, sizeof(path), "%s/%s", g_gamedir, name);
    if (length >= int(sizeof(path)) || !g_cfg.readFile(path)) LOG_ERROR("Meta_Attach :: Failed reading \"%s\" config file", name);
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
    clampDelay();
    g_limitchat = g_cfg.getInt("allow_teamsay");
    setAppletSize();
}
