// The outputs the engine loads: the example sprites packed the ways the client
// stage packs them, on one page and on several, scale variants, a folder of
// awkwardly named frames, the --colliders scenes, and self-check copies with
// files broken on purpose.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';

export const EXAMPLE_MODES = [
    { set: 'plain', args: [] },
    { set: 'array', args: ['--json', 'array'] },
    { set: 'trimmed', args: ['--trim', '--padding', '2', '--extrude', '1', '--dedupe', '--normal-map', '--colliders'] },
];

// Atlases of several pages (PREFIX-N.png, .json; one SpriteFrames over them):
// at least three pages each, so a frame can point at a wrong page either way.
export const PAGE_MODES = [
    { set: 'pages', args: ['--max-size', '48x48', '--normal-map'] },
    { set: 'pages-trimmed', args: ['--max-size', '32x32', '--trim', '--dedupe', '--padding', '1', '--colliders'] },
    { set: 'pages-awkward', awkward: true, args: ['--max-size', '72x72', '--colliders', '--normal-map'] },
];

// Scale variants (--scale): each scale's whole set beside scale 1's, named
// PREFIX@Sx (pages PREFIX-N@Sx), its regions, margins and polygons in its own
// image's pixels. variants: the sets checked, by suffix ('' is scale 1).
export const SCALE_MODES = [
    { set: 'scales', variants: ['', '@0.5x'], args: ['--scale', '1,0.5', '--trim', '--colliders', '--normal-map'] },
    { set: 'scales-pages', variants: ['@0.5x'], args: ['--scale', '1,0.5', '--max-size', '32x32', '--normal-map'] },
];

// Frame names users have, each drawn from an example sprite. Characters that
// Windows, macOS or Godot read as path syntax are here on purpose: the files
// written for them must load as well.
export const AWKWARD_NAMES = [
    ['with space/run 1', 'hero/walk_0'],
    ['with space/run 2', 'hero/walk_1'],
    ['quote"d', 'items/crate'],
    ["apostrophe's", 'items/crate'],
    ['100%', 'items/coin_0'],
    ['%20encoded', 'items/coin_1'],
    ['ünïcödé/café_1', 'items/coin_2'],
    ['ünïcödé/café_2', 'items/coin_3'],
    ['日本語', 'items/crate'],
    ['deep/sub/folder/frame_01', 'hero/walk_2'],
    ['deep/sub/folder/frame_02', 'hero/walk_3'],
    ['digits/123', 'items/coin_4'],
    ['digits/7up', 'items/coin_5'],
    ['brackets[1]', 'items/crate'],
    ['hash#tag', 'items/crate'],
    ['amp&semi;', 'items/crate'],
    ['equals=sign', 'items/crate'],
    ['dots..in..name', 'items/crate'],
    ['back\\slash', 'items/crate'],
    ['colon:name', 'items/crate'],
    ['star*name', 'items/crate'],
    ['question?name', 'items/crate'],
    ['less<name', 'items/crate'],
    ['greater>name', 'items/crate'],
    ['pipe|name', 'items/crate'],
    ['trailing dot.', 'items/crate'],
    ['trailing space ', 'items/crate'],
    ['CON', 'items/crate'],
    ['nul', 'items/crate'],
    ['com1', 'items/crate'],
];

// Files of the self-check set broken on purpose, how, and the problem that must
// be reported for each (seen), or the stage cannot be trusted to fail.
export const BROKEN = [
    { file: 'sheet/hero/walk_0.tres', how: 'syntax', seen: /^engine: ERROR:/, edit: (t) => t.replace('region = Rect2(', 'region = Rect2[') },
    { file: 'sheet/hero/walk_1.tres', how: 'wrong region', seen: /^region /, edit: (t) => t.replace(/region = Rect2\((\d+),/, (m, x) => `region = Rect2(${Number(x) + 1},`) },
    { file: 'sheet/items/crate.tres', how: 'missing', seen: /"items\/crate": no per-frame \.tres/, edit: null },
    { file: 'sheet.tres', how: 'frame dropped from an animation', seen: / frames/, edit: (t) => t.replace(/\}, \{\n"duration": 1\.0,\n"texture": SubResource\("frame_1"\)\n/, '') },
];

// Files of a copy of the 'pages' set pointed at the wrong page on purpose:
// same regions on another page must still be reported.
const otherPage = (t, pattern) => t.replace(pattern, (m, before, n, after) => `${before}${n === '0' ? 1 : 0}${after}`);
export const BROKEN_PAGES = [
    { file: 'sheet/hero/walk_0.tres', how: 'points at another page', seen: /not the texture of res:\/\/\S*\/sheet-\d+\.png/, edit: (t) => otherPage(t, /(path="\.\.\/\.\.\/sheet-)(\d+)(\.png")/) },
    { file: 'sheet.tres', how: 'a frame on another page', seen: /not the texture of res:\/\/\S*\/sheet-\d+\.png/, edit: (t) => otherPage(t, /(atlas = SubResource\("canvas_)(\d+)("\))/) },
];

// Files of a copy of the 'scales' set's 0.5x files broken on purpose: scale 1's
// image or rectangles where the variant's belong, and a variant JSON that is not
// the scale its name says.
const onScale1 = (t) => t.replace(/(path="(?:\.\.\/)*sheet)@0\.5x(\.png")/, '$1$2');
export const BROKEN_SCALES = [
    { file: 'sheet@0.5x/hero/walk_0.tres', how: "drawn from scale 1's image", seen: /not the texture of res:\/\/\S*\/sheet@0\.5x\.png/, edit: onScale1 },
    { file: 'sheet@0.5x/hero/walk_1.tres', how: "scale 1's rectangles", seen: /^region /, edit: (t) => t.replace(/(region|margin) = Rect2\(([^)]*)\)/g, (m, what, v) => `${what} = Rect2(${v.split(', ').map((x) => Number(x) * 2).join(', ')})`) },
    { file: 'sheet@0.5x.tres', how: "frames drawn from scale 1's image", seen: /not the texture of res:\/\/\S*\/sheet@0\.5x\.png/, edit: onScale1 },
    { file: 'sheet@0.5x.json', how: 'meta.scale of scale 1', inSet: true, seen: /sheet@0\.5x\.json: meta\.scale "1"/, edit: (t) => t.replace('"scale": "0.5"', '"scale": "1"') },
];

// How each animation of the layered sprite files (tests/make_sprite_files.cpp)
// plays: its tag's repeat count and whether it turns back at its ends. The
// Aseprite set's SpriteFrames must spell out the non-looping ones as Godot
// plays them once, and time every frame as the JSON does.
export const ASEPRITE_PLAYS = {
    'hero/walk': { repeat: 0, pingPong: false },
    'hero/jump': { repeat: 2, pingPong: true },
    'hero/fall': { repeat: 1, pingPong: false },
    'hero/spin': { repeat: 0, pingPong: true },
    'hero/wave': { repeat: 3, pingPong: true },
    slime: { repeat: 0, pingPong: false },
};

// A copy of the Aseprite set whose SpriteFrames times one frame wrongly.
export const BROKEN_ASEPRITE = [
    { file: 'sheet.tres', how: "one frame's duration changed", seen: /: plays [\d.e-]+ s \(duration \d+ \/ speed \d+\), the JSON's duration is \d+ ms$/, edit: (t) => t.replace(/"duration": (\d+)\.0,/, (m, d) => `"duration": ${Number(d) + 1}.0,`) },
];

export function runTool(tool, args) {
    return execFileSync(tool, args, { encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] });
}

// Every file below dir, as paths relative to it with '/' separators.
export function filesBelow(dir) {
    const out = [];
    const walk = (d) => {
        for (const e of fs.readdirSync(d, { withFileTypes: true })) {
            const p = path.join(d, e.name);
            if (e.isDirectory()) walk(p);
            else out.push(path.relative(dir, p).split(path.sep).join('/'));
        }
    };
    walk(dir);
    return out.sort();
}

// Packs each set into work/out/<set>/sheet.*; returns [{ set, dir, brokenFiles }].
export function makeSheets(tool, examples, work, fixtures) {
    const sets = [];
    for (const m of EXAMPLE_MODES) {
        const dir = path.join(work, 'out', m.set);
        runTool(tool, ['--atlas', ...m.args, '-o', path.join(dir, 'sheet'), examples]);
        sets.push({ set: m.set, dir });
    }

    const input = path.join(work, 'in', 'awkward');
    for (const [name, from] of AWKWARD_NAMES) {
        const to = path.join(input, ...name.split('/')) + '.png';
        fs.mkdirSync(path.dirname(to), { recursive: true });
        fs.copyFileSync(path.join(examples, ...from.split('/')) + '.png', to);
    }
    const awkward = path.join(work, 'out', 'awkward');
    runTool(tool, ['--atlas', '--colliders', '--normal-map', '-o', path.join(awkward, 'sheet'), input]);
    sets.push({ set: 'awkward', dir: awkward });

    for (const m of PAGE_MODES) {
        const dir = path.join(work, 'out', m.set);
        runTool(tool, ['--atlas', ...m.args, '-o', path.join(dir, 'sheet'), m.awkward ? input : examples]);
        if (!fs.existsSync(path.join(dir, 'sheet-2.json'))) throw new Error(`set ${m.set}: fewer than 3 pages; pick a smaller --max-size`);
        // The same frames on one page, outside the pack: its animations are what
        // the SpriteFrames over every page must hold.
        const one = path.join(work, 'one-page', m.set);
        const args = m.args.filter((a, i) => a !== '--max-size' && m.args[i - 1] !== '--max-size');
        runTool(tool, ['--atlas', ...args, '-o', path.join(one, 'sheet'), m.awkward ? input : examples]);
        sets.push({ set: m.set, dir, onePage: path.join(one, 'sheet.json') });
    }

    for (const m of SCALE_MODES) {
        const dir = path.join(work, 'out', m.set);
        runTool(tool, ['--atlas', ...m.args, '-o', path.join(dir, 'sheet'), examples]);
        const paged = m.args.includes('--max-size');
        const one = path.join(work, 'one-page', m.set);
        if (paged) {
            const args = m.args.filter((a, i) => a !== '--max-size' && m.args[i - 1] !== '--max-size');
            runTool(tool, ['--atlas', ...args, '-o', path.join(one, 'sheet'), examples]);
        }
        for (const variant of m.variants) {
            if (paged && !fs.existsSync(path.join(dir, `sheet-1${variant}.json`))) throw new Error(`set ${m.set}${variant}: one page; pick a smaller --max-size`);
            sets.push({ set: `${m.set}${variant}`, home: m.set, dir, variant, onePage: paged ? path.join(one, `sheet${variant}.json`) : undefined });
        }
    }

    // Layered sprite files: every tag direction, loops and repeats, frames
    // of differing times.
    const ase = path.join(work, 'in', 'aseprite');
    fs.mkdirSync(ase, { recursive: true });
    runTool(fixtures, [ase]);
    const aseOut = path.join(work, 'out', 'aseprite');
    runTool(tool, ['--atlas', '--trim', '-o', path.join(aseOut, 'sheet'), ase]);
    sets.push({ set: 'aseprite', dir: aseOut, plays: ASEPRITE_PLAYS });

    const self = path.join(work, 'out', 'selfcheck');
    fs.cpSync(path.join(work, 'out', 'plain'), self, { recursive: true });
    breakFiles(self, BROKEN);
    sets.push({ set: 'selfcheck', dir: self, broken: BROKEN });
    const pagesSelf = path.join(work, 'out', 'selfcheck-pages');
    fs.cpSync(path.join(work, 'out', 'pages'), pagesSelf, { recursive: true });
    breakFiles(pagesSelf, BROKEN_PAGES);
    const pages = sets.find((x) => x.set === 'pages');
    sets.push({ set: 'selfcheck-pages', dir: pagesSelf, onePage: pages.onePage, broken: BROKEN_PAGES });
    const scalesSelf = path.join(work, 'out', 'selfcheck-scales');
    fs.cpSync(path.join(work, 'out', 'scales'), scalesSelf, { recursive: true });
    // Scale 1's images and JSON stay, for the broken files to point at.
    fs.rmSync(path.join(scalesSelf, 'sheet.tres'));
    fs.rmSync(path.join(scalesSelf, 'sheet'), { recursive: true });
    breakFiles(scalesSelf, BROKEN_SCALES);
    sets.push({ set: 'selfcheck-scales', dir: scalesSelf, variant: '@0.5x', broken: BROKEN_SCALES });
    const aseSelf = path.join(work, 'out', 'selfcheck-aseprite');
    fs.cpSync(aseOut, aseSelf, { recursive: true });
    breakFiles(aseSelf, BROKEN_ASEPRITE);
    sets.push({ set: 'selfcheck-aseprite', dir: aseSelf, plays: ASEPRITE_PLAYS, broken: BROKEN_ASEPRITE });
    return sets;
}

function breakFiles(dir, broken) {
    for (const b of broken) {
        const file = path.join(dir, ...b.file.split('/'));
        const text = fs.readFileSync(file, 'utf8');
        if (b.edit === null) {
            fs.rmSync(file);
            continue;
        }
        const edited = b.edit(text);
        if (edited === text) throw new Error(`self-check: could not break ${b.file} (${b.how}); its layout changed`);
        fs.writeFileSync(file, edited);
    }
}

// The --colliders command's Godot scenes, each with the polygons its JSON format
// gives for the same image.
export function makeColliderScenes(tool, examples, work) {
    const dir = path.join(work, 'out', 'colliders');
    fs.mkdirSync(dir, { recursive: true });
    const inputs = filesBelow(examples).filter((f) => f.endsWith('.png')).map((f) => path.join(examples, f));
    const extra = path.join(work, 'in', 'two_regions.png');
    fs.mkdirSync(path.dirname(extra), { recursive: true });
    fs.writeFileSync(extra, twoRegionsPng());
    inputs.push(extra);
    return inputs.map((png) => {
        const name = path.relative(examples, png).startsWith('..')
            ? path.basename(png, '.png')
            : path.relative(examples, png).split(path.sep).join('_').replace(/\.png$/, '');
        fs.writeFileSync(path.join(dir, `${name}.tscn`), runTool(tool, ['--colliders', '--format', 'godot', png]));
        const polygons = JSON.parse(runTool(tool, ['--colliders', '--format', 'json', png]));
        return { file: `${name}.tscn`, polygons };
    });
}

// A 24x12 image with two opaque squares, one with a hole: more than one polygon
// in one scene.
export function twoRegionsPng() {
    const w = 24;
    const h = 12;
    const rows = [];
    for (let y = 0; y < h; y++) {
        const row = Buffer.alloc(1 + w * 4);
        for (let x = 0; x < w; x++) {
            const inA = x >= 1 && x < 9 && y >= 2 && y < 10;
            const inB = x >= 13 && x < 23 && y >= 1 && y < 11 && !(x >= 17 && x < 19 && y >= 5 && y < 7);
            if (inA || inB) row.set([200, 80, 40, 255], 1 + x * 4);
        }
        rows.push(row);
    }
    const chunk = (type, data) => {
        const body = Buffer.concat([Buffer.from(type, 'latin1'), data]);
        const len = Buffer.alloc(4);
        len.writeUInt32BE(data.length);
        const crc = Buffer.alloc(4);
        crc.writeUInt32BE(crc32(body));
        return Buffer.concat([len, body, crc]);
    };
    const ihdr = Buffer.alloc(13);
    ihdr.writeUInt32BE(w, 0);
    ihdr.writeUInt32BE(h, 4);
    ihdr.set([8, 6, 0, 0, 0], 8);
    return Buffer.concat([Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]), chunk('IHDR', ihdr),
        chunk('IDAT', zlib.deflateSync(Buffer.concat(rows))), chunk('IEND', Buffer.alloc(0))]);
}

export function crc32(buf) {
    let c = ~0;
    for (const byte of buf) {
        c ^= byte;
        for (let k = 0; k < 8; k++) c = (c >>> 1) ^ (0xedb88320 & -(c & 1));
    }
    return ~c >>> 0;
}
