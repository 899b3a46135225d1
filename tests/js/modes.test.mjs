// A map change on the live stream: a spectator at the newest moment moves to the new map; one
// paused or rewound stays in the map that ended until they go back to live (or play past its end).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { DemoPlayer } from '../../dist/addons/kovitv/viewer/player.js';
import { chunk as c, elements, lineup } from './match.mjs';

// The page's controls, as far as the modes touch them.
globalThis.document ??= { getElementById: () => ({ classList: { add() {}, remove() {} }, value: '', hidden: false }) };
const { Modes } = await import('../../dist/addons/kovitv/viewer/modes.js');

const mapA = elements([lineup('de_a'), 20]);
const mapB = elements([lineup('de_b'), 6]);

function watching() {
    const modes = new Modes({ status() {}, changed() {} });
    const player = new DemoPlayer([], { live: true });
    player.playing = true;
    modes.shown = { kind: 'live', player, pending: null };
    // As the follower hands elements over.
    const feed = (list) => { for (const packets of list) modes.receive(modes.shown, { packets, fresh: false }); };
    return { modes, feed };
}

test('at the live edge a new map is followed at once', () => {
    const { modes, feed } = watching();
    feed(mapA);
    assert.equal(modes.shown.player.state.map.name, 'de_a');
    feed(mapB);
    assert.deepEqual([modes.shown.player.state.map.name, modes.shown.pending, modes.atLiveEdge()], ['de_b', null, true]);
    assert.equal(modes.shown.player.length, mapB.length);
});

test('paused or rewound, the spectator stays in the map that ended; back to live lands on the new one', () => {
    for (const rewind of [false, true]) {
        const { modes, feed } = watching();
        feed(mapA);
        const old = modes.shown.player;
        if (rewind) modes.seek(5);
        else old.playing = false;
        const at = old.position;
        feed(mapB);
        assert.equal(modes.shown.player, old);
        assert.deepEqual([old.position, old.state.map.name, old.length], [at, 'de_a', mapA.length]);
        assert.equal(modes.shown.pending.length, mapB.length);
        assert.equal(modes.behind(), old.length - at + mapB.length);
        assert.equal(modes.atLiveEdge(), false);
        modes.goLive();
        assert.deepEqual([modes.shown.player.state.map.name, modes.shown.pending, modes.atLiveEdge(), modes.shown.player.playing],
            ['de_b', null, true, true]);
    }
});

test('playing on past the end of the map that ended continues at the new map\'s start', () => {
    const { modes, feed } = watching();
    feed(mapA);
    modes.seek(mapA.length - 6);
    feed(mapB);
    modes.advance(2.5);
    assert.equal(modes.shown.player.state.map.name, 'de_a');
    modes.advance(1);
    assert.equal(modes.shown.player.state.map.name, 'de_b');
    assert.equal(modes.shown.player.position, modes.shown.player.start);
});

test('a link to a moment of the map waits for the map\'s history, through a map change', () => {
    const { modes, feed } = watching();
    modes.shown.at = 3;
    modes.shown.history = 'loading';
    feed(mapA);
    feed(mapB);
    assert.deepEqual([modes.shown.player.state.map.name, modes.shown.pending.length], ['de_a', mapB.length]);
    modes.advance(5);  // at the end of the map that ended, still waiting for the moment
    assert.equal(modes.shown.player.state.map.name, 'de_a');
    // Without a moment named, the newest map is followed.
    const plain = watching();
    plain.feed(mapA);
    plain.feed(mapB);
    assert.equal(plain.modes.shown.player.state.map.name, 'de_b');
});
