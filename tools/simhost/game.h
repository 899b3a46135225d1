// The simulated game DLL: what Counter-Strike does on the server that the plugin can see. This
// part registers the game's user messages the way the real game does; the scripted match plugs in
// through the same calls.
#pragma once

class SimHost;

class Game {
public:
    explicit Game(SimHost& host) : m_host(host) {}
    virtual ~Game() = default;

    virtual void worldSpawn();      // map load, before ServerActivate
    virtual void serverActivate();  // the game's own ServerActivate
    virtual void serverDeactivate() {}
    virtual void startFrame() {}    // the game's StartFrame
    virtual void runPlayers() {}    // after StartFrame: player thinks, entity thinks
    virtual void gameShutdown() {}

protected:
    SimHost& m_host;
    bool m_registered = false;  // Counter-Strike registers its messages once per process
};
