#include "plugin/overview.h"

#include <cstdio>
#include <cstring>

#include "host/config.h"
#include "host/host.h"
#include "net/files.h"

namespace {

// Float to int truncated toward zero, saturating instead of overflowing on absurd inputs.
int truncateCoordinate(float f) {
    if (!(f > -2147483648.0f)) return f != f ? 0 : -2147483647 - 1;
    if (f >= 2147483647.0f) return 2147483647;
    return int(f);
}

}  // namespace

bool getMapInfo(const char* map, float* zoom, int* rotated, int* origin_x, int* origin_y) {
    char path[256];
    const char* dir = g_cfg.getString("dir");
    if (snprintf(path, sizeof(path), "%s/overviews/%s.txt", dir ? dir : "", map) < 0) path[0] = '\0';
    int length = 0;
    byte* file = g_engfuncs.pfnLoadFileForMe(path, &length);

    *zoom = 1.0f;
    *rotated = 0;
    *origin_x = 0;
    *origin_y = 0;
    bool found_zoom = false, found_origin = false, found_rotated = false;
    if (!file || length <= 0) {
        if (file) g_engfuncs.pfnFreeFile(file);  // an empty file is still the engine's buffer
        return false;
    }

    const char* p = reinterpret_cast<const char*>(file);
    const char* end = p + length;
    while (p < end && !found_rotated) {
        // A line is at most 255 characters; the rest of a longer one is read as the next line.
        char line[256];
        size_t n = 0;
        while (p < end && *p != '\n' && n < sizeof(line) - 1) line[n++] = *p++;
        line[n] = '\0';
        if (p < end && *p == '\n') ++p;

        float a = 0, b = 0;
        int r = 0;
        if (sscanf(line, " ZOOM %f ", &a) == 1) {
            *zoom = a;
            found_zoom = true;
        } else if (sscanf(line, " ORIGIN %f %f ", &a, &b) == 2) {
            *origin_x = truncateCoordinate(a);
            *origin_y = truncateCoordinate(b);
            found_origin = true;
        } else if (sscanf(line, " ROTATED %d ", &r) == 1) {
            *rotated = r;
            found_rotated = true;  // the walk ends here
        }
    }
    g_engfuncs.pfnFreeFile(file);
    return found_zoom && found_origin && found_rotated;
}

void extractOverview(const char* map, const char* extension) {
    makeDirectory("exoverviews");
    char path[32];  // longer paths are cut
    if (snprintf(path, sizeof(path), "overviews/%s.%s", map, extension) < 0) return;
    int length = 0;
    byte* data = g_engfuncs.pfnLoadFileForMe(path, &length);
    if (!data) return;
    if (snprintf(path, sizeof(path), "exoverviews/%s.%s", map, extension) < 0) {
        g_engfuncs.pfnFreeFile(data);
        return;
    }
    if (FILE* out = fopen(path, "wb")) {
        if (length > 0 && fwrite(data, 1, size_t(length), out) > 0)
            UTIL_ServerPrint("Extracted stuff to %s\n", path);
        fclose(out);
    }
    g_engfuncs.pfnFreeFile(data);
}
