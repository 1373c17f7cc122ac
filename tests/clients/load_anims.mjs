// Loads a velmora2d atlas and its PREFIX.anims.json in Phaser 3 and 4 (a
// HEADLESS game in node): the atlas under the texture key the animations
// name, then this.anims.fromJSON of the animations file. Checks that every
// animation is created with the file's frames and durations, that each
// timed frame's duration is the one the sheet JSON gives that frame, and
// plays each animation on a sprite, stepping Phaser's clock a millisecond
// at a time, to see every frame shown for its time in the order a yoyo and
// the repeat count give. Exits 1 on any mismatch, printing each.
//
//   node load_anims.mjs SHEET.json SHEET.png PREFIX.anims.json
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { FakeImage, installBrowserGlobals } from './browser.mjs';

const [jsonPath, pngPath, animsPath] = process.argv.slice(2);
if (!jsonPath || !pngPath || !animsPath) {
  console.error('usage: node load_anims.mjs SHEET.json SHEET.png PREFIX.anims.json');
  process.exit(2);
}

const problems = [];
const fail = (client, what) => problems.push(`${client}: ${what}`);
const sheet = JSON.parse(readFileSync(jsonPath, 'utf8'));
const anims = JSON.parse(readFileSync(animsPath, 'utf8'));
const png = readFileSync(pngPath);
const pngWidth = png.readUInt32BE(16);
const pngHeight = png.readUInt32BE(20);
const sheetFrames = Array.isArray(sheet.frames)
  ? Object.fromEntries(sheet.frames.map((f) => [f.filename, f]))
  : sheet.frames;

const keys = new Set((anims.anims ?? []).flatMap((a) => a.frames.map((f) => f.key)));
if (keys.size !== 1) fail('anims.json', `frames name ${keys.size} texture keys, not one`);
const textureKey = [...keys][0];

// What a play shows, from the file alone: [frame, ms] in order; a loop
// (repeat -1) is followed for two plays.
function expectedPlay(anim, msPerFrame) {
  const one = anim.frames.map((f) => [f.frame, f.duration || msPerFrame]);
  const back = one.slice(1, -1).reverse();
  const plays = anim.repeat === -1 ? 2 : anim.repeat + 1;
  const out = [];
  for (let p = 0; p < plays; p++) {
    const run = p === 0 ? one : anim.yoyo ? one.slice(1) : one;
    out.push(...run);
    if (anim.yoyo) out.push(...back, ...(one.length > 1 ? [one[0]] : []));
  }
  return out;
}

installBrowserGlobals();

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
            const warn = console.warn;
            const warnings = [];
            console.warn = (...args) => warnings.push(args.join(' '));
            this.textures.addAtlas(textureKey, new FakeImage(pngWidth, pngHeight), sheet);
            const created = this.anims.fromJSON(anims);
            console.warn = warn;
            warnings.forEach((w) => fail(label, `warning: ${w}`));
            if (created.length !== anims.anims.length) fail(label, `${created.length} animations for ${anims.anims.length}`);
            for (const want of anims.anims) {
              const anim = this.anims.get(want.key);
              if (!anim) { fail(label, `no animation ${JSON.stringify(want.key)}`); continue; }
              const got = anim.frames.map((f) => [f.textureFrame, f.duration]);
              const file = want.frames.map((f) => [f.frame, f.duration]);
              if (JSON.stringify(got) !== JSON.stringify(file)) {
                fail(label, `${want.key}: frames ${JSON.stringify(got)}, the file has ${JSON.stringify(file)}`);
              }
              for (const f of want.frames) {
                const listed = sheetFrames[f.frame];
                if (!listed) fail(label, `${want.key}: frame ${JSON.stringify(f.frame)} is not in the sheet`);
                else if (f.duration !== (listed.duration ?? 0)) fail(label, `${want.key}: ${f.frame} lasts ${f.duration} ms, the sheet says ${listed.duration}`);
              }
              if (want.frameRate === null && anim.duration !== want.duration) fail(label, `${want.key}: duration ${anim.duration}, not ${want.duration}`);
              if (anim.repeat !== want.repeat || anim.yoyo !== want.yoyo) fail(label, `${want.key}: repeat ${anim.repeat} yoyo ${anim.yoyo}`);

              // Play it: each change of frame and how long the frame stayed.
              // One frame alone never changes: nothing to time.
              if (want.frames.length < 2) continue;
              const sprite = this.add.sprite(0, 0, textureKey);
              sprite.play(want.key);
              sprite.anims.update(0, 0);  // starts it: the first frame's time runs from here
              const shown = [];
              let current = sprite.frame.name;
              let since = 0;
              const expected = expectedPlay(want, anim.msPerFrame);
              const total = expected.reduce((t, [, ms]) => t + ms, 0);
              let t = 0;
              while (t <= total && sprite.anims.isPlaying) {
                t += 1;
                sprite.anims.update(t, 1);
                if (sprite.frame.name !== current) {
                  shown.push([current, t - since]);
                  current = sprite.frame.name;
                  since = t;
                }
              }
              shown.push([current, t - since]);
              // A run that ends stays on its last frame: its time there is open.
              const ends = want.repeat !== -1;
              const cmp = (list) => list.map(([f, ms], i) => (ends && i === list.length - 1 ? [f] : [f, ms]));
              const gotPlay = cmp(shown.slice(0, expected.length));
              if (JSON.stringify(gotPlay) !== JSON.stringify(cmp(expected))) {
                fail(label, `${want.key} plays ${JSON.stringify(gotPlay)}, expected ${JSON.stringify(cmp(expected))}`);
              }
              sprite.destroy();
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

for (const [label, modulePath] of [['Phaser 3', 'phaser/dist/phaser.js'], ['Phaser 4', 'phaser4']]) {
  try {
    await checkPhaser(label, modulePath);
  } catch (e) {
    fail(label, `threw ${e && e.stack ? e.stack : e}`);
  }
}
if (problems.length) {
  for (const p of problems) console.error(`${animsPath}: ${p}`);
  process.exit(1);
}
console.log(`${animsPath}: ${anims.anims.length} animations load with anims.fromJSON and play their frames for their durations in Phaser 3 and Phaser 4`);
process.exit(0);
