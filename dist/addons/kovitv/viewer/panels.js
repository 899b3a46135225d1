// The text beside the map: scores and round clock, the players of each team, kill feed and chat.
//
//   renderPanels(elements: { score, clock, bomb, teams, feed, chat }, state, time)
//   clockText(state, time) -> "1:55", "round over" or ""
//   bombText(state) -> "C4 carried by NAME", "C4 dropped", "C4 planted", "C4 defused" or ""
//   weaponName(id) -> the game's weapon name for a weapon number

import { BOMB_CARRIED, BOMB_DROPPED, BOMB_PLANTED, ICON_C4, ICON_DEFUSER, STATE_ALIVE } from './state.js';

const WEAPONS = ['', 'p228', 'shield', 'scout', 'hegrenade', 'xm1014', 'c4', 'mac10', 'aug',
    'smokegrenade', 'elite', 'fiveseven', 'ump45', 'sg550', 'galil', 'famas', 'usp', 'glock18',
    'awp', 'mp5navy', 'm249', 'm3', 'm4a1', 'tmp', 'g3sg1', 'flashbang', 'deagle', 'sg552', 'ak47',
    'knife', 'p90'];
const CHAT_KIND = ['CT', 'T', '', 'CT dead', 'T dead', 'dead', 'spectators', 'spectator team'];
const FEED_SHOWN_S = 20;  // kills older than this leave the feed

export function weaponName(id) { return WEAPONS[id] ?? ''; }

// The clock ticks once a second in the stream; between ticks it counts down on its own.
export function clockText(state, time) {
    const c = state.clock;
    if (!c) return '';
    if (c.seconds < 0) return 'round over';
    const left = Math.max(0, Math.ceil(c.seconds - Math.max(0, time - c.time)));
    return `${Math.floor(left / 60)}:${String(left % 60).padStart(2, '0')}`;
}

export function bombText(state) {
    const b = state.bomb;
    if (b?.defused) return 'C4 defused';
    if (b?.state === BOMB_PLANTED) return 'C4 planted';
    if (b?.state === BOMB_DROPPED) return 'C4 dropped';
    const carrier = state.players.find((p) => state.present(p.slot) && (p.icons & ICON_C4));
    if (carrier && (!b || b.state === BOMB_CARRIED)) return `C4 carried by ${carrier.name}`;
    return '';
}

function el(tag, className, text) {
    const e = document.createElement(tag);
    if (className) e.className = className;
    if (text !== undefined) e.textContent = text;
    return e;
}

function teamTable(state, team, title, score) {
    const box = el('div', `team team${team}`);
    box.append(el('h3', '', `${title} ${score}`));
    const table = el('table');
    const head = el('tr');
    for (const h of ['', 'K', 'D', 'weapon', '']) head.append(el('th', '', h));
    table.append(head);
    const players = state.players.filter((p) => state.present(p.slot) && p.team === team)
        .sort((a, b) => b.kills - a.kills || a.deaths - b.deaths);
    for (const p of players) {
        const alive = (p.state & STATE_ALIVE) !== 0 && p.health > 0;
        const row = el('tr', alive ? '' : 'dead');
        row.append(el('td', 'name', p.name), el('td', 'num', String(p.kills)),
            el('td', 'num', String(p.deaths)), el('td', '', alive ? weaponName(p.weapon) : 'dead'),
            el('td', 'icons', (p.icons & ICON_C4 ? 'C4 ' : '') + (p.icons & ICON_DEFUSER ? 'kit' : '')));
        table.append(row);
    }
    box.append(table);
    return box;
}

export function renderPanels(elements, state, time) {
    elements.score.textContent = `${state.map?.name || 'no map yet'}   T ${state.score.t} : ${state.score.ct} CT`;
    elements.clock.textContent = clockText(state, time);
    if (elements.bomb) elements.bomb.textContent = bombText(state);
    elements.teams.replaceChildren(teamTable(state, 1, 'Terrorists', state.score.t),
        teamTable(state, 2, 'Counter-Terrorists', state.score.ct));

    elements.feed.replaceChildren(...state.feed.filter((k) => time - k.time < FEED_SHOWN_S).map((k) => {
        const line = el('li');
        line.append(el('span', `team${k.killerTeam}`, k.killer || 'world'),
            el('span', 'weapon', ` [${k.weapon}${k.headshot ? ', headshot' : ''}] `),
            el('span', `team${k.victimTeam}`, k.victim));
        return line;
    }));

    elements.chat.replaceChildren(...state.chat.map((c) => {
        if (c.radio !== undefined) return el('li', 'radio', c.text);
        const line = el('li');
        const kind = CHAT_KIND[c.kind] ?? '';
        line.append(el('span', `team${c.team}`, `${kind ? `(${kind}) ` : ''}${c.name}: `), el('span', '', c.text));
        return line;
    }));
}
