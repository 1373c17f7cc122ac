// Loads a velmora2d sprite sheet (JSON + PNG) with the real 2-D engines in
// node: PixiJS 8 (Spritesheet(texture, data).parse() and Assets.load) and
// Phaser 3 and 4 (textures.addAtlas in a HEADLESS game), and checks that
// every frame is there with its rectangle, and trimmed frames with their
// original size and offset; that PixiJS's sheet.animations holds every
// animation of the JSON with its textures in order and an AnimatedSprite
// plays the longest one, and that Phaser builds each animation from the
// frame names. A scale variant (PREFIX@0.5x.json) is expected at the
// resolution its name gives: PixiJS shows its frames divided by it, Phaser in
// the image's own pixels. Exits 1 on any mismatch, printing each.
//
//   node load_sheet.mjs SHEET.json SHEET.png
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import { FakeImage, installBrowserGlobals, usePixiInNode } from './browser.mjs';

const [jsonPath, pngPath] = process.argv.slice(2);
if (!jsonPath || !pngPath) {
  console.error('usage: node load_sheet.mjs SHEET.json SHEET.png');
  process.exit(2);
}

const problems = [];
const fail = (client, what) => problems.push(`${client}: ${what}`);
const data = JSON.parse(readFileSync(jsonPath, 'utf8'));
const png = readFileSync(pngPath);
const pngWidth = png.readUInt32BE(16);
const pngHeight = png.readUInt32BE(20);

// The scale the file's name gives (PREFIX@0.5x.json -> 0.5), else 1. Its image
// carries the same name, so PixiJS's resolver also reads the scale from it.
const scaleText = /@([0-9]+(?:\.[0-9]+)?)x\.json$/.exec(path.basename(jsonPath))?.[1];
const scale = scaleText === undefined ? 1 : Number(scaleText);
if (!(parseFloat(data.meta?.scale) === scale)) fail('JSON', `meta.scale ${JSON.stringify(data.meta?.scale)}, the file name says ${scale}`);

// The frames as the file states them: [name, entry] in file order.
const layout = Array.isArray(data.frames) ? 'array' : 'hash';
const expected = layout === 'array'
  ? data.frames.map((f) => [f.filename, f])
  : Object.entries(data.frames);

// The JSON's animations as [name, frame names] in file order. Every frame
// must be in exactly one, and every name listed must be a frame.
const animationsOk = data.animations !== null && typeof data.animations === 'object' && !Array.isArray(data.animations);
if (!animationsOk) fail('JSON', 'no "animations" object');
const animations = animationsOk ? Object.entries(data.animations) : [];
{
  const frameNames = new Set(expected.map(([name]) => name));
  const seen = new Map();
  for (const [anim, list] of animations) {
    if (!Array.isArray(list) || list.length === 0) { fail('JSON', `animation ${JSON.stringify(anim)} is not a list of frames`); continue; }
    for (const name of list) {
      if (!frameNames.has(name)) fail('JSON', `animation ${JSON.stringify(anim)} names no frame: ${JSON.stringify(name)}`);
      seen.set(name, (seen.get(name) ?? 0) + 1);
    }
  }
  for (const name of frameNames) {
    if (seen.get(name) !== 1) fail('JSON', `frame ${JSON.stringify(name)} is in ${seen.get(name) ?? 0} animations`);
  }
}
// The animation an AnimatedSprite is built from: the first longest.
const longest = animations.reduce((best, a) => (Array.isArray(a[1]) && a[1].length > best[1].length ? a : best), ['', []]);
const sameList = (a, b) => a.length === b.length && a.every((x, i) => x === b[i]);

installBrowserGlobals();

// ---- Shared checks --------------------------------------------------------
// PixiJS divides every value by the sheet's resolution (by), Phaser keeps the
// image's pixels.
function checkRect(client, name, got, f, by = 1) {
  const want = f.frame;
  if (got.x !== want.x / by || got.y !== want.y / by || got.w !== want.w / by || got.h !== want.h / by) {
    fail(client, `${JSON.stringify(name)}: rectangle ${JSON.stringify(got)} != ${JSON.stringify(want)}${by === 1 ? '' : ` / ${by}`}`);
  }
}

// ---- PixiJS 8 -------------------------------------------------------------
async function checkPixi() {
  const PIXI = await import('pixi.js');
  const { Spritesheet, Texture, TextureSource, Assets, AnimatedSprite } = PIXI;
  // Frames Pixi keys by: the name in the hash layout; in the array layout
  // Pixi never reads "filename" and keys frames by their index.
  const keyOf = (name, index) => (layout === 'hash' ? name : String(index));
  const check = (client, textures) => {
    expected.forEach(([name, f], index) => {
      const t = textures[keyOf(name, index)];
      if (!t) { fail(client, `frame ${JSON.stringify(name)} not found`); return; }
      if (t.source.resolution !== scale) fail(client, `${JSON.stringify(name)}: resolution ${t.source.resolution}, the file name says ${scale}`);
      checkRect(client, name, { x: t.frame.x, y: t.frame.y, w: t.frame.width, h: t.frame.height }, f, scale);
      if (t.orig.width !== f.sourceSize.w / scale || t.orig.height !== f.sourceSize.h / scale) {
        fail(client, `${JSON.stringify(name)}: source size ${t.orig.width}x${t.orig.height}`);
      }
      if (f.trimmed) {
        if (!t.trim || t.trim.x !== f.spriteSourceSize.x / scale || t.trim.y !== f.spriteSourceSize.y / scale) {
          fail(client, `${JSON.stringify(name)}: trim offset ${t.trim ? `${t.trim.x},${t.trim.y}` : 'missing'}`);
        }
      } else if (t.trim) {
        fail(client, `${JSON.stringify(name)}: untrimmed frame has a trim`);
      }
    });
    if (layout === 'hash' && Object.keys(textures).length !== expected.length) {
      fail(client, `${Object.keys(textures).length} textures for ${expected.length} frames`);
    }
  };

  // sheet.animations: every animation of the JSON, each the frames' own
  // textures in order (in the array layout Pixi keys frames by index, so a
  // name finds no texture there: only the names and lengths are checked).
  const checkAnimations = (client, sheet) => {
    const got = sheet.animations ?? {};
    const names = animations.map(([name]) => name);
    if (!sameList(Object.keys(got).sort(), [...names].sort())) {
      fail(client, `sheet.animations ${JSON.stringify(Object.keys(got))}, the JSON has ${JSON.stringify(names)}`);
    }
    for (const [anim, list] of animations) {
      const textures = got[anim];
      if (!Array.isArray(textures) || textures.length !== list.length) {
        fail(client, `animation ${JSON.stringify(anim)}: ${Array.isArray(textures) ? textures.length : 'no'} textures for ${list.length} frames`);
        continue;
      }
      if (layout !== 'hash') continue;
      list.forEach((frame, i) => {
        if (!textures[i] || textures[i] !== sheet.textures[frame]) {
          fail(client, `animation ${JSON.stringify(anim)} frame ${i} is not the texture of ${JSON.stringify(frame)}`);
        }
      });
    }
    if (layout !== 'hash' || longest[1].length < 2) return;
    const [anim, list] = longest;
    const sprite = new AnimatedSprite(got[anim]);
    if (sprite.totalFrames !== list.length) fail(client, `AnimatedSprite ${JSON.stringify(anim)}: ${sprite.totalFrames} frames for ${list.length}`);
    list.forEach((frame, i) => {
      sprite.gotoAndStop(i);
      if (sprite.currentFrame !== i || sprite.texture !== sheet.textures[frame]) {
        fail(client, `AnimatedSprite ${JSON.stringify(anim)} frame ${i} does not show ${JSON.stringify(frame)}`);
      }
    });
    sprite.destroy();
  };

  const source = new TextureSource({ width: data.meta.size.w, height: data.meta.size.h });
  const sheet = new Spritesheet(new Texture({ source }), data);
  check('PixiJS Spritesheet.parse', await sheet.parse());
  checkAnimations('PixiJS Spritesheet.parse', sheet);

  // Assets.load reads the JSON, then the image named by meta.image next to
  // it. No image decoding in node: the loader is handed an image whose
  // size is the PNG's, read from its header.
  usePixiInNode(PIXI, path.dirname(path.resolve(jsonPath)));
  await Assets.init({ preferences: { preferCreateImageBitmap: false, preferWorkers: false } });
  const metaImage = data.meta.image;
  const expectedImage = path.basename(pngPath);
  if (metaImage !== expectedImage) fail('PixiJS Assets.load', `meta.image ${JSON.stringify(metaImage)} is not ${expectedImage}`);
  const ownImage = path.basename(jsonPath).replace(/\.json$/, '.png');
  if (metaImage !== ownImage) fail('JSON', `meta.image ${JSON.stringify(metaImage)} is not ${ownImage}, the image named as the JSON`);
  const loaded = await Assets.load({ src: pathToFileURL(path.resolve(jsonPath)).href});
  if (!loaded || !loaded.textures) { fail('PixiJS Assets.load', 'no spritesheet'); return; }
  if (loaded.textureSource.pixelWidth !== pngWidth || loaded.textureSource.pixelHeight !== pngHeight) {
    fail('PixiJS Assets.load', `image ${loaded.textureSource.pixelWidth}x${loaded.textureSource.pixelHeight}`);
  }
  check('PixiJS Assets.load', loaded.textures);
  checkAnimations('PixiJS Assets.load', loaded);
}

// ---- Phaser 3 and 4 -------------------------------------------------------
function checkPhaser(label, modulePath) {
  const require = createRequire(import.meta.url);
  const Phaser = require(modulePath);
  return new Promise((resolve) => {
    const timer = setTimeout(() => { fail(label, 'game did not boot within 20 s'); resolve(); }, 20000);
    const game = new Phaser.Game({
      type: Phaser.HEADLESS,
      width: 64,
      height: 64,
      banner: false,
      audio: { noAudio: true },
      scene: {
        create() {
          try {
            const image = new FakeImage(pngWidth, pngHeight);
            const warn = console.warn;
            const warnings = [];
            console.warn = (...args) => warnings.push(args.join(' '));
            const texture = this.textures.addAtlas('sheet', image, data);
            // Phaser reads no animations from the atlas: users build them
            // from the frame names the JSON lists, which must all resolve.
            for (const [anim, list] of animations) {
              const created = this.anims.create({ key: `sheet:${anim}`, frames: list.map((frame) => ({ key: 'sheet', frame })) });
              const got = created ? created.frames.map((f) => f.textureFrame) : [];
              if (!sameList(got, list)) fail(label, `animation ${JSON.stringify(anim)} has frames ${JSON.stringify(got)}`);
            }
            console.warn = warn;
            warnings.forEach((w) => fail(label, `warning: ${w}`));
            if (!texture) throw new Error('addAtlas returned nothing');
            expected.forEach(([name, f]) => {
              if (!texture.has(name)) { fail(label, `frame ${JSON.stringify(name)} not found`); return; }
              const fr = texture.get(name);
              checkRect(label, name, { x: fr.cutX, y: fr.cutY, w: fr.cutWidth, h: fr.cutHeight }, f);
              if (f.trimmed) {
                if (fr.realWidth !== f.sourceSize.w || fr.realHeight !== f.sourceSize.h || fr.x !== f.spriteSourceSize.x || fr.y !== f.spriteSourceSize.y) {
                  fail(label, `${JSON.stringify(name)}: trimmed as ${fr.realWidth}x${fr.realHeight} at ${fr.x},${fr.y}`);
                }
              } else if (fr.realWidth !== f.frame.w || fr.realHeight !== f.frame.h) {
                fail(label, `${JSON.stringify(name)}: size ${fr.realWidth}x${fr.realHeight}`);
              }
            });
            const count = texture.getFrameNames().length;
            if (count !== expected.length) fail(label, `${count} frames for ${expected.length}`);
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

const extras = [data.meta.normal_map ? 'meta.normal_map' : null, expected.some(([, f]) => f.polygons) ? 'polygons' : null]
  .filter(Boolean).join(', ');
if (problems.length) {
  for (const p of problems) console.error(`${jsonPath}: ${p}`);
  process.exit(1);
}
const played = layout === 'hash' && longest[1].length > 1 ? `, AnimatedSprite ${JSON.stringify(longest[0])} of ${longest[1].length}` : '';
console.log(`${jsonPath}: ${expected.length} frames and ${animations.length} animations (${layout} layout${extras ? `, with ${extras}` : ''}) load in PixiJS 8 `
  + `(Spritesheet, Assets.load${layout === 'array' ? '; keyed by index, as PixiJS reads arrays' : ''}${played}${scale === 1 ? '' : `; at resolution ${scale}`}), Phaser 3 and Phaser 4`);
process.exit(0);
