// Loads a velmora2d atlas of several pages the way users do, with the real
// clients in node: PixiJS 8 `Assets.load` of page 0 (which follows its
// meta.related_multi_packs), and Phaser 3 and 4 `load.multiatlas` of
// PREFIX.multiatlas.json (their loaders fetch the files). Every frame of every
// page must be found by name, with its rectangle, its trim and its own page's
// image. The pages of a scale variant (PREFIX-0@0.5x.json, PREFIX-1@0.5x.json,
// PREFIX@0.5x.multiatlas.json) are expected at the resolution their names give:
// PixiJS divides every value by it, Phaser keeps the images' own pixels.
//
// What is expected comes from the page files themselves, found by listing the
// folder (PREFIX-0.json, PREFIX-1.json, ... and their PNG headers), not from
// what page 0 or the multiatlas claim. Exits 1 on any mismatch, printing each.
//
//   node load_pages.mjs PREFIX-0.json | PREFIX-0@Sx.json
import { readdirSync, readFileSync, existsSync } from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import { installBrowserGlobals, pngSize, serveFilesByXhr, usePixiInNode } from './browser.mjs';

const [page0Path] = process.argv.slice(2);
const named = /^(.*)-0(@([0-9]+(?:\.[0-9]+)?)x)?\.json$/.exec(path.basename(page0Path ?? ''));
if (!named) {
  console.error('usage: node load_pages.mjs PREFIX-0.json | PREFIX-0@Sx.json');
  process.exit(2);
}
const problems = [];
const fail = (client, what) => problems.push(`${client}: ${what}`);
const show = (v) => JSON.stringify(v);
const dir = path.dirname(path.resolve(page0Path));
const [, prefix, variant = ''] = named;
const scale = named[3] === undefined ? 1 : Number(named[3]);

// ---- The pages, as the folder holds them ---------------------------------
const numbers = readdirSync(dir)
  .filter((f) => f.startsWith(`${prefix}-`) && f.endsWith(`${variant}.json`))
  .map((f) => f.slice(prefix.length + 1, -`${variant}.json`.length))
  .filter((n) => /^(0|[1-9][0-9]*)$/.test(n))
  .map(Number)
  .sort((a, b) => a - b);
if (numbers.length < 2 || numbers.some((n, i) => n !== i)) {
  console.error(`${page0Path}: pages ${show(numbers)} in ${dir}, expected 0 to N-1 with N >= 2`);
  process.exit(1);
}
const pages = numbers.map((n) => {
  const json = `${prefix}-${n}${variant}.json`;
  const data = JSON.parse(readFileSync(path.join(dir, json), 'utf8'));
  const image = `${prefix}-${n}${variant}.png`;
  const page = { n, json, data, image, size: null, normal: null, frames: [] };
  if (data.meta?.image !== image) fail('JSON', `${json}: meta.image ${show(data.meta?.image)} is not ${image}`);
  if (!existsSync(path.join(dir, image))) fail('JSON', `${json}: no ${image} beside it`);
  else page.size = pngSize(path.join(dir, image));
  if (!(parseFloat(data.meta?.scale) === scale)) fail('JSON', `${json}: meta.scale ${show(data.meta?.scale)}, the file name says ${scale}`);
  if (page.size && (data.meta?.size?.w !== page.size[0] || data.meta?.size?.h !== page.size[1])) {
    fail('JSON', `${json}: meta.size ${show(data.meta?.size)}, ${image} is ${page.size.join('x')}`);
  }
  if (data.meta?.normal_map !== undefined) {
    page.normal = `${prefix}-${n}${variant}_n.png`;
    if (data.meta.normal_map !== page.normal) fail('JSON', `${json}: meta.normal_map ${show(data.meta.normal_map)} is not ${page.normal}`);
    else if (!existsSync(path.join(dir, page.normal))) fail('JSON', `${json}: no ${page.normal} beside it`);
    else if (page.size && show(pngSize(path.join(dir, page.normal))) !== show(page.size)) fail('JSON', `${page.normal} is not the size of ${image}`);
  }
  page.frames = Array.isArray(data.frames) ? data.frames.map((f) => [f.filename, f]) : Object.entries(data.frames ?? {});
  if (page.frames.length === 0) fail('JSON', `${json}: a page without frames`);
  return page;
});
if (pages.some((p) => Array.isArray(p.data.frames))) {
  // PixiJS keys a list of frames by position, which repeats on every page.
  console.error(`${page0Path}: pages in the array layout cannot be found by name in PixiJS; pack them as a hash`);
  process.exit(2);
}
// name -> { page, f }: every frame once over all pages.
const expected = new Map();
for (const p of pages) {
  for (const [name, f] of p.frames) {
    if (expected.has(name)) fail('JSON', `frame ${show(name)} is on page ${expected.get(name).page.n} and on page ${p.n}`);
    else expected.set(name, { page: p, f });
  }
}
const others = pages.slice(1).map((p) => p.json);
if (show(pages[0].data.meta?.related_multi_packs) !== show(others)) {
  fail('JSON', `page 0's meta.related_multi_packs is ${show(pages[0].data.meta?.related_multi_packs)}, the folder holds ${show(others)}`);
}
// An animation PixiJS builds from one page can name only that page's frames.
for (const p of pages) {
  for (const [anim, list] of Object.entries(p.data.animations ?? {})) {
    for (const name of Array.isArray(list) ? list : [list]) {
      if (expected.get(name)?.page !== p) fail('JSON', `${p.json}: animation ${show(anim)} names ${show(name)}, not a frame of this page`);
    }
  }
}

const multiatlasName = `${prefix}${variant}.multiatlas.json`;
const multiatlasPath = path.join(dir, multiatlasName);
const multiatlas = existsSync(multiatlasPath) ? JSON.parse(readFileSync(multiatlasPath, 'utf8')) : null;
if (!multiatlas) fail('JSON', `no ${multiatlasName} beside page 0`);

// by: what the client divides the page's values by (PixiJS: the resolution).
function checkFrame(client, name, got, want, by = 1) {
  const f = want.f;
  const rect = { x: got.x, y: got.y, w: got.w, h: got.h };
  if (show(rect) !== show({ x: f.frame.x / by, y: f.frame.y / by, w: f.frame.w / by, h: f.frame.h / by })) {
    fail(client, `${show(name)}: rectangle ${show(rect)} != ${show(f.frame)}${by === 1 ? '' : ` / ${by}`} of page ${want.page.n}`);
  }
  if (got.sourceW !== f.sourceSize.w / by || got.sourceH !== f.sourceSize.h / by) {
    fail(client, `${show(name)}: source size ${got.sourceW}x${got.sourceH}, the page says ${f.sourceSize.w}x${f.sourceSize.h}${by === 1 ? '' : ` / ${by}`}`);
  }
  const offset = f.trimmed ? [f.spriteSourceSize.x / by, f.spriteSourceSize.y / by] : [0, 0];
  if (show(got.offset) !== show(offset)) fail(client, `${show(name)}: drawn at ${show(got.offset)} of its source, the page says ${show(offset)}`);
}

installBrowserGlobals();

// ---- PixiJS 8 -------------------------------------------------------------
async function checkPixi() {
  const client = 'PixiJS Assets.load';
  const PIXI = await import('pixi.js');
  const { Assets, Texture } = PIXI;
  const fetched = usePixiInNode(PIXI, dir);
  await Assets.init({ preferences: { preferCreateImageBitmap: false, preferWorkers: false } });
  const url = (file) => pathToFileURL(path.join(dir, file)).href;
  const sheet = await Assets.load({ src: url(pages[0].json) });
  if (!sheet || !sheet.textures) { fail(client, 'no spritesheet'); return; }
  for (const p of pages) {
    if (!fetched.includes(url(p.json))) fail(client, `${p.json} was never requested`);
  }
  const sheets = [sheet, ...(sheet.linkedSheets ?? [])];
  if (sheets.length !== pages.length) fail(client, `${sheets.length} sheets linked for ${pages.length} pages`);
  const logged = console.warn;
  const warnings = [];
  console.warn = (...args) => warnings.push(args.join(' '));
  for (const [name, want] of expected) {
    if (!Assets.cache.has(name)) { fail(client, `frame ${show(name)} of page ${want.page.n} is not in Assets.cache`); continue; }
    const t = Texture.from(name);
    if (t !== Assets.cache.get(name)) fail(client, `Texture.from(${show(name)}) is not the cached texture`);
    checkFrame(client, name, {
      x: t.frame.x, y: t.frame.y, w: t.frame.width, h: t.frame.height,
      sourceW: t.orig.width, sourceH: t.orig.height, offset: t.trim ? [t.trim.x, t.trim.y] : [0, 0],
    }, want, scale);
    if (t.source.resolution !== scale) fail(client, `${show(name)}: resolution ${t.source.resolution}, the file names say ${scale}`);
    // The texture draws from the image its page names, not another page's.
    if (t.source.label !== url(want.page.image)) {
      fail(client, `${show(name)}: drawn from ${show(t.source.label)}, not ${want.page.image}`);
    }
    if (want.page.size && (t.source.pixelWidth !== want.page.size[0] || t.source.pixelHeight !== want.page.size[1])) {
      fail(client, `${show(name)}: its image is ${t.source.pixelWidth}x${t.source.pixelHeight}, ${want.page.image} is ${want.page.size.join('x')}`);
    }
  }
  console.warn = logged;
  warnings.forEach((w) => fail(client, `warning: ${w}`));
  // Each page's own sheet: its frames, and its animations from its own textures.
  for (const p of pages) {
    const s = sheets.find((x) => x.data?.meta?.image === p.image);
    if (!s) { fail(client, `no sheet for ${p.image}`); continue; }
    const keys = Object.keys(s.textures).sort();
    const names = p.frames.map(([name]) => name).sort();
    if (show(keys) !== show(names)) fail(client, `${p.json}: sheet textures ${show(keys)}, the page has ${show(names)}`);
    for (const [anim, list] of Object.entries(p.data.animations ?? {})) {
      const got = s.animations?.[anim];
      if (!Array.isArray(got) || got.length !== list.length || list.some((name, i) => got[i] !== Texture.from(name))) {
        fail(client, `${p.json}: animation ${show(anim)} is not the textures of ${show(list)}`);
      }
    }
  }
}

// ---- Phaser 3 and 4 -------------------------------------------------------
// this.load.multiatlas(key, 'FOLDER/PREFIX.multiatlas.json', 'FOLDER'), as a
// page beside FOLDER calls it: Phaser's own loader fetches the JSON and each
// page's image (and normal map) it names, and builds one texture of them.
function checkPhaser(label, modulePath) {
  const require = createRequire(import.meta.url);
  const Phaser = require(modulePath);
  const folder = path.basename(dir);
  const requested = serveFilesByXhr(path.dirname(dir));
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
          this.load.multiatlas('sheet', `${folder}/${multiatlasName}`, folder);
        },
        create() {
          try {
            for (const p of pages) {
              for (const file of [p.image, p.normal].filter(Boolean)) {
                if (!requested.includes(`${folder}/${file}`)) fail(label, `${file} was never requested`);
              }
            }
            checkMultiatlas(label, this);
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

function checkMultiatlas(label, scene) {
  const textures = Array.isArray(multiatlas?.textures) ? multiatlas.textures : [];
  if (textures.length !== pages.length) fail(label, `${multiatlasName}: ${textures.length} textures for ${pages.length} pages`);
  for (const [i, t] of textures.entries()) {
    if (!Array.isArray(t.frames)) fail(label, `${multiatlasName}: textures[${i}].frames is not a list`);
  }
  if (!scene.textures.exists('sheet')) { fail(label, 'no texture "sheet" after load.multiatlas'); return; }
  const texture = scene.textures.get('sheet');
  if (texture.source.length !== pages.length) fail(label, `${texture.source.length} images for ${pages.length} pages`);
  const withNormals = pages.filter((p) => p.normal);
  if (withNormals.length && texture.dataSource.length !== withNormals.length) {
    fail(label, `${texture.dataSource.length} normal maps for ${withNormals.length} pages with one`);
  }
  // Which page file each source was decoded from, as the loader fetched it.
  const pageOf = (image, which) => pages.find((p) => p[which] && image?.origin === pathToFileURL(path.join(dir, p[which])).href);
  for (const [i, source] of texture.source.entries()) {
    const p = pageOf(source.image, 'image');
    if (!p) fail(label, `image ${i} is none of the pages`);
    const normal = texture.dataSource[i];
    if (p && p.normal && pageOf(normal?.image, 'normal') !== p) fail(label, `image ${i} (${p.image}) is not lit by ${p.normal}`);
  }
  for (const [name, want] of expected) {
    if (!texture.has(name)) { fail(label, `frame ${show(name)} of page ${want.page.n} not found`); continue; }
    const fr = texture.get(name);
    checkFrame(label, name, {
      x: fr.cutX, y: fr.cutY, w: fr.cutWidth, h: fr.cutHeight,
      sourceW: fr.realWidth, sourceH: fr.realHeight, offset: [fr.x, fr.y],
    }, want);
    const source = texture.source[fr.sourceIndex];
    const page = pageOf(source?.image, 'image');
    if (page !== want.page) {
      fail(label, `${show(name)}: drawn from image ${fr.sourceIndex} (${page ? page.image : 'no page'}), the frame is on ${want.page.image}`);
    } else if (want.page.size && (source.width !== want.page.size[0] || source.height !== want.page.size[1])) {
      fail(label, `${show(name)}: its image is ${source.width}x${source.height}, ${want.page.image} is ${want.page.size.join('x')}`);
    }
  }
  const count = texture.getFrameNames().length;
  if (count !== expected.size) fail(label, `${count} frames for ${expected.size}`);
  // Animations from the names each page lists, as users build them in Phaser.
  for (const p of pages) {
    for (const [anim, list] of Object.entries(p.data.animations ?? {})) {
      const created = scene.anims.create({ key: `sheet:${anim}`, frames: list.map((frame) => ({ key: 'sheet', frame })) });
      const got = created ? created.frames.map((f) => f.textureFrame) : [];
      if (show(got) !== show(list)) fail(label, `animation ${show(anim)} has frames ${show(got)}`);
    }
  }
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
  for (const p of problems) console.error(`${page0Path}: ${p}`);
  process.exit(1);
}
const animations = pages.reduce((n, p) => n + Object.keys(p.data.animations ?? {}).length, 0);
console.log(`${page0Path}: ${expected.size} frames on ${pages.length} pages${pages[0].normal ? ' with normal maps' : ''}`
  + ` (${animations} animations within a page) found by name on their own page in PixiJS 8 (Assets.load of page 0${scale === 1 ? '' : `, at resolution ${scale}`})`
  + `, Phaser 3 and Phaser 4 (load.multiatlas of ${multiatlasName})`);
process.exit(0);
