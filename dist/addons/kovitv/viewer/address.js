// What the address says is shown, so that a copied link opens the same moment.
//
//   readAddress(hash, search) -> { demo, t, follow, live }
//   writeAddress({ demo, t, follow, live }) -> the text after '#' ('' for plain live)
//
// Everything goes after '#', which browsers never send: the plugin refuses requests whose query
// holds '=', '&', '%' or "..". A query (?demo=URL&t=S) is read too, for other web servers.
//   #demo=URL&t=SECONDS&follow=NAME     a demo at that moment of game time, following a player
//   #live&t=SECONDS&follow=NAME         live; t is the game time of the current map (rewound)
// The followed player is named, not numbered: slots change hands between maps.

export function readAddress(hash, search = '') {
    const h = new URLSearchParams(String(hash).replace(/^#/, ''));
    const q = new URLSearchParams(String(search).replace(/^\?/, ''));
    const from = h.has('demo') || h.has('live') || !q.has('demo') ? h : q;
    const t = Number(from.get('t'));
    return {
        demo: from.get('demo') || null,
        t: Number.isFinite(t) && t > 0 ? t : 0,
        follow: from.get('follow') || null,
        live: !from.get('demo'),
    };
}

export function writeAddress({ demo = null, t = 0, follow = null, live = !demo }) {
    const p = new URLSearchParams();
    if (demo) p.set('demo', demo);
    else if (live && (t > 0 || follow)) p.set('live', '');
    if (t > 0) p.set('t', String(Math.floor(t * 2) / 2));
    if (follow) p.set('follow', follow);
    // URLSearchParams writes "live=" for the empty value; the bare word reads the same.
    return p.toString().replace(/^live=(&|$)/, 'live$1');
}
