// Runs a pack in the real Godot engine: the official web build, served from a
// local HTTP server to headless Chromium, driven by puppeteer-core. The engine
// renders with its Compatibility renderer on software WebGL 2: its --headless
// mode crashes the web build ("null function") a few frames after start-up
// with some packs, even when nothing is loaded from them. Returns
// every line the engine printed (stdout and stderr, in order) and how the run
// ended.
import { createServer } from 'node:http';
import { readFile } from 'node:fs/promises';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

const PAGE = `<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>velmora2d Godot check</title></head>
<body><canvas id="canvas" width="64" height="64"></canvas>
<script src="index.js"></script>
<script>
window.velmoraLines = [];
window.velmoraEnded = null;
const engine = new Engine({
  executable: 'index',
  mainPack: 'check.pck',
  args: [],
  onPrint: (...a) => window.velmoraLines.push(['out', a.join(' ')]),
  onPrintError: (...a) => window.velmoraLines.push(['err', a.join(' ')]),
  onExit: (code) => { window.velmoraEnded = 'exit ' + code; },
});
engine.startGame().catch((e) => { window.velmoraEnded = 'start failed: ' + (e && e.message || e); });
</script></body></html>`;

const TYPES = {
    '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm',
    '.pck': 'application/octet-stream',
};

// engineDir: the folder with index.js and index.wasm; pck: the pack's bytes.
export async function runPack({ engineDir, pck, chromium, timeoutMs, doneLine }) {
    const server = createServer(async (req, res) => {
        const name = decodeURIComponent(new URL(req.url, 'http://x').pathname).replace(/^\/+/, '');
        let body = null;
        if (name === '' || name === 'index.html') body = Buffer.from(PAGE);
        else if (name === 'check.pck') body = pck;
        else if (['index.js', 'index.wasm', 'index.audio.worklet.js',
            'index.audio.position.worklet.js'].includes(name)) {
            body = await readFile(path.join(engineDir, name)).catch(() => null);
        }
        // A cross-origin isolated page, so a threaded web build (SharedArrayBuffer)
        // runs as well as the single-threaded one the package ships today.
        const headers = {
            'Cross-Origin-Opener-Policy': 'same-origin',
            'Cross-Origin-Embedder-Policy': 'require-corp',
            'Cache-Control': 'no-store',
        };
        if (body === null) {
            res.writeHead(404, headers);
            res.end();
            return;
        }
        headers['Content-Type'] = TYPES[path.extname(name || 'index.html')] ?? 'application/octet-stream';
        res.writeHead(200, headers);
        res.end(body);
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    const url = `http://127.0.0.1:${server.address().port}/index.html`;

    const browser = await puppeteer.launch({
        executablePath: chromium,
        headless: true,
        // WebGL 2 on the CPU (SwiftShader through ANGLE): the same renderer on
        // every machine, with or without a GPU.
        args: ['--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
            '--disable-dev-shm-usage', '--mute-audio'],
    });
    const pageErrors = [];
    let ended = 'timeout';
    let lines = [];
    try {
        const page = await browser.newPage();
        page.on('pageerror', (e) => pageErrors.push(String(e && e.message || e)));
        await page.goto(url, { waitUntil: 'load' });
        const deadline = Date.now() + timeoutMs;
        let seen = 0;
        for (;;) {
            const state = await page.evaluate((from) => ({
                lines: window.velmoraLines.slice(from), ended: window.velmoraEnded,
            }), seen);
            lines = lines.concat(state.lines);
            seen += state.lines.length;
            if (state.ended) {
                ended = state.ended;
                break;
            }
            if (lines.some(([, text]) => text.startsWith(doneLine))) {
                ended = 'done';
                break;
            }
            if (Date.now() > deadline) break;
            await new Promise((r) => setTimeout(r, 200));
        }
        // Let the last lines of a quitting engine arrive.
        await new Promise((r) => setTimeout(r, 300));
        const rest = await page.evaluate((from) => window.velmoraLines.slice(from), seen);
        lines = lines.concat(rest);
    } finally {
        await browser.close();
        server.close();
    }
    return { lines, ended, pageErrors };
}
