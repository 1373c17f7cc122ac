// Checks a scale variant of a velmora2d atlas against the scale-1 output of the
// same run, as games use variants: PixiJS 8 picks the file by the resolution it
// prefers (Assets.add of both files, and the brace form PREFIX@{1,S}x.json) and
// shows its frames at the size of scale 1; Phaser 3 and 4 load it by the same
// frame names, its frames in the image's own pixels (the game scales sprites by
// 1/S). For one page, PREFIX@Sx.json beside PREFIX.json; for several,
// PREFIX-0@Sx.json beside PREFIX-0.json, every page of both found by listing
// the folder.
//
// A variant's frames are resampled and trimmed on their own pixels, so a size
// seen at scale 1 may round up by less than one pixel of the variant, and a
// trimmed frame's box may move by the filter's reach: two pixels of the variant
// when it shrinks, two of the source when it grows; nothing more.
// Exits 1 on any mismatch, printing each.
//
//   node load_scales.mjs PREFIX@Sx.json | PREFIX-0@Sx.json
import { existsSync, readdirSync, readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import { installBrowserGlobals, pngSize, serveFilesByXhr, usePixiInNode } from './browser.mjs';

const [variantPath] = process.argv.slice(2);
const named = /^(.*?)(-0)?@([0-9]+(?:\.[0-9]+)?)x\.json$/.exec(path.basename(variantPath ?? ''));
if (!named || Number(named[3]) === 1) {
  console.error('usage: node load_scales.mjs PREFIX@Sx.json | PREFIX-0@Sx.json (S not 1)');
  process.exit(2);
}
const problems = [];
const fail = (client, what) => problems.push(`${client}: ${what}`);
const show = (v) => JSON.stringify(v);
const dir = path.dirname(path.resolve(variantPath));
const [, prefix, pageSuffix = '', scaleText] = named;
const scale = Number(scaleText);
const variant = `@${scaleText}x`;
const paged = pageSuffix !== '';
const readJson = (file) => JSON.parse(readFileSync(path.join(dir, file), 'utf8'));

// One output set (suffix '' for scale 1): its documents, and its frames by name
// with the image each is drawn from.
function readSet(suffix) {
  let docs = [`${prefix}${suffix}.json`];
  if (paged) {
    const numbers = readdirSync(dir)
      .map((f) => (f.startsWith(`${prefix}-`) && f.endsWith(`${suffix}.json`) ? f.slice(prefix.length + 1, -`${suffix}.json`.length) : ''))
      .filter((n) => /^(0|[1-9][0-9]*)$/.test(n)).map(Number).sort((a, b) => a - b);
    if (numbers.length < 2 || numbers.some((n, i) => n !== i)) fail('JSON', `pages ${show(numbers)} of ${prefix}-N${suffix}.json, expected 0 to N-1 with N >= 2`);
    docs = numbers.map((n) => `${prefix}-${n}${suffix}.json`);
  }
  const frames = new Map();
  for (const doc of docs) {
    const data = readJson(doc);
    const image = doc.replace(/\.json$/, '.png');
    if (data.meta?.image !== image) fail('JSON', `${doc}: meta.image ${show(data.meta?.image)} is not ${image}`);
    if (!existsSync(path.join(dir, image))) fail('JSON', `${doc}: no ${image} beside it`);
    const entries = Array.isArray(data.frames) ? data.frames.map((f) => [f.filename, f]) : Object.entries(data.frames ?? {});
    for (const [name, f] of entries) {
      if (frames.has(name)) fail('JSON', `frame ${show(name)} twice in the ${suffix || 'scale 1'} set`);
      frames.set(name, { f, image });
    }
  }
  return { docs, frames };
}
const base = readSet('');
const scaled = readSet(variant);
const baseNames = [...base.frames.keys()].sort();
if (show([...scaled.frames.keys()].sort()) !== show(baseNames)) {
  fail('JSON', `the ${variant} set has frames ${show([...scaled.frames.keys()].sort())}, scale 1 has ${show(baseNames)}`);
}

// What scale 1 shows of a frame, in its own pixels: the whole size and the
// drawn (trimmed) box.
function baseBox(name) {
  const { f } = base.frames.get(name);
  const s = f.trimmed ? f.spriteSourceSize : { x: 0, y: 0, w: f.sourceSize.w, h: f.sourceSize.h };
  return { size: [f.sourceSize.w, f.sourceSize.h], box: [s.x, s.y, s.x + s.w, s.y + s.h] };
}
// got: the same in scale 1's units, as a client shows the variant's frame.
// Rounding up to whole pixels of the variant adds less than one of them; the
// filter's reach may move a trimmed edge.
const slack = 1e-9;
const reach = 2 * Math.max(1, 1 / scale);
function checkLogical(client, name, got) {
  const want = baseBox(name);
  const onePixel = 1 / scale;
  got.size.forEach((v, i) => {
    if (!(v >= want.size[i] - slack && v < want.size[i] + onePixel - slack)) {
      fail(client, `${show(name)}: shown ${got.size.map((x) => +x.toFixed(3)).join('x')}, scale 1 is ${want.size.join('x')} (rounding up adds less than ${+onePixel.toFixed(3)})`);
    }
  });
  got.box.forEach((v, i) => {
    if (Math.abs(v - want.box[i]) > reach + slack) {
      fail(client, `${show(name)}: drawn box ${show(got.box.map((x) => +x.toFixed(3)))}, scale 1 draws ${show(want.box)}`);
    }
  });
}

installBrowserGlobals();

// ---- PixiJS 8 -------------------------------------------------------------
async function checkPixi() {
  const PIXI = await import('pixi.js');
  const { Assets, Texture } = PIXI;
  const fetched = usePixiInNode(PIXI, dir);
  const url = (file) => pathToFileURL(path.join(dir, file)).href;
  const [baseDoc, scaledDoc] = [base.docs[0], scaled.docs[0]];
  // The file the resolver gives the alias at a preferred resolution. Scale 1's
  // name carries no @1x, so PixiJS takes it as the fallback: it is listed first.
  const pick = async (resolution, src) => {
    Assets.reset();
    await Assets.init({ texturePreference: { resolution }, preferences: { preferCreateImageBitmap: false, preferWorkers: false } });
    Assets.add({ alias: 'sheet', src });
    return Assets.resolver.resolve('sheet').src;
  };
  const picks = [
    [1, [url(baseDoc), url(scaledDoc)], url(baseDoc)],
    [scale, [url(baseDoc), url(scaledDoc)], url(scaledDoc)],
    // Braces as written, not escaped as a path's URL would be.
    [scale, `${pathToFileURL(dir).href}/${baseDoc.replace(/\.json$/, `@{1,${scaleText}}x.json`)}`, url(scaledDoc)],
  ];
  for (const [resolution, src, want] of picks) {
    const got = await pick(resolution, src);
    if (got !== want) fail('PixiJS resolver', `resolution ${resolution} of ${show(src)} picks ${show(got)}, not ${show(want)}`);
  }

  // Assets.load of the alias at the variant's resolution: every frame of scale
  // 1 by name, drawn from the variant's own image at its resolution.
  await pick(scale, [url(baseDoc), url(scaledDoc)]);
  fetched.length = 0;
  const sheet = await Assets.load('sheet');
  if (!sheet || !sheet.textures) { fail('PixiJS Assets.load', 'no spritesheet'); return; }
  for (const doc of base.docs) if (fetched.includes(url(doc))) fail('PixiJS Assets.load', `fetched ${doc} of scale 1`);
  for (const doc of scaled.docs) if (!fetched.includes(url(doc))) fail('PixiJS Assets.load', `${doc} was never requested`);
  for (const name of baseNames) {
    if (!Assets.cache.has(name)) { fail('PixiJS Assets.load', `frame ${show(name)} is not in Assets.cache`); continue; }
    const t = Texture.from(name);
    const own = scaled.frames.get(name);
    if (own && t.source.label !== url(own.image)) fail('PixiJS Assets.load', `${show(name)}: drawn from ${show(t.source.label)}, not ${own.image}`);
    if (t.source.resolution !== scale) fail('PixiJS Assets.load', `${show(name)}: resolution ${t.source.resolution}, not ${scale}`);
    if (own && show([t.source.pixelWidth, t.source.pixelHeight]) !== show(pngSize(path.join(dir, own.image)))) {
      fail('PixiJS Assets.load', `${show(name)}: its image is ${t.source.pixelWidth}x${t.source.pixelHeight} pixels, ${own.image} is ${pngSize(path.join(dir, own.image)).join('x')}`);
    }
    const trim = t.trim ?? { x: 0, y: 0, width: t.orig.width, height: t.orig.height };
    checkLogical('PixiJS Assets.load', name, {
      size: [t.orig.width, t.orig.height],
      box: [trim.x, trim.y, trim.x + trim.width, trim.y + trim.height],
    });
  }
}

// ---- Phaser 3 and 4 -------------------------------------------------------
// The variant loaded as a page beside its folder loads it (load.atlas of the
// PNG and JSON, or load.multiatlas); names must be scale 1's, sizes / S those
// of scale 1.
function checkPhaser(label, modulePath) {
  const require = createRequire(import.meta.url);
  const Phaser = require(modulePath);
  const folder = path.basename(dir);
  serveFilesByXhr(path.dirname(dir));
  return new Promise((resolve) => {
    const timer = setTimeout(() => { fail(label, 'game did not boot within 20 s'); resolve(); }, 20000);
    const game = new Phaser.Game({
      type: Phaser.HEADLESS,
      width: 64,
      height: 64,
      banner: false,
      audio: { noAudio: true },
      scene: {
        preload() {
          this.load.on('loaderror', (file) => fail(label, `the loader could not load ${show(file.src)}`));
          if (paged) this.load.multiatlas('sheet', `${folder}/${prefix}${variant}.multiatlas.json`, folder);
          else this.load.atlas('sheet', `${folder}/${prefix}${variant}.png`, `${folder}/${prefix}${variant}.json`);
        },
        create() {
          try {
            if (!this.textures.exists('sheet')) throw new Error(`no texture "sheet" after loading the ${variant} set`);
            const texture = this.textures.get('sheet');
            const names = texture.getFrameNames().sort();
            if (show(names) !== show(baseNames)) fail(label, `frames ${show(names)}, scale 1 has ${show(baseNames)}`);
            for (const name of baseNames.filter((n) => texture.has(n))) {
              const fr = texture.get(name);
              const origin = texture.source[fr.sourceIndex]?.image?.origin;
              const own = scaled.frames.get(name);
              if (own && origin !== pathToFileURL(path.join(dir, own.image)).href) fail(label, `${show(name)}: drawn from ${show(origin)}, not ${own.image}`);
              checkLogical(label, name, {
                size: [fr.realWidth / scale, fr.realHeight / scale],
                box: [fr.x / scale, fr.y / scale, (fr.x + fr.cutWidth) / scale, (fr.y + fr.cutHeight) / scale],
              });
            }
          } catch (e) {
            fail(label, `threw ${e && e.stack ? e.stack : e}`);
          }
          clearTimeout(timer);
          game.destroy(true, true);
          resolve();
        },
      },
    });
  });
}

const runs = [
  ['PixiJS 8', () => checkPixi()],
  ['Phaser 3', () => checkPhaser('Phaser 3', 'phaser/dist/phaser.js')],
  ['Phaser 4', () => checkPhaser('Phaser 4', 'phaser4')],
];
for (const [label, run] of runs) {
  try {
    await run();
  } catch (e) {
    fail(label, `threw ${e && e.stack ? e.stack : e}`);
  }
}
if (problems.length) {
  for (const p of problems) console.error(`${variantPath}: ${p}`);
  process.exit(1);
}
console.log(`${variantPath}: the ${variant} set${paged ? ` (${scaled.docs.length} pages)` : ''} is picked by PixiJS 8's resolver at resolution ${scale}`
  + ` and shows scale 1's ${baseNames.length} frames at their size; Phaser 3 and Phaser 4 load them by the same names`);
process.exit(0);
