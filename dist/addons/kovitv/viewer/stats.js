// Match statistics from the stream alone: what the rounds (rounds.js) and each record's events
// (state.js, rules.js) say, for the map or a span of its rounds.
//
//   matchStats(rounds, events, { from = 0, to = rounds.length - 1 }) -> {
//     players: [{ name, team, kills, deaths, headshots, openingKills, openingDeaths,
//                 multi: { 2, 3, 4, 5 }, clutches, damage, survived, rounds,
//                 kd, headshotShare }]  (kd: kills - deaths; headshotShare 0..1, null without kills)
//     teams: { 1: { won, how: { elimination, bomb, defuse, time } }, 2: ... }, draws,
//     strip: [{ number, winner, how, start, end }] }
//   Each count above is { n, records }: how many, and the records of its moments (a kill's, a
//   death's, the round end of a survived round or a clutch, a multi-kill round's first kill),
//   for the timeline to mark. rounds: the rounds a player was in a team at the end of.
//
// rounds and events: a DemoPlayer's .rounds and .events. Rounds are indexes into `rounds`. Kills
// count as the highlights count them: not the world's, not one's own, not a team mate's; a
// death is any death. Damage is the health a living player lost (the dead observer's health of
// 1 is no heal); a round's kills are those between its start and its end.

const count = () => ({ n: 0, records: [] });
const HOWS = ['elimination', 'bomb', 'defuse', 'time'];

function add(c, record, by = 1) {
    c.n += by;
    if (!c.records.includes(record)) c.records.push(record);
}

export function matchStats(rounds, events, { from = 0, to = rounds.length - 1 } = {}) {
    const players = new Map();
    const player = (name, team) => {
        let p = players.get(name);
        if (!p) {
            p = { name, team, kills: count(), deaths: count(), headshots: count(), openingKills: count(),
                openingDeaths: count(), multi: { 2: count(), 3: count(), 4: count(), 5: count() }, clutches: count(),
                damage: count(), survived: count(), rounds: count() };
            players.set(name, p);
        }
        if (team === 1 || team === 2) p.team = team;
        return p;
    };
    const teams = { 1: { won: count(), how: {} }, 2: { won: count(), how: {} } };
    for (const t of [1, 2]) for (const how of HOWS) teams[t].how[how] = count();
    const draws = count();
    const strip = [];

    for (let i = Math.max(0, from); i <= Math.min(to, rounds.length - 1); i++) {
        const round = rounds[i];
        strip.push({ number: round.number, winner: round.winner, how: round.how, start: round.start, end: round.end });
        const last = round.end ?? events.length - 1;
        const kills = new Map();
        let opened = false;
        for (let record = round.start; record <= last; record++) {
            for (const e of events[record] ?? []) {
                if (e.type === 'damage') add(player(e.name).damage, record, e.amount);
                if (e.type !== 'kill') continue;
                add(player(e.victimName, e.victimTeam).deaths, record);
                if (e.killerName === 'world' || e.killer === e.victim || e.killerTeam === e.victimTeam) continue;
                const killer = player(e.killerName, e.killerTeam);
                add(killer.kills, record);
                if (e.headshot) add(killer.headshots, record);
                if (!opened) {
                    opened = true;
                    add(killer.openingKills, record);
                    add(player(e.victimName, e.victimTeam).openingDeaths, record);
                }
                kills.set(killer, [...(kills.get(killer) ?? []), record]);
            }
        }
        for (const [p, records] of kills) if (records.length >= 2) add(p.multi[Math.min(records.length, 5)], records[0]);
        if (round.end === null) continue;
        const end = (events[round.end] ?? []).find((e) => e.type === 'roundEnd');
        for (const q of end?.players ?? []) {
            const p = player(q.name, q.team);
            add(p.rounds, round.end);
            if (q.alive) add(p.survived, round.end);
        }
        if (round.clutch) add(player(round.clutch.name).clutches, round.end);
        if (round.winner === 0) add(draws, round.end);
        else if (teams[round.winner]) {
            add(teams[round.winner].won, round.end);
            if (teams[round.winner].how[round.how]) add(teams[round.winner].how[round.how], round.end);
        }
    }
    const list = [...players.values()].filter((p) => p.name).map((p) => ({ ...p, kd: p.kills.n - p.deaths.n,
        headshotShare: p.kills.n > 0 ? p.headshots.n / p.kills.n : null }));
    list.sort((a, b) => a.team - b.team || b.kills.n - a.kills.n || a.deaths.n - b.deaths.n || a.name.localeCompare(b.name));
    return { players: list, teams, draws, strip };
}
