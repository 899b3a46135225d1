// Live play at the newest moment: a record in hand to move towards, the moment shown never going
// back, and a burst of elements (a tab left in the background) caught up with.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { DemoPlayer } from '../../dist/addons/kovitv/viewer/player.js';
import { elements, lineup } from './match.mjs';

globalThis.document ??= { getElementById: () => ({ classList: { add() {}, remove() {} }, value: '', hidden: false }) };
const { Modes } = await import('../../dist/addons/kovitv/viewer/modes.js');

function live() {
    const modes = new Modes({ status() {}, changed() {} });
    const player = new DemoPlayer([], { live: true });
    player.playing = true;
    modes.shown = { kind: 'live', player, pending: null };
    return { modes, feed: (packets) => modes.receive(modes.shown, { packets, fresh: false }) };
}

test('at the live edge play keeps a record to move towards and never goes back', () => {
    const { modes, feed } = live();
    const list = elements([lineup('de_a'), 40]);
    feed(list[0]);
    const p = modes.shown.player;
    assert.equal(p.position, 1, 'the first element is shown at once');
    let shown = p.position + p.fraction, moving = 0, frames = 0;
    // The follower hands over one element a half second; the display draws sixty frames a second,
    // a little slower or faster than the game's clock.
    for (const [i, packets] of list.slice(1).entries()) {
        feed(packets);
        for (let f = 0; f < 30; f++) {
            modes.advance((1 + (i % 3 - 1) * 0.05) / 60);
            const now = p.position + p.fraction;
            assert.ok(now >= shown - 1e-9, `back from ${shown} to ${now} at element ${i}`);
            assert.ok(p.length - p.position <= 2);
            if (p.next && now > shown) moving++;
            shown = now;
            frames++;
        }
    }
    assert.ok(moving > frames * 0.9, `${moving} of ${frames} frames moved towards a next record`);
    assert.equal(modes.atLiveEdge(), true);
});

test('a burst of elements is caught up with, and a paused spectator is left where they are', () => {
    const list = elements([lineup('de_a'), 40]);
    const { modes, feed } = live();
    for (const packets of list.slice(0, 5)) feed(packets);
    const p = modes.shown.player;
    for (const packets of list.slice(5, 25)) feed(packets);  // no frame drawn meanwhile
    assert.deepEqual([p.length, p.length - p.position <= 2, p.fraction < 1], [25, true, true]);
    p.playing = false;
    const at = p.position;
    for (const packets of list.slice(25)) feed(packets);
    assert.equal(p.position, at);
});
