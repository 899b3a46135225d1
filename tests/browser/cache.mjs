// A second page load keeps what the first one downloaded: headless Chromium opens the browser
// viewer (and an overview picture, as the viewer shows one) from the plugin running in simhost,
// then opens it again; no file under /viewer/ or /overviews/ may come from the server whole the
// second time (from the browser's cache, or a 304 at most). Run by scripts/browser-check.sh.
//
//   node cache.mjs --base URL [--overview PATH] [--chromium PATH]
// Exit status 0 when the check passed, 1 when it failed, 2 for a bad command line.
import { parseArgs } from 'node:util';
import puppeteer from 'puppeteer-core';

const USAGE = `Usage: node cache.mjs --base URL [--overview PATH] [--chromium PATH]
  --base      the plugin's web address, e.g. http://127.0.0.1:27015
  --overview  an overview picture's path on it, e.g. /overviews/de_kovi.bmp
  --chromium  the browser (default /usr/bin/chromium)`;

let args;
try {
    args = parseArgs({ options: {
        base: { type: 'string' }, overview: { type: 'string' },
        chromium: { type: 'string', default: '/usr/bin/chromium' }, help: { type: 'boolean' },
    } }).values;
} catch (error) {
    console.error(`cache: ${error.message}\n${USAGE}`);
    process.exit(2);
}
if (args.help) { console.log(USAGE); process.exit(0); }
if (!args.base) { console.error(`cache: --base is needed\n${USAGE}`); process.exit(2); }

const STATIC = /\/(viewer|overviews)\//;
const browser = await puppeteer.launch({
    executablePath: args.chromium, headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage', '--no-first-run'],
});
let failed = false;
try {
    const page = await browser.newPage();
    // One load: the viewer page, its scripts, and the overview picture shown in an <img>.
    async function load() {
        const seen = [];
        const record = (request) => {
            const response = request.response();
            if (!STATIC.test(request.url()) || !response) return;
            seen.push({ url: request.url(), status: response.status(), cached: response.fromCache() });
        };
        page.on('requestfinished', record);
        await page.goto(`${args.base}/viewer/index.html`, { waitUntil: 'networkidle0' });
        if (args.overview) {
            await page.evaluate((src) => new Promise((resolve) => {
                const picture = new Image();
                picture.onload = picture.onerror = resolve;
                picture.src = src;
                document.body.append(picture);
            }), args.overview);
            await page.waitForNetworkIdle({ idleTime: 300 });
        }
        page.off('requestfinished', record);
        return seen;
    }
    const first = await load();
    const second = await load();
    const downloaded = (list) => list.filter((r) => r.status === 200 && !r.cached);
    const scripts = first.filter((r) => r.url.endsWith('.js')).length;
    const overview = !args.overview || first.some((r) => r.url.endsWith(args.overview));
    if (downloaded(first).length < 2 || scripts < 1 || !overview) {
        failed = true;
        console.log(`FAILED: the first load fetched too little to judge: ${JSON.stringify(first)}`);
    }
    const again = downloaded(second);
    const revalidated = second.filter((r) => r.status === 304).length;
    if (again.length === 0) {
        console.log(`ok: a second page load downloads none of the ${first.length} viewer files and ` +
                    `overviews again (${second.length - revalidated} from the browser's cache, ` +
                    `${revalidated} answered 304)`);
    } else {
        failed = true;
        console.log(`FAILED: a second page load downloads again: ${again.map((r) => r.url).join(', ')}`);
    }
} catch (error) {
    failed = true;
    console.log(`FAILED: ${error.message}`);
} finally {
    await browser.close();
}
process.exit(failed ? 1 : 0);
