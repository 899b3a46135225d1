// The stats panel: an overlay (it closes, so it never keeps the map covered on a phone) with the
// span of rounds to count, the strip of rounds with each one's winner and how, each team's wins
// and how, and per player the numbers of stats.js. A number with moments behind it is a button:
// choosing it hands its records to the timeline to mark.
//
//   renderStats(box, player: DemoPlayer, span: { from, to } | null, { onSpan(span), onMark(records, label) })
//       span: round indexes, null for the whole map

import { roundText } from './rounds.js';
import { matchStats } from './stats.js';

const HOW_LETTER = { elimination: 'E', bomb: 'B', defuse: 'D', time: 'T', draw: '=' };
const TEAM_NAME = { 1: 'Terrorists', 2: 'Counter-Terrorists' };
const COLUMNS = [
    ['K', 'kills', (p) => p.kills], ['D', 'deaths', (p) => p.deaths], ['+/-', 'kills minus deaths', null],
    ['HS', 'headshot share', (p) => p.headshots], ['OK', 'opening kills', (p) => p.openingKills],
    ['OD', 'opening deaths', (p) => p.openingDeaths], ['2K', 'rounds with 2 kills', (p) => p.multi[2]],
    ['3K', 'rounds with 3 kills', (p) => p.multi[3]], ['4K', 'rounds with 4 kills', (p) => p.multi[4]],
    ['5K', 'rounds with 5 kills', (p) => p.multi[5]], ['CL', 'clutches won', (p) => p.clutches],
    ['DMG', 'damage taken', (p) => p.damage], ['SV', 'rounds survived', (p) => p.survived],
];

function el(tag, className, text) {
    const e = document.createElement(tag);
    if (className) e.className = className;
    if (text !== undefined) e.textContent = text;
    return e;
}

function spanPicker(rounds, span, onSpan) {
    const box = el('div', 'span');
    const pick = (value) => {
        const select = el('select');
        rounds.forEach((r, i) => select.append(new Option(`round ${r.number}`, String(i))));
        select.value = String(value);
        return select;
    };
    const from = pick(span?.from ?? 0), to = pick(span?.to ?? rounds.length - 1);
    const changed = () => {
        const a = Number(from.value), b = Number(to.value);
        onSpan({ from: Math.min(a, b), to: Math.max(a, b) });
    };
    from.addEventListener('change', changed);
    to.addEventListener('change', changed);
    const all = el('button', '', 'whole map');
    all.type = 'button';
    all.addEventListener('click', () => onSpan(null));
    box.append('Rounds ', from, ' to ', to, ' ', all);
    return box;
}

function markButton(text, c, label, onMark) {
    if (!c || c.n === 0) return el('span', 'zero', text);
    const b = el('button', 'mark', text);
    b.type = 'button';
    b.title = `mark on the timeline: ${label}`;
    b.addEventListener('click', () => onMark(c.records, label));
    return b;
}

export function renderStats(box, player, span, { onSpan, onMark }) {
    const rounds = player.rounds;
    if (rounds.length === 0) {
        box.replaceChildren(el('p', '', 'No round yet.'));
        return;
    }
    const s = matchStats(rounds, player.events, span ?? {});
    const strip = el('div', 'strip');
    for (const r of s.strip) {
        const cell = el('span', `cell win${r.winner ?? ''}`, r.winner === null ? '\u2026' : HOW_LETTER[r.how] ?? '?');
        cell.title = roundText(r);
        strip.append(cell);
    }
    const summary = el('p', 'summary');
    for (const team of [1, 2]) {
        const t = s.teams[team];
        const how = Object.entries(t.how).filter(([, c]) => c.n > 0).map(([h, c]) => `${c.n} ${h}`).join(', ');
        const line = el('span', `team${team}`);
        line.append(`${TEAM_NAME[team]}: `, markButton(String(t.won.n), t.won, `${TEAM_NAME[team]} won`, onMark),
            how ? ` won (${how})` : ' won');
        summary.append(line, el('br'));
    }
    if (s.draws.n) summary.append(`${s.draws.n} drawn`);
    // One table for both teams, so their columns line up.
    const table = el('table', 'stats');
    for (const team of [1, 2]) {
        const head = el('tr', `team${team}`);
        head.append(el('th', 'name', TEAM_NAME[team]));
        for (const [h, title] of COLUMNS) {
            const th = el('th', 'num', h);
            th.title = title;
            head.append(th);
        }
        table.append(head);
        for (const p of s.players.filter((q) => q.team === team)) {
            const tr = el('tr');
            tr.append(el('td', 'name', p.name));
            for (const [h, title, of] of COLUMNS) {
                const td = el('td', 'num');
                if (h === '+/-') td.textContent = p.kd > 0 ? `+${p.kd}` : String(p.kd);
                else if (h === 'HS') {
                    const share = p.headshotShare === null ? '-' : `${Math.round(p.headshotShare * 100)}%`;
                    td.append(markButton(share, of(p), `${p.name}: headshots`, onMark));
                } else td.append(markButton(String(of(p).n), of(p), `${p.name}: ${title}`, onMark));
                tr.append(td);
            }
            table.append(tr);
        }
    }
    const legend = el('p', 'legend', 'E elimination, B bomb, D defuse, T time, = draw. ' +
        'Choose a number to mark its moments on the timeline (N: the next one).');
    const scroll = el('div', 'tables');
    scroll.append(table);
    box.replaceChildren(spanPicker(rounds, span, onSpan), strip, summary, scroll, legend);
}
