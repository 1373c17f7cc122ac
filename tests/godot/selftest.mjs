// Tests of the pack writer and of the comparisons, run before the engine: a
// pack the engine misreads or a comparison that cannot fail would make the
// engine's verdict worthless.
// Usage: node selftest.mjs ENGINE_PACK (the web build's own index.pck)
import fs from 'node:fs';
import zlib from 'node:zlib';
import { writePck, readPck } from './pck.mjs';
import {
    readEngineLines, engineErrors, sheetFrames, textureProblems, spriteFramesProblems,
    assignFrameFiles, frameSceneProblems, collidersSceneProblems, playedNames,
} from './expect.mjs';
import { twoRegionsPng, crc32 } from './sets.mjs';

let failures = 0;
let checks = 0;
function check(name, ok, detail = '') {
    checks++;
    if (!ok) {
        failures++;
        console.log(`selftest FAIL ${name}${detail ? `: ${detail}` : ''}`);
    }
}

// ---- the pack writer -------------------------------------------------------
// Godot's exporter wrote the web build's own pack: the same files in the same
// data order must give the same bytes.
const enginePack = fs.readFileSync(process.argv[2]);
const parsed = readPck(enginePack);
check('engine pack is format 3 of Godot 4.6', parsed.format === 3 && parsed.version.join('.') === '4.6.0');
const order = parsed.files.map((_, i) => i).sort((a, b) => parsed.files[a].offset - parsed.files[b].offset);
const rewritten = writePck(parsed.files.map((f) => ({ path: f.path, data: f.data })), { dataOrder: order });
check('rewriting the engine pack gives its bytes', Buffer.compare(rewritten, enginePack) === 0,
    `${rewritten.length} bytes against ${enginePack.length}`);

const sample = [
    { path: 'res://project.godot', data: Buffer.from('config_version=5\n') },
    { path: 'a/four.txt', data: Buffer.from('1234') },
    { path: 'ünï/日本語 "q".tres', data: Buffer.alloc(0) },
    { path: 'odd', data: Buffer.alloc(17, 7) },
];
const back = readPck(writePck(sample));
for (const [i, want] of sample.entries()) {
    const got = back.files[i];
    const name = want.path.replace(/^res:\/\//, '');
    check(`pack entry ${i} path`, got.path === name, JSON.stringify(got.path));
    check(`pack entry ${i} data`, Buffer.compare(got.data, want.data) === 0);
    check(`pack entry ${i} path padded to 4 bytes`, got.padded % 4 === 0 && got.padded - Buffer.byteLength(name) < 4);
    check(`pack entry ${i} 16-byte aligned`, (back.fileBase + got.offset) % 16 === 0);
}
for (const [name, files] of [
    ['repeated path', [{ path: 'a', data: '' }, { path: 'res://a', data: '' }]],
    ['empty path', [{ path: 'res://', data: '' }]],
]) {
    let threw = false;
    try {
        writePck(files);
    } catch {
        threw = true;
    }
    check(`pack refuses a ${name}`, threw);
}

const packed = writePck(sample);
const damaged = [
    ['no magic', (b) => b.writeUInt32LE(0, 0), /no GDPC/],
    ['format 2', (b) => b.writeUInt32LE(2, 4), /format 2/],
    ['directory past the end', (b) => b.writeBigUInt64LE(BigInt(b.length - 2), 32), /past the end/],
    // The last entry ends with its size, MD5 and flags: 8 + 16 + 4 bytes.
    ['data past the end', (b) => b.writeBigUInt64LE(1n << 20n, b.length - 28), /odd: data past the end/],
];
for (const [name, damage, want] of damaged) {
    const b = Buffer.from(packed);
    damage(b);
    let message = '';
    try {
        readPck(b);
    } catch (e) {
        message = e.message;
    }
    check(`pack reader refuses ${name}`, want.test(message), message);
}

// ---- the fixture image -----------------------------------------------------
check('crc32 of IEND', crc32(Buffer.from('IEND', 'latin1')) === 0xae426082);
const png = twoRegionsPng();
const ihdrEnd = 8 + 8 + 13;
check('fixture PNG header', png.readUInt32BE(16) === 24 && png.readUInt32BE(20) === 12 &&
    png.readUInt32BE(ihdrEnd) === crc32(png.subarray(12, ihdrEnd)));
const idatLength = png.readUInt32BE(ihdrEnd + 4);
const raw = zlib.inflateSync(png.subarray(ihdrEnd + 12, ihdrEnd + 12 + idatLength));
const alpha = (x, y) => raw[y * (1 + 24 * 4) + 1 + x * 4 + 3];
check('fixture PNG rows', raw.length === 12 * (1 + 24 * 4));
check('fixture PNG: two squares, a hole in the second', alpha(1, 2) === 255 && alpha(11, 5) === 0 &&
    alpha(13, 1) === 255 && alpha(17, 5) === 0 && alpha(16, 5) === 255);

// ---- reading the engine's lines --------------------------------------------
const T = (o) => ['out', `VELMORA ${JSON.stringify(o)}`];
const lines = readEngineLines([
    ['err', 'ERROR: at start'],
    T({ event: 'begin', file: 'res://a.tres' }),
    ['err', 'ERROR: Parse Error\n   at: somewhere'],
    T({ event: 'result', file: 'res://a.tres', class: 'AtlasTexture' }),
    T({ event: 'begin', file: 'res://b.tres' }),
    ['err', 'WARNING: only a warning'],
    T({ event: 'begin', file: 'res://c.tres' }),
    T({ event: 'result', file: 'res://c.tres', error: 'no such file in the pack' }),
    ['out', 'VELMORA {not json'],
    T({ event: 'done' }),
]);
check('an error before any file is outside', engineErrors(lines.outside).length === 1);
check('an error inside a file is its own', engineErrors(lines.files.get('res://a.tres').log).length === 1);
check('a warning is not an error', engineErrors(lines.files.get('res://b.tres').log).length === 0);
check('a file without a result line has none', lines.files.get('res://b.tres').result === null);
check('a result is kept', lines.files.get('res://c.tres').result.error === 'no such file in the pack');
check('an unreadable line is reported', lines.outside.some((l) => l.startsWith('unreadable')));
check('done is seen', lines.done === true);
check('SCRIPT and USER errors count', engineErrors(['SCRIPT ERROR: x', 'USER ERROR: y', 'ERRORS: z']).length === 2);

// ---- the comparisons -------------------------------------------------------
const sheet = {
    frames: {
        'hero/walk_0': {
            frame: { x: 3, y: 3, w: 12, h: 28 }, trimmed: true,
            spriteSourceSize: { x: 10, y: 2, w: 12, h: 28 }, sourceSize: { w: 32, h: 32 },
            polygons: [[[12, 2], [20, 2], [20, 30], [10, 30]]],
        },
        'items/crate': {
            frame: { x: 3, y: 35, w: 20, h: 20 }, trimmed: false,
            spriteSourceSize: { x: 0, y: 0, w: 20, h: 20 }, sourceSize: { w: 20, h: 20 }, polygons: [],
        },
    },
    meta: { image: 'sheet.png', normal_map: 'sheet_n.png', size: { w: 38, h: 78 } },
};
const pngs = { atlas: 'res://s/sheet.png', normal: 'res://s/sheet_n.png' };
const img = (p) => ({ class: 'ImageTexture', path: p, registered: true, size: [38, 78] });
const texOf = (region, margin, size) => ({
    class: 'AtlasTexture', region, margin, size, filter_clip: true, path: 'res://s/sheet/x.tres',
    atlas: { class: 'CanvasTexture', diffuse: img(pngs.atlas), normal: img(pngs.normal) },
});
const tex0 = (t) => ({ class: 'AtlasTexture', texture: t });
const walk = () => texOf([3, 3, 12, 28], [10, 2, 20, 4], [32, 32]);
const crate = () => texOf([3, 35, 20, 20], [0, 0, 0, 0], [20, 20]);
const [walkFrame] = sheetFrames(sheet);
check('margin from the trimmed frame', JSON.stringify(walkFrame.margin) === '[10,2,20,4]');
check('array layout reads the same frames', JSON.stringify(sheetFrames({
    frames: Object.entries(sheet.frames).map(([filename, f]) => ({ filename, ...f })),
})) === JSON.stringify(sheetFrames(sheet)));

const textureCases = [
    ['the right texture', (t) => t, null],
    ['another region', (t) => ({ ...t, region: [4, 3, 12, 28] }), /^region/],
    ['no margin', (t) => ({ ...t, margin: [0, 0, 0, 0] }), /^margin/],
    ['another drawn size', (t) => ({ ...t, size: [12, 28] }), /^drawn size/],
    ['not an AtlasTexture', (t) => ({ ...t, class: 'ImageTexture' }), /not an AtlasTexture/],
    ['atlas without the normal map', (t) => ({ ...t, atlas: img(pngs.atlas) }), /not a CanvasTexture/],
    ['diffuse from another image', (t) => ({ ...t, atlas: { ...t.atlas, diffuse: img('res://other.png') } }), /diffuse texture/],
    ['diffuse a copy, not the image', (t) => ({ ...t, atlas: { ...t.atlas, diffuse: { ...img(pngs.atlas), registered: false } } }), /diffuse texture/],
    ['normal map missing', (t) => ({ ...t, atlas: { ...t.atlas, normal: null } }), /normal map/],
];
for (const [name, mutate, want] of textureCases) {
    const p = textureProblems(mutate(walk()), walkFrame, pngs);
    check(`texture: ${name}`, want ? p.some((x) => want.test(x)) : p.length === 0, JSON.stringify(p));
}
check('texture without a normal map in the sheet', textureProblems({ ...walk(), atlas: img(pngs.atlas) },
    walkFrame, { atlas: pngs.atlas, normal: null }).length === 0);

// Two pages with a frame each at the same region: only the page tells them apart.
const page1 = { atlas: 'res://s/sheet-1.png', normal: 'res://s/sheet-1_n.png' };
const paged = {
    pages: [
        { sheet: { frames: { 'hero/walk_0': sheet.frames['hero/walk_0'] } }, pngs },
        { sheet: { frames: { 'hero/walk_1': sheet.frames['hero/walk_0'] } }, pngs: page1 },
    ],
    animations: { 'hero/walk': ['hero/walk_0', 'hero/walk_1'] },
};
const onPage1 = () => ({ ...walk(), atlas: { class: 'CanvasTexture', diffuse: img(page1.atlas), normal: img(page1.normal) } });
const pagedFrames = sheetFrames(paged);
check('pages: every page\'s frames, each with its page', JSON.stringify(pagedFrames.map((f) => [f.name, f.pngs.atlas]))
    === JSON.stringify([['hero/walk_0', pngs.atlas], ['hero/walk_1', page1.atlas]]));
const pageCases = [
    ['each frame on its page', [walk(), onPage1()], null],
    ['a frame drawn from the other page', [walk(), walk()], /frame 1 \("hero\/walk_1"\): diffuse texture .*not the texture of res:\/\/s\/sheet-1\.png/],
    ['a normal map of the other page', [walk(), { ...onPage1(), atlas: { ...onPage1().atlas, normal: img(pngs.normal) } }], /normal map .*sheet-1_n\.png/],
];
for (const [name, frames, want] of pageCases) {
    const p = spriteFramesProblems({ class: 'SpriteFrames', animations: [{ name: 'hero/walk', loop: true, speed: 10, frames: frames.map((f) => ({ ...f, duration: 1 })) }] }, paged, null);
    check(`pages: ${name}`, want ? p.some((x) => want.test(x)) : p.length === 0, JSON.stringify(p));
}
const pagedFiles = assignFrameFiles(['hero/walk_0', 'hero/walk_1'], new Map([['hero/walk_0', tex0(walk())], ['hero/walk_1', tex0(onPage1())]]), paged, null);
check('pages: per-frame files on their pages', pagedFiles.problems.length === 0, JSON.stringify(pagedFiles.problems));
const swapped = assignFrameFiles(['walk_a', 'walk_b'], new Map([['walk_a', tex0(onPage1())], ['walk_b', tex0(onPage1())]]), paged, null);
check('pages: two files of page 1 do not cover page 0', swapped.problems.some((x) => /"hero\/walk_0": no per-frame/.test(x)), JSON.stringify(swapped.problems));

const framesReport = (anims) => ({
    class: 'SpriteFrames',
    animations: anims.map(([name, frames]) => ({ name, loop: true, speed: 10, frames: frames.map((f) => ({ ...f, duration: 1 })) })),
});
const withMap = { ...sheet, animations: { 'hero/walk': ['hero/walk_0'], 'items/crate': ['items/crate'] } };
const framesCases = [
    ['all frames, any names', sheet, [['a', [walk()]], ['b', [crate()]]], null],
    ['a frame missing', sheet, [['a', [walk()]]], /"items\/crate" is in no animation/],
    ['a frame twice', sheet, [['a', [walk(), walk()]], ['b', [crate()]]], /3 frames in the animations/],
    ['an empty animation', sheet, [['a', [walk()]], ['b', [crate()]], ['c', []]], /has no frames/],
    ['a wrong region', sheet, [['a', [{ ...walk(), region: [0, 0, 1, 1] }]], ['b', [crate()]]], /matches no JSON frame/],
    ['the named animations', withMap, [['hero/walk', [walk()]], ['items/crate', [crate()]]], null],
    ['an animation misnamed', withMap, [['hero/walk_', [walk()]], ['items/crate', [crate()]]], /^animations/],
    ['frames swapped between animations', withMap, [['hero/walk', [crate()]], ['items/crate', [walk()]]], /frame 0/],
    ['a frame too many', withMap, [['hero/walk', [walk(), walk()]], ['items/crate', [crate()]]], /has 2 frames, the JSON lists 1/],
];
for (const [name, s, anims, want] of framesCases) {
    const p = spriteFramesProblems(framesReport(anims), s, pngs);
    check(`sprite frames: ${name}`, want ? p.some((x) => want.test(x)) : p.length === 0, JSON.stringify(p));
}
// Timed animations of layered sprite files: the frames Godot plays once, and
// each frame's seconds (duration / speed) against the JSON's milliseconds.
const playedCases = [
    ['a loop is one pass', ['a', 'b', 'c'], { repeat: 0, pingPong: false }, 'abc'],
    ['forward twice', ['a', 'b', 'c'], { repeat: 2, pingPong: false }, 'abcabc'],
    ['a ping-pong run once', ['a', 'b', 'c', 'b'], { repeat: 1, pingPong: true }, 'abc'],
    ['a ping-pong run three times', ['a', 'b', 'c', 'b'], { repeat: 3, pingPong: true }, 'abcbabc'],
    ['a ping-pong of two frames', ['a', 'b'], { repeat: 3, pingPong: true }, 'abab'],
    ['a ping-pong of one frame', ['a'], { repeat: 3, pingPong: true }, 'a'],
];
for (const [name, pass, play, want] of playedCases) {
    const got = playedNames(pass, play).join('');
    check(`played frames: ${name}`, got === want, got);
}
const timed = {
    frames: { 'h/0': { ...sheet.frames['hero/walk_0'], duration: 100 }, 'h/1': { ...sheet.frames['items/crate'], duration: 150 } },
    animations: { 'h/t': ['h/0', 'h/1'] },
};
const timedReport = (frames, durations, { speed = 20, loop = true } = {}) => ({
    class: 'SpriteFrames',
    animations: [{ name: 'h/t', loop, speed, frames: frames.map((f, i) => ({ ...f, duration: durations[i] })) }],
});
const loops = { 'h/t': { repeat: 0, pingPong: false } };
const twice = { 'h/t': { repeat: 2, pingPong: false } };
const timedCases = [
    ['every frame on time', timed, loops, timedReport([walk(), crate()], [2, 3]), null],
    ['the same times at another speed', timed, loops, timedReport([walk(), crate()], [4, 6], { speed: 40 }), null],
    ["one frame's duration off", timed, loops, timedReport([walk(), crate()], [2, 4]), /frame 1 \("h\/1"\): plays 0\.2 s \(duration 4 \/ speed 20\), the JSON's duration is 150 ms/],
    ['the speed off', timed, loops, timedReport([walk(), crate()], [2, 3], { speed: 10 }), /frame 0 .*plays 0\.2 s/],
    ['a JSON frame without its duration', { ...timed, frames: { ...timed.frames, 'h/1': sheet.frames['items/crate'] } }, loops, timedReport([walk(), crate()], [2, 3]), /no "duration"/],
    ['a loop that stops', timed, loops, timedReport([walk(), crate()], [2, 3], { loop: false }), /loop false, the tag's repeat is 0/],
    ['played twice, spelt out', timed, twice, timedReport([walk(), crate(), walk(), crate()], [2, 3, 2, 3], { loop: false }), null],
    ['played twice, one pass only', timed, twice, timedReport([walk(), crate()], [2, 3], { loop: false }), /has 2 frames, the JSON lists 4/],
    ['a tag the JSON lacks', timed, { ...loops, 'h/x': { repeat: 0, pingPong: false } }, timedReport([walk(), crate()], [2, 3]), /"h\/x" the test made is not an animation/],
    ['an animation no tag made', timed, {}, timedReport([walk(), crate()], [2, 3]), /"h\/t" is not among the tags/],
];
for (const [name, s, plays, report, want] of timedCases) {
    const p = spriteFramesProblems(report, s, pngs, plays);
    check(`timed frames: ${name}`, want ? p.some((x) => want.test(x)) : p.length === 0, JSON.stringify(p));
}
check('sprite frames: another class', spriteFramesProblems({ class: 'Resource' }, sheet, pngs).length === 1);

// Per-frame files: named after the frame, or (for names mapped to safe file
// names) found by value.
const tex = tex0;
const assignCases = [
    ['named files', ['hero/walk_0', 'items/crate'], { 'hero/walk_0': walk(), 'items/crate': crate() }, null, 2],
    ['a mapped name', ['hero/walk_0', 'items/crate_'], { 'hero/walk_0': walk(), 'items/crate_': crate() }, null, 2],
    ['a file for no frame', ['hero/walk_0', 'items/crate', 'extra'], { 'hero/walk_0': walk(), 'items/crate': crate(), extra: walk() }, /extra\.tres: matches no frame/, 2],
    ['a frame without a file', ['hero/walk_0'], { 'hero/walk_0': walk() }, /"items\/crate": no per-frame/, 1],
    ['a file that did not load', ['hero/walk_0', 'crate?'], { 'hero/walk_0': walk() }, /crate\?\.tres/, 1],
];
for (const [name, stems, reports, want, owned] of assignCases) {
    const r = assignFrameFiles(stems, new Map(Object.entries(reports).map(([k, v]) => [k, tex(v)])), sheet, pngs);
    const ok = want ? r.problems.some((x) => want.test(x)) : r.problems.length === 0;
    check(`frame files: ${name}`, ok && r.owner.size === owned, `${JSON.stringify(r.problems)} owner ${r.owner.size}`);
}

const scene = (nodes, extra = {}) => ({ class: 'PackedScene', scene: { root: 'StaticBody2D', in_tree: true, shapes: 2, nodes, ...extra } });
const sprite = (t = walk()) => ({ name: 'Sprite2D', class: 'Sprite2D', centered: false, texture: { ...t, path: 'res://s/sheet/hero/walk_0.tres' } });
const poly = (points, disabled = false) => ({ name: 'CollisionPolygon2D', class: 'CollisionPolygon2D', polygon: points, disabled });
const good = walkFrame.polygons[0];
const sceneCases = [
    ['the right scene', scene([sprite(), poly(good)]), null],
    ['centred sprite', scene([{ ...sprite(), centered: true }, poly(good)]), /centred/],
    ['no sprite', scene([poly(good)]), /0 Sprite2D/],
    ['sprite of another frame', scene([sprite(crate()), poly(good)]), /^Sprite2D: region/],
    ['sprite from another file', scene([{ ...sprite(), texture: { ...walk(), path: 'res://s/sheet/other.tres' } }, poly(good)]), /draws/],
    ['a polygon missing', scene([sprite()]), /0 polygons/],
    ['a polygon moved', scene([sprite(), poly(good.map(([x, y]) => [x + 1, y]))]), /1 polygons/],
    ['a disabled polygon', scene([sprite(), poly(good, true)]), /disabled/],
    ['another root', scene([sprite(), poly(good)], { root: 'Node2D' }), /root is Node2D/],
    ['not in the tree', scene([sprite(), poly(good)], { in_tree: false }), /not in the tree/],
    ['no physics shape', scene([sprite(), poly(good)], { shapes: 0 }), /physics server holds 0/],
    ['a stray node', scene([sprite(), poly(good), { name: 'Light', class: 'PointLight2D' }]), /unexpected node/],
];
for (const [name, report, want] of sceneCases) {
    const p = frameSceneProblems(report, walkFrame, pngs, 'res://s/sheet/hero/walk_0.tres');
    check(`frame scene: ${name}`, want ? p.some((x) => want.test(x)) : p.length === 0, JSON.stringify(p));
}
const collidersCases = [
    ['polygons only', scene([poly(good)]), [good], null],
    ['an empty image', scene([], { shapes: 0 }), [], null],
    ['a sprite where none belongs', scene([sprite(), poly(good)]), [good], /unexpected node/],
    ['polygons in another order', scene([poly([[0, 0], [1, 0], [1, 1]]), poly(good)]), [good, [[0, 0], [1, 0], [1, 1]]], /polygons/],
];
for (const [name, report, polygons, want] of collidersCases) {
    const p = collidersSceneProblems(report, polygons);
    check(`colliders scene: ${name}`, want ? p.some((x) => want.test(x)) : p.length === 0, JSON.stringify(p));
}

console.log(`selftest: ${checks - failures} of ${checks} checks passed`);
process.exit(failures ? 1 : 0);
