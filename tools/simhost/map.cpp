#include "map.h"

namespace kovi {
namespace {

// The balcony runs north from its south ladder (foot at y -430) to its north edge (y 380),
// where a ladder leads down (foot at y 430) or a jump ends the player.
constexpr float kLadderSouth = -430.0f, kBalconyX = -1050.0f;

// Every route starts in its team's spawn area; the bots add a little spread to each point but
// never to ladder points.
const Route kRoutes[] = {
    {"t_a_long", TEAM_T, 0, 4,
     {{-1000, -1750, Step::Walk}, {400, -1750, Step::Walk}, {1000, -1600, Step::Walk},
      {1500, -1500, Step::Walk}}},
    {"t_mid_a", TEAM_T, 0, 3,
     {{-400, -400, Step::Walk}, {400, -900, Step::Walk}, {1450, -1450, Step::Walk}}},
    {"t_b_short", TEAM_T, 1, 3,
     {{-1800, -400, Step::Walk}, {-1750, 800, Step::Walk}, {-1500, 1500, Step::Walk}}},
    {"t_b_balcony", TEAM_T, 1, 6,
     {{kBalconyX, -900, Step::Walk}, {kBalconyX, kLadderSouth, Step::ClimbUp},
      {kBalconyX, -380, Step::Walk}, {kBalconyX, 380, Step::Edge},
      {-1300, 1000, Step::Walk}, {-1500, 1500, Step::Walk}}},
    {"ct_a", TEAM_CT, 0, 3,
     {{1750, 400, Step::Walk}, {1600, -800, Step::Walk}, {1500, -1500, Step::Walk}}},
    {"ct_b", TEAM_CT, 1, 3,
     {{400, 1750, Step::Walk}, {-800, 1600, Step::Walk}, {-1500, 1500, Step::Walk}}},
    {"ct_mid_b", TEAM_CT, 1, 4,
     {{400, 400, Step::Walk}, {-400, 400, Step::Walk}, {-1000, 1000, Step::Walk},
      {-1450, 1450, Step::Walk}}},
    {"ct_mid_a", TEAM_CT, 0, 3,
     {{400, 400, Step::Walk}, {600, -600, Step::Walk}, {1450, -1450, Step::Walk}}},
};

const MapLayout kKovi = {
    {-2048, -2048, 2048, 2048},
    {{0, 0, 0, 0}, {-1900, -1900, -1500, -1500}, {1500, 1500, 1900, 1900}},
    {{1300, -1700, 1700, -1300}, {-1700, 1300, -1300, 1700}},
    kRoutes,
    int(sizeof(kRoutes) / sizeof(kRoutes[0])),
};

}  // namespace

const MapLayout& mapLayout() { return kKovi; }

Vec3 spawnPoint(int team, int n) {
    const Rect& r = kKovi.spawn[team == TEAM_CT ? TEAM_CT : TEAM_T];
    n %= 20;
    return {r.x0 + 40.0f + 80.0f * float(n % 5), r.y0 + 40.0f + 80.0f * float(n / 5), EYE_HEIGHT};
}

float spawnYaw(int team) { return team == TEAM_CT ? -135.0f : 45.0f; }

}  // namespace kovi
