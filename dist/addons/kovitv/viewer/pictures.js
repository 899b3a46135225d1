// Overview pictures by map name, from what the server says it has (the live sync and the demo
// list name each map's file): nothing is asked for that was not named. What the first frame does
// not need (pictures, the demo list) waits for it, or a second and a half at most, so the
// stream's first fragments do not share the server with a picture of megabytes or a listing.
//
//   learnPicture(map, path)      the server named this map's overview ('' for none)
//   overviewFor(state) -> the loaded Image of the state's map (with .content, view.js's
//                        contentBox), or null while loading, failed or unnamed
//   afterFirstFrame(f)           runs f once the first frame is drawn
//   firstFrameDone()             the first frame that shows a game is drawn: marks it as
//                                "kovitv-first-frame" in the page's performance timeline
//   firstFrameDrawn() -> boolean

import { contentBox } from './view.js';

const pictures = new Map();  // map -> path in the plugin folder, '' for none
const overviews = new Map();  // path -> Image once loaded, null while loading or failed
const inFolder = (path) => `../${path.split('/').map(encodeURIComponent).join('/')}`;

let drawn = false;
const waiting = [];
export function afterFirstFrame(f) {
    if (drawn) f();
    else waiting.push(f);
}
export function firstFrameDone() {
    drawn = true;
    performance.mark('kovitv-first-frame');
    for (const f of waiting.splice(0)) f();
}
export const firstFrameDrawn = () => drawn;
setTimeout(() => { if (!drawn) for (const f of waiting.splice(0)) f(); }, 1500);

export function learnPicture(map, path) {
    if (typeof map !== 'string' || typeof path !== 'string' || pictures.get(map) === path) return;
    pictures.set(map, path);
    if (path && !overviews.has(path)) afterFirstFrame(() => loadPicture(path));
}

function loadPicture(path) {
    if (overviews.has(path)) return;
    overviews.set(path, null);
    const image = new Image();
    image.onload = () => {
        image.content = contentBox(image);
        overviews.set(path, image);
    };
    image.src = inFolder(path);
}

export function overviewFor(state) {
    const path = pictures.get(state.map?.name ?? '');
    return path ? overviews.get(path) ?? null : null;
}
