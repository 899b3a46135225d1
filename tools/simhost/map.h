// de_kovi: the scripted match's small map. A flat square with the two spawn areas in opposite
// corners, bomb site A in the south-east and B in the north-west, and a high walkway (the
// balcony) west of the middle, reached by a ladder at each end. Every map name plays this layout.
#pragma once

namespace kovi {

struct Vec3 {
    float x = 0.0f, y = 0.0f, z = 0.0f;
};

struct Rect {
    float x0, y0, x1, y1;
    bool contains(float x, float y) const { return x >= x0 && x <= x1 && y >= y0 && y <= y1; }
    Vec3 center() const { return {(x0 + x1) * 0.5f, (y0 + y1) * 0.5f, 0.0f}; }
};

enum Team { TEAM_UNASSIGNED = 0, TEAM_T = 1, TEAM_CT = 2, TEAM_SPECTATOR = 3 };

constexpr float EYE_HEIGHT = 36.0f;        // a standing player's origin above the floor
constexpr float BALCONY_HEIGHT = 660.0f;   // a jump from it is fatal (fall speed above 1024)
constexpr float LADDER_SPEED = 200.0f;

// What a bot does on reaching a waypoint.
enum class Step { Walk, ClimbUp, Edge };  // Edge: climb down or jump

struct Waypoint {
    float x, y;
    Step step;
};

constexpr int MAX_WAYPOINTS = 10;
struct Route {
    const char* name;
    int team;
    int site;  // 0 A, 1 B: where the route ends
    int count;
    Waypoint points[MAX_WAYPOINTS];
};

struct MapLayout {
    Rect bounds;
    Rect spawn[3];  // by team: [TEAM_T], [TEAM_CT]
    Rect site[2];   // A, B
    const Route* routes;
    int route_count;
};

const MapLayout& mapLayout();
// Spawn point n (0..19, wrapping) of a team: a grid in its spawn area, facing the middle.
Vec3 spawnPoint(int team, int n);
float spawnYaw(int team);

}  // namespace kovi
