// viewer/index.html against the modules: every module main.js reaches is preloaded, so the page
// fetches them all at once instead of discovering them an import level at a time.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';

const folder = new URL('../../dist/addons/kovitv/viewer/', import.meta.url);
const read = (name) => readFileSync(new URL(name, folder), 'utf8');

// Static imports and dynamic import() of './x.js', followed from main.js.
function reachable(from) {
    const seen = new Set();
    const visit = (name) => {
        if (seen.has(name)) return;
        seen.add(name);
        const source = read(name);
        for (const m of source.matchAll(/(?:\bfrom\s*|\bimport\s*\(?\s*)['"]\.\/([\w.-]+\.js)['"]/g)) visit(m[1]);
    };
    visit(from);
    return seen;
}

test('the page preloads exactly the modules main.js reaches', () => {
    const html = read('index.html');
    const preloaded = [...html.matchAll(/<link\s+rel="modulepreload"\s+href="([^"]+)"/g)].map((m) => m[1]);
    assert.equal(new Set(preloaded).size, preloaded.length, 'a module preloaded twice');
    assert.match(html, /<script type="module" src="main\.js"><\/script>/);
    const modules = reachable('main.js');
    modules.delete('main.js');  // the page's script itself
    assert.ok(modules.size >= 20, `only ${modules.size} modules found: the import pattern missed some`);
    assert.deepEqual([...preloaded].sort(), [...modules].sort());
});
