// Loads every Godot file velmora2d writes for the test sets in the real Godot 4
// engine and compares what the engine found with the sprite-sheet JSON.
// Usage: node load_godot.mjs TOOL EXAMPLES_DIR WORK_DIR ENGINE_DIR CHROMIUM FIXTURES
// (FIXTURES: the tests' velmora_sprite_fixtures, writer of layered sprite files)
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

const [tool, examples, work, engineDir, chromium, fixtures] = process.argv.slice(2);
if (!fixtures) {
    console.error('usage: node load_godot.mjs TOOL EXAMPLES_DIR WORK_DIR ENGINE_DIR CHROMIUM FIXTURES');
    process.exit(2);
}
const here = path.dirname(new URL(import.meta.url).pathname);
const started = Date.now();

fs.rmSync(work, { recursive: true, force: true });
fs.mkdirSync(work, { recursive: true });
let sets;
let colliders;
try {
    sets = makeSheets(tool, examples, work, fixtures);
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
// A set is one output set of a folder (home): PREFIX.* with PREFIX 'sheet' and,
// for a scale variant, its suffix ('sheet@0.5x'). Every file of a folder is
// packed once; a set's own are its SpriteFrames and the files under PREFIX/.
const packed = new Set();
for (const s of sets) {
    s.home ??= s.set;
    s.variant ??= '';
    s.prefix = `sheet${s.variant}`;
    const files = filesBelow(s.dir).filter((f) => /\.(png|tres|tscn)$/.test(f));
    s.files = files.filter((f) => f === `${s.prefix}.tres` || f.startsWith(`${s.prefix}/`));
    if (packed.has(s.home)) continue;
    packed.add(s.home);
    for (const f of files) {
        pack.push({ path: res(s.home, f), data: fs.readFileSync(path.join(s.dir, ...f.split('/'))) });
        (f.endsWith('.png') ? list.pngs : list.files).push(res(s.home, f));
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
    // packed onto one page. A scale variant's carry its suffix (sheet@0.5x.json).
    const pages = setDocuments(s, s.variant, setProblems);
    if (s.variant) {
        // A scale variant: the scale its name gives, scale 1's frames by name.
        const scale = Number(s.variant.slice(1, -1));
        pages.forEach((page, n) => {
            if (!(parseFloat(page.meta.scale) === scale)) setProblems.push(`${documentName(s, s.variant, n)}: meta.scale ${JSON.stringify(page.meta.scale)}, the name says ${scale}`);
        });
        const names = (docs) => docs.flatMap((d) => sheetFrames(d).map((f) => f.name)).sort();
        const scale1 = names(setDocuments(s, '', setProblems));
        if (JSON.stringify(names(pages)) !== JSON.stringify(scale1)) {
            setProblems.push(`frames ${JSON.stringify(names(pages))}, scale 1 has ${JSON.stringify(scale1)}`);
        }
    }
    const pngsOf = (page) => ({ atlas: res(s.home, page.meta.image), normal: page.meta.normal_map ? res(s.home, page.meta.normal_map) : null });
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
    const framesFile = res(s.home, `${s.prefix}.tres`);
    if (!problems.has(framesFile)) problems.set(framesFile, ['missing: the tool wrote no SpriteFrames']);
    else if (usable(framesFile)) note(framesFile, spriteFramesProblems(result(framesFile), sheet, pngs, s.plays));

    // Per-frame files, and the scenes beside them.
    const own = (st, ext) => res(s.home, `${s.prefix}/${st}.${ext}`);
    const stemsOf = (ext) => s.files.filter((f) => f.startsWith(`${s.prefix}/`) && f.endsWith(`.${ext}`))
        .map((f) => f.slice(s.prefix.length + 1, -ext.length - 1));
    const stems = stemsOf('tres');
    const textures = new Map(stems.filter((st) => usable(own(st, 'tres'))).map((st) => [st, result(own(st, 'tres'))]));
    const { owner, problems: missing } = assignFrameFiles(stems, textures, sheet, pngs);
    setProblems.push(...missing);
    for (const st of stems) {
        const f = own(st, 'tres');
        const frame = owner.get(st);
        if (!usable(f) || !frame) continue;
        if (result(f).class !== 'AtlasTexture') note(f, [`loaded as ${result(f).class}, not AtlasTexture`]);
        else note(f, textureProblems(result(f).texture, frame, pngs));
    }
    const withPolygons = sheetFrames(sheet).some((fr) => fr.polygons);
    const scenes = stemsOf('tscn');
    if (withPolygons && scenes.length !== stems.length) {
        setProblems.push(`${scenes.length} scenes for ${stems.length} per-frame textures`);
    }
    if (!withPolygons && scenes.length > 0) setProblems.push(`${scenes.length} scenes without --colliders`);
    for (const st of scenes) {
        const f = own(st, 'tscn');
        const frame = owner.get(st);
        if (!usable(f)) continue;
        if (!frame) note(f, [`no frame owns ${st}.tres beside it`]);
        else note(f, frameSceneProblems(result(f), frame, pngs, own(st, 'tres')));
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
// A frame's scene draws the frame's texture file: broken with it.
const brokenOnPurpose = (file) => selfSets.some((self) => self.broken.some((b) => file === res(self.home, b.file)
    || (b.file.endsWith('.tres') && file === res(self.home, b.file.replace(/\.tres$/, '.tscn')))));
// Faults seen in a set as a whole: a file missing, a JSON broken.
const setLevel = (b) => b.edit === null || b.inSet;
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
        const file = res(self.home, b.file);
        const p = (setLevel(b) ? self.setProblems : problems.get(file) ?? []).filter((x) => b.seen.test(x));
        if (p.length === 0) fail(`FAIL self-check: ${self.set}/${b.file} (${b.how}) was not reported; this stage cannot see that fault`);
        else console.log(`self-check: ${self.set}/${b.file} (${b.how}) reported: ${p[0]}`);
    }
    const unexpected = self.setProblems.filter((x) => !self.broken.some((b) => setLevel(b) && b.seen.test(x)));
    if (unexpected.length) fail(`FAIL self-check set ${self.set}: ${unexpected.join('; ')}`);
}

const brokenInPack = [...problems.keys()].filter(brokenOnPurpose).length;
const expected = problems.size - list.pngs.length - brokenInPack;
console.log(`${loaded} of ${expected} Godot files loaded and matched the JSON in Godot ${versionOf()} ` +
    `(besides ${list.pngs.length} atlas images and ${brokenInPack} files broken on purpose) in ` +
    `${((Date.now() - started) / 1000).toFixed(1)} s; engine log: ${path.join(work, 'engine.log')}`);
process.exit(failed ? 1 : 0);

// The name of a set's document: sheet.json, or page n's sheet-n.json; a scale
// variant's carries its suffix (sheet@0.5x.json, sheet-n@0.5x.json).
function documentName(s, variant, n) {
    return s.onePage ? `sheet-${n}${variant}.json` : `sheet${variant}.json`;
}

// The documents of a set's scale (variant: its suffix, '' for scale 1) in page
// order, pages found by listing its folder; each must name its own images.
function setDocuments(s, variant, setProblems) {
    let numbers = [0];
    if (s.onePage) {
        numbers = fs.readdirSync(s.dir).map((f) => (f.startsWith('sheet-') && f.endsWith(`${variant}.json`) ? f.slice(6, -`${variant}.json`.length) : ''))
            .filter((n) => /^(0|[1-9][0-9]*)$/.test(n)).map(Number).sort((a, b) => a - b);
        if (numbers.length < 2 || numbers.some((n, i) => n !== i)) setProblems.push(`pages ${JSON.stringify(numbers)} of sheet-N${variant}.json, expected 0 to N-1 with N >= 2`);
    }
    return numbers.map((n) => {
        const name = documentName(s, variant, n);
        const page = JSON.parse(fs.readFileSync(path.join(s.dir, name), 'utf8'));
        const image = name.replace(/\.json$/, '.png');
        if (page.meta.image !== image) setProblems.push(`${name}: meta.image ${JSON.stringify(page.meta.image)}, not ${image}`);
        const normal = name.replace(/\.json$/, '_n.png');
        if (page.meta.normal_map !== undefined && page.meta.normal_map !== normal) {
            setProblems.push(`${name}: meta.normal_map ${JSON.stringify(page.meta.normal_map)}, not ${normal}`);
        }
        return page;
    });
}

function versionOf() {
    const start = run.lines.map(([, t]) => t).find((t) => t.startsWith(`${TAG}{"event":"start"`));
    return start ? JSON.parse(start.slice(TAG.length)).version : 'unknown version';
}
