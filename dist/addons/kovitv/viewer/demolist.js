// The server's recorded demos in the picker (newest first; hidden where the server has no list)
// and the file chooser. Each listed entry names its map's overview picture, if the server has one.
//
//   attachDemoList({ open(path), openFile(buffer, name) })
//   listDemos()      refreshes the picker (at most every 5 s)
//   chooseListed(url)   selects the entry of a demo named by any URL that leads to it

import { demoLabel, isDemoPath } from './demo.js';
import { learnPicture } from './pictures.js';

const $ = (id) => document.getElementById(id);
let listedAt = -Infinity;

export async function listDemos() {
    if (performance.now() - listedAt < 5000) return;
    listedAt = performance.now();
    try {
        const response = await fetch('../demos/', { cache: 'no-store' });
        if (!response.ok) throw new Error(`HTTP ${response.status}`);
        const demos = ((await response.json()).demos ?? []).filter((d) => isDemoPath(d?.path));
        for (const d of demos) learnPicture(d.map, d.overview);
        const chosen = $('demos').value;
        const none = new Option(demos.length ? 'Recorded maps' : 'none recorded yet', '');
        $('demos').replaceChildren(none, ...demos.map((d) => new Option(demoLabel(d), d.path)));
        $('demos').value = demos.some((d) => d.path === chosen) ? chosen : '';
        $('recorded').hidden = false;
    } catch {
        $('recorded').hidden = true;
    }
}

export function chooseListed(url) {
    const target = new URL(url, location.href).href;
    const option = [...$('demos').options].find((o) => o.value && new URL(o.value, location.href).href === target);
    $('demos').value = option?.value ?? '';
}

export function attachDemoList({ open, openFile }) {
    $('demos').addEventListener('focus', listDemos);
    $('demos').addEventListener('pointerdown', listDemos);
    $('demos').addEventListener('change', () => {
        const path = $('demos').value;
        if (path) open(path);
    });
    $('file').addEventListener('change', async () => {
        const file = $('file').files[0];
        if (!file) return;
        $('demos').value = '';
        openFile(await file.arrayBuffer(), file.name);
    });
}
