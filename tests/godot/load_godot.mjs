// Loads every Godot file velmora2d writes for the test sets in the real Godot 4
// engine and compares what the engine found with the sprite-sheet JSON.
// Usage: node load_godot.mjs TOOL EXAMPLES_DIR WORK_DIR ENGINE_DIR CHROMIUM
// Status 0 when every file loads without an engine error and matches, and every
// file broken on purpose is reported; 1 otherwise.
import fs from 'node:fs';
import path from 'node:path';
import { writePck } from './pck.mjs';
import { runPack } from './engine.mjs';
import { makeSheets, makeColliderScenes, filesBelow } from './sets.mjs';
import {
    TAG, readEngineLines, engineErrors, sheetFrames, spriteFramesProblems,
    textureProblems, assignFrameFiles, frameSceneProblems, collidersSceneProblems,
} from './expect.mjs';

const [tool, examples, work, engineDir, chromium] = process.argv.slice(2);
if (!chromium) {
    console.error('usage: node load_godot.mjs TOOL EXAMPLES_DIR WORK_DIR ENGINE_DIR CHROMIUM');
    process.exit(2);
}
const here = path.dirname(new URL(import.meta.url).pathname);
const started = Date.now();

fs.rmSync(work, { recursive: true, force: true });
fs.mkdirSync(work, { recursive: true });
let sets;
let colliders;
try {
    sets = makeSheets(tool, examples, work);
    colliders = makeColliderScenes(tool, examples, work);
} catch (e) {
    // A refused run leaves nothing to load: name the command and its message.
    console.log(`FAIL ${e.cmd ?? 'making the test sets'}\n       ${String(e.stderr || e.message).trim()}`);
    process.exit(1);
}

// The pack: a project whose main scene runs check.gd over list.json.
const res = (set, rel) => `res://sets/${set}/${rel}`;
const pack = [
    { path: 'project.godot', data: 'config_version=5\n\n[application]\n\nconfig/name="velmora2d check"\nrun/main_scene="res://velmora_check/main.tscn"\n' },
    // An empty class cache, as an export has, so the engine does not miss it.
    { path: '.godot/global_script_class_cache.cfg', data: 'list=[]\n' },
    { path: 'velmora_check/main.tscn', data: '[gd_scene format=3]\n\n[ext_resource type="Script" path="res://velmora_check/check.gd" id="1_check"]\n\n[node name="Check" type="Node"]\nscript = ExtResource("1_check")\n' },
    { path: 'velmora_check/check.gd', data: fs.readFileSync(path.join(here, 'check.gd')) },
];
const list = { pngs: [], files: [] };
for (const s of sets) {
    s.files = filesBelow(s.dir).filter((f) => /\.(png|tres|tscn)$/.test(f));
    for (const f of s.files) {
        pack.push({ path: res(s.set, f), data: fs.readFileSync(path.join(s.dir, ...f.split('/'))) });
        (f.endsWith('.png') ? list.pngs : list.files).push(res(s.set, f));
    }
}
for (const c of colliders) {
    pack.push({ path: res('colliders', c.file), data: fs.readFileSync(path.join(work, 'out', 'colliders', c.file)) });
    list.files.push(res('colliders', c.file));
}
pack.push({ path: 'velmora_check/list.json', data: JSON.stringify(list) });
const pck = writePck(pack.map((p) => ({ path: p.path, data: Buffer.from(p.data) })));
fs.writeFileSync(path.join(work, 'check.pck'), pck);

const run = await runPack({ engineDir, pck, chromium, timeoutMs: 150000, doneLine: `${TAG}{"event":"done"` });
fs.writeFileSync(path.join(work, 'engine.log'), run.lines.map(([s, t]) => `${s}: ${t}`).join('\n') + '\n');
const seen = readEngineLines(run.lines);

// Problems per res:// path; every file the pack lists gets an entry.
const problems = new Map();
const note = (file, p) => problems.get(file).push(...p);
for (const f of [...list.pngs, ...list.files]) {
    const r = seen.files.get(f);
    const p = [];
    if (!r) p.push('the engine never reached this file');
    else {
        for (const e of engineErrors(r.log)) p.push(`engine: ${e}`);
        if (!r.result) p.push('no result line: the engine stopped inside this file');
        else if (r.result.error) p.push(r.result.error);
    }
    problems.set(f, p);
}
const result = (f) => seen.files.get(f)?.result;
const usable = (f) => result(f) && !result(f).error;

for (const s of sets) {
    const setProblems = [];
    // One page: sheet.json. Several: sheet-N.json as the folder holds them, each
    // frame with its own page's images, and the animations of the same frames
    // packed onto one page.
    const pages = s.onePage ? pageSheets(s, setProblems) : [JSON.parse(fs.readFileSync(path.join(s.dir, 'sheet.json'), 'utf8'))];
    const pngsOf = (page) => ({ atlas: res(s.set, page.meta.image), normal: page.meta.normal_map ? res(s.set, page.meta.normal_map) : null });
    const sheet = s.onePage
        ? { pages: pages.map((page) => ({ sheet: page, pngs: pngsOf(page) })), animations: JSON.parse(fs.readFileSync(s.onePage, 'utf8')).animations }
        : pages[0];
    const pngs = s.onePage ? null : pngsOf(sheet);
    for (const page of pages) {
        for (const png of Object.values(pngsOf(page)).filter(Boolean)) {
            if (!problems.has(png)) {
                problems.set(png, ['the JSON names this image, the tool did not write it']);
            } else if (usable(png) && JSON.stringify(result(png).size) !== JSON.stringify([page.meta.size.w, page.meta.size.h])) {
                note(png, [`decoded size ${JSON.stringify(result(png).size)}, the JSON says ${JSON.stringify(page.meta.size)}`]);
            }
        }
    }
    if (s.onePage) {
        const names = sheetFrames(sheet).map((f) => f.name).sort();
        const onePage = sheetFrames(JSON.parse(fs.readFileSync(s.onePage, 'utf8'))).map((f) => f.name).sort();
        if (JSON.stringify(names) !== JSON.stringify(onePage)) {
            setProblems.push(`the pages hold frames ${JSON.stringify(names)}, one page holds ${JSON.stringify(onePage)}`);
        }
    }
    const framesFile = res(s.set, 'sheet.tres');
    if (!problems.has(framesFile)) problems.set(framesFile, ['missing: the tool wrote no SpriteFrames']);
    else if (usable(framesFile)) note(framesFile, spriteFramesProblems(result(framesFile), sheet, pngs));

    // Per-frame files, and the scenes beside them.
    const stems = s.files.filter((f) => f.startsWith('sheet/') && f.endsWith('.tres')).map((f) => f.slice(6, -5));
    const textures = new Map(stems.filter((st) => usable(res(s.set, `sheet/${st}.tres`)))
        .map((st) => [st, result(res(s.set, `sheet/${st}.tres`))]));
    const { owner, problems: missing } = assignFrameFiles(stems, textures, sheet, pngs);
    setProblems.push(...missing);
    for (const st of stems) {
        const f = res(s.set, `sheet/${st}.tres`);
        const frame = owner.get(st);
        if (!usable(f) || !frame) continue;
        if (result(f).class !== 'AtlasTexture') note(f, [`loaded as ${result(f).class}, not AtlasTexture`]);
        else note(f, textureProblems(result(f).texture, frame, pngs));
    }
    const withPolygons = sheetFrames(sheet).some((fr) => fr.polygons);
    const scenes = s.files.filter((f) => f.startsWith('sheet/') && f.endsWith('.tscn')).map((f) => f.slice(6, -5));
    if (withPolygons && scenes.length !== stems.length) {
        setProblems.push(`${scenes.length} scenes for ${stems.length} per-frame textures`);
    }
    if (!withPolygons && scenes.length > 0) setProblems.push(`${scenes.length} scenes without --colliders`);
    for (const st of scenes) {
        const f = res(s.set, `sheet/${st}.tscn`);
        const frame = owner.get(st);
        if (!usable(f)) continue;
        if (!frame) note(f, [`no frame owns ${st}.tres beside it`]);
        else note(f, frameSceneProblems(result(f), frame, pngs, res(s.set, `sheet/${st}.tres`)));
    }
    s.setProblems = setProblems;
}
for (const c of colliders) {
    const f = res('colliders', c.file);
    if (usable(f)) note(f, collidersSceneProblems(result(f), c.polygons));
}

// Report: the self-check set must fail exactly where it was broken; every other
// file must pass.
let failed = false;
let loaded = 0;
const fail = (line) => {
    failed = true;
    console.log(line);
};
for (const line of seen.outside.filter((l) => /^(USER |SCRIPT )?ERROR:/.test(l))) fail(`FAIL engine, outside any file: ${line}`);
if (!seen.done) fail(`FAIL the engine did not finish the list (${run.ended}); page errors: ${run.pageErrors.join('; ') || 'none'}`);
const selfSets = sets.filter((s) => s.broken);
const brokenOnPurpose = (file) => selfSets.some((self) => self.broken.some((b) => file === res(self.set, b.file)));
for (const [file, p] of problems) {
    if (brokenOnPurpose(file)) continue;
    if (p.length === 0) {
        loaded += file.endsWith('.png') ? 0 : 1;
        if (process.env.VELMORA_GODOT_VERBOSE) console.log(`ok   ${file}`);
    } else {
        fail(`FAIL ${file}\n       ${p.join('\n       ')}`);
    }
}
for (const s of sets.filter((x) => x.setProblems.length && !x.broken)) {
    fail(`FAIL set ${s.set}: ${s.setProblems.join('; ')}`);
}
for (const self of selfSets) {
    for (const b of self.broken) {
        const file = res(self.set, b.file);
        const p = (b.how === 'missing' ? self.setProblems : problems.get(file) ?? []).filter((x) => b.seen.test(x));
        if (p.length === 0) fail(`FAIL self-check: ${self.set}/${b.file} (${b.how}) was not reported; this stage cannot see that fault`);
        else console.log(`self-check: ${self.set}/${b.file} (${b.how}) reported: ${p[0]}`);
    }
    const unexpected = self.setProblems.filter((x) => !self.broken.some((b) => b.how === 'missing' && b.seen.test(x)));
    if (unexpected.length) fail(`FAIL self-check set ${self.set}: ${unexpected.join('; ')}`);
}

const brokenInPack = selfSets.reduce((n, self) => n + self.broken.filter((b) => problems.has(res(self.set, b.file))).length, 0);
const expected = problems.size - list.pngs.length - brokenInPack;
console.log(`${loaded} of ${expected} Godot files loaded and matched the JSON in Godot ${versionOf()} ` +
    `(besides ${list.pngs.length} atlas images and ${brokenInPack} files broken on purpose) in ` +
    `${((Date.now() - started) / 1000).toFixed(1)} s; engine log: ${path.join(work, 'engine.log')}`);
process.exit(failed ? 1 : 0);

// The page documents sheet-0.json, sheet-1.json, ... of a set, in page order,
// found by listing its folder; each must name its own images.
function pageSheets(s, setProblems) {
    const numbers = fs.readdirSync(s.dir).map((f) => /^sheet-(0|[1-9][0-9]*)\.json$/.exec(f)).filter(Boolean)
        .map((m) => Number(m[1])).sort((a, b) => a - b);
    if (numbers.length < 2 || numbers.some((n, i) => n !== i)) setProblems.push(`pages ${JSON.stringify(numbers)}, expected 0 to N-1 with N >= 2`);
    return numbers.map((n) => {
        const page = JSON.parse(fs.readFileSync(path.join(s.dir, `sheet-${n}.json`), 'utf8'));
        if (page.meta.image !== `sheet-${n}.png`) setProblems.push(`sheet-${n}.json: meta.image ${JSON.stringify(page.meta.image)}`);
        if (page.meta.normal_map !== undefined && page.meta.normal_map !== `sheet-${n}_n.png`) {
            setProblems.push(`sheet-${n}.json: meta.normal_map ${JSON.stringify(page.meta.normal_map)}`);
        }
        return page;
    });
}

function versionOf() {
    const start = run.lines.map(([, t]) => t).find((t) => t.startsWith(`${TAG}{"event":"start"`));
    return start ? JSON.parse(start.slice(TAG.length)).version : 'unknown version';
}
