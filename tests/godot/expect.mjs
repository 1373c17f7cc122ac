// What the engine must report for each file, taken from the sprite-sheet JSON
// and the --colliders JSON of the same run, never from the Godot files
// themselves; and the reading of the engine's printed lines into per-file
// results.

export const TAG = 'VELMORA ';
const ENGINE_ERROR = /^(USER |SCRIPT )?ERROR:/;

// lines: [[stream, text]] in print order. Returns { files: Map(path -> {result,
// log}), outside: [lines printed outside any file], done }.
export function readEngineLines(lines) {
    const files = new Map();
    const outside = [];
    let current = null;
    let done = false;
    for (const [, raw] of lines) {
        for (const text of String(raw).split('\n')) {
            if (text.startsWith(TAG)) {
                let msg;
                try {
                    msg = JSON.parse(text.slice(TAG.length));
                } catch {
                    outside.push(`unreadable result line: ${text}`);
                    continue;
                }
                if (msg.event === 'begin') {
                    current = { result: null, log: [] };
                    files.set(msg.file, current);
                } else if (msg.event === 'result' && current && files.get(msg.file) === current) {
                    current.result = msg;
                    current = null;
                } else if (msg.event === 'done') {
                    done = true;
                    current = null;
                } else if (msg.event === 'fatal') {
                    outside.push(`ERROR: check script: ${msg.reason}`);
                }
            } else if (current) {
                current.log.push(text);
            } else {
                outside.push(text);
            }
        }
    }
    return { files, outside, done };
}

export const engineErrors = (log) => log.filter((l) => ENGINE_ERROR.test(l));

const same = (a, b) => JSON.stringify(a) === JSON.stringify(b);
const show = (v) => JSON.stringify(v);

// The sheet's frames as a list of { name, region, margin, size, polygons }, for
// either JSON layout. An atlas of several pages is { pages: [{ sheet, pngs }] }:
// its frames also carry the res:// paths of their own page's images (pngs).
export function sheetFrames(sheet) {
    if (sheet.pages) return sheet.pages.flatMap((p) => sheetFrames(p.sheet).map((f) => ({ ...f, pngs: p.pngs })));
    const entries = Array.isArray(sheet.frames)
        ? sheet.frames.map((f) => [f.filename, f])
        : Object.entries(sheet.frames);
    return entries.map(([name, f]) => {
        const s = f.spriteSourceSize;
        const src = f.sourceSize;
        return {
            name,
            region: [f.frame.x, f.frame.y, f.frame.w, f.frame.h],
            // Godot's margin: left and top offset, then the width and height the
            // trimmed frame lost.
            margin: f.trimmed ? [s.x, s.y, src.w - s.w, src.h - s.h] : [0, 0, 0, 0],
            size: [src.w, src.h],
            polygons: f.polygons ?? null,
            durationMs: f.duration ?? null,
        };
    });
}

// Problems (strings) with one reported texture against a frame. pngs: the res://
// paths of the atlas and of the normal map (or null); a frame of a page brings
// its page's own.
export function textureProblems(tex, frame, sheetPngs) {
    const pngs = frame.pngs ?? sheetPngs;
    const out = [];
    if (!tex || tex.class !== 'AtlasTexture') {
        return [`texture is ${tex ? tex.class : 'missing'}, not an AtlasTexture`];
    }
    if (!same(tex.region, frame.region)) out.push(`region ${show(tex.region)}, the JSON says ${show(frame.region)}`);
    if (!same(tex.margin, frame.margin)) out.push(`margin ${show(tex.margin)}, the JSON says ${show(frame.margin)}`);
    if (!same(tex.size, frame.size)) out.push(`drawn size ${show(tex.size)}, the JSON's sourceSize is ${show(frame.size)}`);
    const isPng = (t, path, what) => {
        if (!t || t.class !== 'ImageTexture' || t.path !== path || !t.registered) {
            out.push(`${what} is ${show(t && { class: t.class, path: t.path })}, not the texture of ${path}`);
        }
    };
    if (pngs.normal) {
        if (!tex.atlas || tex.atlas.class !== 'CanvasTexture') {
            out.push(`atlas is ${tex.atlas ? tex.atlas.class : 'missing'}, not a CanvasTexture with the normal map`);
        } else {
            isPng(tex.atlas.diffuse, pngs.atlas, 'diffuse texture');
            isPng(tex.atlas.normal, pngs.normal, 'normal map');
        }
    } else {
        isPng(tex.atlas, pngs.atlas, 'atlas');
    }
    return out;
}

// Pairs reported textures with frames: by value, each frame used once (frames
// with equal values are interchangeable). Returns the frames left over and the
// textures that matched none.
function matchByValue(textures, frames, pngs) {
    const left = [...frames];
    const unmatched = [];
    for (const tex of textures) {
        const i = left.findIndex((f) => textureProblems(tex, f, pngs).length === 0);
        if (i < 0) unmatched.push(tex);
        else left.splice(i, 1);
    }
    return { left, unmatched };
}

// The frames a timed animation shows from start to end, from the JSON's one
// pass: the pass once for a loop (repeat 0), else `repeat` times, a ping-pong
// turning back at each end without showing an end twice (its repeat counts
// one-way runs, as Aseprite's does).
export function playedNames(pass, { repeat, pingPong }) {
    if (repeat === 0 || pass.length === 0) return pass;
    const length = !pingPong ? repeat * pass.length : pass.length === 1 ? 1 : repeat * (pass.length / 2) + 1;
    return Array.from({ length }, (_, i) => pass[i % pass.length]);
}

// A timed animation's frame against the JSON: Godot plays it duration / speed
// seconds, the JSON gives milliseconds.
function timeProblems(anim, i, frame) {
    const f = anim.frames[i];
    if (typeof frame.durationMs !== 'number') return ['the JSON frame has no "duration"'];
    const seconds = f.duration / anim.speed;
    if (!(Math.abs(seconds - frame.durationMs / 1000) <= 1e-6)) {
        return [`plays ${seconds} s (duration ${f.duration} / speed ${anim.speed}), the JSON's duration is ${frame.durationMs} ms`];
    }
    return [];
}

// plays: for a set of timed animations, each animation's { repeat, pingPong }
// (from the layered files' tags); then each animation's frames are its played
// list, its loop is repeat 0 and every frame's time is the JSON's.
export function spriteFramesProblems(result, sheet, pngs, plays = null) {
    if (result.class !== 'SpriteFrames') return [`loaded as ${result.class}, not SpriteFrames`];
    const frames = sheetFrames(sheet);
    const byName = new Map(frames.map((f) => [f.name, f]));
    const anims = result.animations ?? [];
    const out = [];
    for (const a of anims) {
        if (a.frames.length === 0) out.push(`animation ${show(a.name)} has no frames`);
        for (const f of a.frames) if (!(f.duration > 0)) out.push(`animation ${show(a.name)}: frame duration ${f.duration}`);
    }
    if (sheet.animations && typeof sheet.animations === 'object') {
        // The JSON names the sequences: the same names, frames and order.
        const want = Object.keys(sheet.animations).sort();
        const got = anims.map((a) => a.name).sort();
        if (!same(want, got)) out.push(`animations ${show(got)}, the JSON says ${show(want)}`);
        if (plays) {
            for (const n of want.filter((x) => !plays[x])) out.push(`the JSON's animation ${show(n)} is not among the tags the test made`);
            for (const n of Object.keys(plays).filter((x) => !sheet.animations[x])) out.push(`the tag ${show(n)} the test made is not an animation of the JSON`);
        }
        for (const a of anims) {
            const pass = sheet.animations[a.name];
            const play = plays?.[a.name];
            if (!pass || (plays && !play)) continue;
            const names = play ? playedNames(pass, play) : pass;
            if (play && a.loop !== (play.repeat === 0)) out.push(`animation ${show(a.name)}: loop ${a.loop}, the tag's repeat is ${play.repeat}`);
            if (names.length !== a.frames.length) {
                out.push(`animation ${show(a.name)} has ${a.frames.length} frames, the JSON lists ${names.length}`);
                continue;
            }
            names.forEach((n, i) => {
                const frame = byName.get(n);
                if (!frame) {
                    out.push(`the JSON's animation ${show(a.name)} names an unknown frame ${show(n)}`);
                    return;
                }
                const p = textureProblems(a.frames[i], frame, pngs);
                if (play) p.push(...timeProblems(a, i, frame));
                for (const x of p) out.push(`animation ${show(a.name)} frame ${i} (${show(n)}): ${x}`);
            });
        }
        return out;
    }
    // Without the JSON's animations map: every frame appears exactly once, with its
    // own region and margin, whatever the animations are called.
    const all = anims.flatMap((a) => a.frames);
    if (all.length !== frames.length) out.push(`${all.length} frames in the animations, the JSON has ${frames.length}`);
    const { left, unmatched } = matchByValue(all, frames, pngs);
    for (const t of unmatched) out.push(`a frame with region ${show(t.region)} margin ${show(t.margin)} matches no JSON frame`);
    for (const f of left) out.push(`JSON frame ${show(f.name)} is in no animation`);
    return out;
}

// Assigns each per-frame file (path relative to PREFIX/, without extension) a
// frame: by name when the file is named after the frame, otherwise by value.
// Returns { owner: Map(stem -> frame), problems }.
export function assignFrameFiles(stems, results, sheet, pngs) {
    const frames = sheetFrames(sheet);
    const owner = new Map();
    const problems = [];
    const free = new Set(frames);
    const unnamed = [];
    for (const stem of stems) {
        const f = frames.find((x) => x.name === stem && free.has(x));
        if (f) {
            owner.set(stem, f);
            free.delete(f);
        } else {
            unnamed.push(stem);
        }
    }
    for (const stem of unnamed) {
        const tex = results.get(stem)?.texture;
        const f = [...free].find((x) => tex && textureProblems(tex, x, pngs).length === 0);
        if (f) {
            owner.set(stem, f);
            free.delete(f);
        } else {
            problems.push(`${stem}.tres: matches no frame of the JSON by name or by value`);
        }
    }
    for (const f of free) problems.push(`frame ${show(f.name)}: no per-frame .tres for it`);
    return { owner, problems };
}

// A scene the tool wrote for one frame: a StaticBody2D with the frame's sprite
// (not centred) and one CollisionPolygon2D per polygon of the JSON.
export function frameSceneProblems(result, frame, pngs, texturePath) {
    if (result.class !== 'PackedScene') return [`loaded as ${result.class}, not PackedScene`];
    const s = result.scene;
    const out = polygonSceneProblems(s, frame.polygons ?? [], ['Sprite2D']);
    const sprites = s.nodes.filter((n) => n.class === 'Sprite2D');
    if (sprites.length !== 1) {
        out.push(`${sprites.length} Sprite2D nodes, expected 1`);
        return out;
    }
    const [sprite] = sprites;
    if (sprite.centered !== false) out.push('Sprite2D is centred: its polygons would be off by half the frame');
    for (const p of textureProblems(sprite.texture, frame, pngs)) out.push(`Sprite2D: ${p}`);
    if (sprite.texture && sprite.texture.path !== texturePath) {
        out.push(`Sprite2D draws ${show(sprite.texture.path)}, not ${show(texturePath)}`);
    }
    return out;
}

// The scene of --colliders --format godot: polygons only.
export function collidersSceneProblems(result, polygons) {
    if (result.class !== 'PackedScene') return [`loaded as ${result.class}, not PackedScene`];
    return polygonSceneProblems(result.scene, polygons, []);
}

function polygonSceneProblems(s, polygons, otherClasses) {
    const out = [];
    if (!s || s.error) return [`scene: ${s ? s.error : 'no report'}`];
    if (s.root !== 'StaticBody2D') out.push(`root is ${s.root}, not StaticBody2D`);
    if (!s.in_tree) out.push('the instance was not in the tree after a physics frame');
    const shapes = s.nodes.filter((n) => n.class === 'CollisionPolygon2D');
    const strays = s.nodes.filter((n) => n.class !== 'CollisionPolygon2D' && !otherClasses.includes(n.class));
    for (const n of strays) out.push(`unexpected node ${show(n.name)} (${n.class})`);
    const got = shapes.map((n) => n.polygon);
    if (!same(got, polygons)) {
        out.push(`${got.length} polygons ${show(got).slice(0, 200)}, the JSON has ${polygons.length}: ${show(polygons).slice(0, 200)}`);
    }
    for (const n of shapes) if (n.disabled) out.push(`${show(n.name)} is disabled`);
    // Each polygon becomes at least one convex shape in the physics server; one
    // the engine cannot decompose becomes none.
    if (polygons.length > 0 && !(s.shapes >= polygons.length)) {
        out.push(`the physics server holds ${s.shapes} shapes for ${polygons.length} polygons`);
    }
    return out;
}
