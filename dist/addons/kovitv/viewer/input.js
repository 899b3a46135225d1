// Everything the spectator does with the page's controls, the map and the keys, turned into
// calls on what is shown.
//
//   attachInput({ modes: Modes, view: MapView, focus: { selected, hover, follow },
//                 follow(), unfollow(), following() -> boolean, showHelp(on?),
//                 keys: { key: action } more keys (lower case) })
//
// Buttons and keys go through the same calls. On the map: wheel and pinch zoom, drag pans (and
// stops following), a tap chooses a player, a double click resets the view.

export const SPEEDS = [0.25, 0.5, 1, 2, 4, 8];
const JUMP_BEFORE = 6;  // a highlight is shown from this many records before it
const $ = (id) => document.getElementById(id);

export function attachInput(ctx) {
    const { modes } = ctx;
    buttons(ctx);
    lists(ctx);
    mapGestures(ctx);
    document.addEventListener('keydown', (event) => {
        if (event.ctrlKey || event.metaKey || event.altKey) return;
        if (['INPUT', 'SELECT', 'TEXTAREA'].includes(event.target.tagName)) return;
        const key = event.key;
        const actions = {
            ' ': () => modes.togglePlay(), ArrowLeft: () => modes.skip(-5), ArrowRight: () => modes.skip(5),
            j: () => modes.skip(-10), l: () => modes.skip(10), '[': () => modes.round(-1), ']': () => modes.round(1),
            f: ctx.follow, g: () => modes.goLive(), '?': () => ctx.showHelp(),
            Escape: () => { ctx.showHelp(false); ctx.unfollow(); $('menu').hidden = true; },
            ...ctx.keys,
        };
        const action = actions[key.length === 1 ? key.toLowerCase() : key] ??
            (/^[1-6]$/.test(key) ? () => modes.setSpeed(SPEEDS[Number(key) - 1]) : null);
        if (!action) return;
        event.preventDefault();
        action();
    });
}

function buttons({ modes, showHelp }) {
    $('live').addEventListener('click', () => modes.startLive());
    $('golive').addEventListener('click', () => modes.goLive());
    $('play').addEventListener('click', () => modes.togglePlay());
    $('back10').addEventListener('click', () => modes.skip(-10));
    $('back5').addEventListener('click', () => modes.skip(-5));
    $('fwd5').addEventListener('click', () => modes.skip(5));
    $('fwd10').addEventListener('click', () => modes.skip(10));
    $('prevround').addEventListener('click', () => modes.round(-1));
    $('nextround').addEventListener('click', () => modes.round(1));
    $('speed').addEventListener('change', () => modes.setSpeed(Number($('speed').value)));
    $('helpbutton').addEventListener('click', () => { menu(false); showHelp(); });
    // The menu: what the row of controls has no room for. Its copies of the row's buttons act
    // as those; a choice or a click elsewhere closes it.
    const menu = (open = $('menu').hidden) => {
        $('menu').hidden = !open;
        $('menubutton').setAttribute('aria-expanded', String(open));
    };
    $('menubutton').addEventListener('click', (event) => { event.stopPropagation(); menu(); });
    for (const item of $('menu').querySelectorAll('[data-action]')) {
        item.addEventListener('click', () => $(item.dataset.action).click());
    }
    $('live').addEventListener('click', () => menu(false));
    $('demos').addEventListener('change', () => menu(false));
    document.addEventListener('click', (event) => { if (!$('menu').contains(event.target)) menu(false); });
    $('help').addEventListener('click', () => showHelp(false));
    for (const tab of ['game', 'rounds', 'feed']) {
        $(`tab-${tab}`).addEventListener('click', () => {
            for (const other of ['game', 'rounds', 'feed']) {
                $(`panel-${other}`).hidden = other !== tab;
                $(`tab-${other}`).classList.toggle('active', other === tab);
            }
        });
    }
}

function lists({ modes, focus }) {
    // Lists are rebuilt while they are looked at: pointerdown on the list, not click on an item.
    for (const list of ['rounds', 'highlights']) {
        $(list).addEventListener('pointerdown', (event) => {
            const record = event.target.closest('[data-record]')?.dataset.record;
            if (record === undefined) return;
            modes.seek(Number(record) + (list === 'highlights' ? -JUMP_BEFORE : 1));
            if (modes.shown) modes.shown.player.playing = true;
        });
    }
    $('teams').addEventListener('pointerdown', (event) => {
        const slot = event.target.closest('[data-slot]')?.dataset.slot;
        if (slot !== undefined) focus.selected = Number(slot) === focus.selected ? -1 : Number(slot);
    });
}

function mapGestures({ view, focus, following, unfollow }) {
    const map = $('map');
    const pointers = new Map();
    let dragged = false, pinch = 0;
    const local = (event) => {
        const box = map.getBoundingClientRect();
        return { x: event.clientX - box.left, y: event.clientY - box.top };
    };
    map.addEventListener('wheel', (event) => {
        event.preventDefault();
        const { x, y } = local(event);
        view.zoomAt(x, y, Math.exp(-event.deltaY / 400));
    }, { passive: false });
    map.addEventListener('pointerdown', (event) => {
        pointers.set(event.pointerId, local(event));
        map.setPointerCapture(event.pointerId);
        dragged = false;
        if (pointers.size === 2) {
            const [a, b] = [...pointers.values()];
            pinch = Math.hypot(a.x - b.x, a.y - b.y);
        }
    });
    map.addEventListener('pointermove', (event) => {
        const at = local(event);
        if (!pointers.has(event.pointerId)) {
            focus.hover = view.pick(at.x, at.y);
            return;
        }
        const was = pointers.get(event.pointerId);
        pointers.set(event.pointerId, at);
        if (pointers.size === 2) {
            const [a, b] = [...pointers.values()];
            const d = Math.hypot(a.x - b.x, a.y - b.y);
            if (pinch > 0) view.zoomAt((a.x + b.x) / 2, (a.y + b.y) / 2, d / pinch);
            pinch = d;
            dragged = true;
        } else if (Math.hypot(at.x - was.x, at.y - was.y) > 0) {
            dragged ||= Math.hypot(at.x - was.x, at.y - was.y) > 2;
            view.panBy(at.x - was.x, at.y - was.y);
            if (dragged && following()) unfollow();  // panning away from the followed player
        }
    });
    map.addEventListener('pointerup', (event) => {
        if (pointers.size === 1 && !dragged) {
            const { x, y } = local(event);
            focus.selected = view.pick(x, y);
        }
        pointers.delete(event.pointerId);
        if (pointers.size < 2) pinch = 0;
    });
    map.addEventListener('pointercancel', (event) => { pointers.delete(event.pointerId); pinch = 0; });
    map.addEventListener('pointerleave', () => { focus.hover = -1; });
    map.addEventListener('dblclick', () => view.reset());
}

