// The automatic camera on the map view: the director's choice (director.js), framed and eased
// every displayed frame. The spectator's own zoom, drag, double click or follow takes the view
// back; the Auto button (or D) gives it to the camera again.
//
//   new Camera(view: MapView, { button, unfollow() })
//     .on                    whether the camera moves the view
//     .toggle(on = !this.on)
//     .reset()               forgets the director's choice (a seek, another map or demo)
//     .update(state, positions, ahead, time, seconds, following)   once a frame, after the
//         view has drawn once for this state's map (it needs the map's geometry); ahead() ->
//         the events of the next seconds (DemoPlayer.ahead), asked for only when choosing

import { Director, ease, frameBox } from './director.js';
import { worldToOverview } from './view.js';

const CHOOSE_MS = 200;  // the choice is made again this often; the framing follows every frame
const MAX_ZOOM = 4;  // the camera's closest: a place, not one player
const MOVED = 0.5;  // overview pixels: a view moved more than this since the camera placed it was moved by hand

export class Camera {
    constructor(view, { button, unfollow }) {
        this.view = view;
        this.button = button;
        this.unfollow = unfollow;
        this.director = new Director();
        this.choice = null;
        this.chosenAt = -Infinity;
        this.placed = null;  // { u, v, zoom, box } as the camera left the view
        this.toggle(false);
    }

    toggle(on = !this.on) {
        this.on = on;
        this.placed = null;
        if (on) this.unfollow();
        this.button?.classList.toggle('active', on);
        this.button?.setAttribute('aria-pressed', String(on));
    }

    reset() {
        this.director.reset();
        this.choice = null;
        this.chosenAt = -Infinity;
    }

    update(state, positions, ahead, time, seconds, following) {
        if (!this.on) return;
        const view = this.view;
        const p = this.placed;
        // Moved by someone else since the last frame: the spectator takes over. A new picture
        // refitting the unzoomed view is no one's hand.
        if (following || (p && p.box === view.box && (Math.abs(view.zoom - p.zoom) > 1e-6 ||
            Math.abs(view.centre.u - p.u) > MOVED || Math.abs(view.centre.v - p.v) > MOVED))) {
            this.toggle(false);
            return;
        }
        const map = view.geometryNow;
        if (!map || !state.map) return;
        const now = performance.now();
        if (!this.choice || now - this.chosenAt > CHOOSE_MS) {
            this.choice = this.director.choose(state, ahead(), time);
            this.chosenAt = now;
        }
        const goal = this.goal(map, frameBox(this.choice, positions));
        const next = ease({ u: view.centre.u, v: view.centre.v, zoom: view.zoom }, goal, seconds);
        view.lookAt(next.u, next.v, next.zoom);
        this.placed = { u: view.centre.u, v: view.centre.v, zoom: view.zoom, box: view.box };
    }

    // The overview's centre and zoom that show a world box whole (the home view for none).
    goal(map, box) {
        const view = this.view;
        const home = view.home();
        if (!box) return { u: home.centre.u, v: home.centre.v, zoom: 1 };
        let u0 = Infinity, u1 = -Infinity, v0 = Infinity, v1 = -Infinity;
        for (const [x, y] of [[box.minX, box.minY], [box.minX, box.maxY], [box.maxX, box.minY], [box.maxX, box.maxY]]) {
            const o = worldToOverview(map, x, y);
            u0 = Math.min(u0, o.u); u1 = Math.max(u1, o.u);
            v0 = Math.min(v0, o.v); v1 = Math.max(v1, o.v);
        }
        const f = view.frame();
        const unzoomed = f.scale / view.zoom;
        const zoom = Math.min(f.w / ((u1 - u0) * unzoomed), f.h / ((v1 - v0) * unzoomed), MAX_ZOOM);
        return { u: (u0 + u1) / 2, v: (v0 + v1) / 2, zoom: Math.max(zoom, 1) };
    }
}
