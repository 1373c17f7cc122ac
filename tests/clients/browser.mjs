// What a headless PixiJS or Phaser touches of a browser, for loading sheets in
// node: a canvas whose 2-D context does nothing, and an image that decodes
// nothing but takes its size from the PNG header of the file it is given.
import { resolveObjectURL } from 'node:buffer';
import { existsSync, readFileSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

// [width, height] from a PNG's IHDR; throws on anything that is not a PNG.
export function pngSize(file) {
  const head = readFileSync(file).subarray(0, 24);
  const signature = Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]);
  if (head.length < 24 || !head.subarray(0, 8).equals(signature) || head.toString('latin1', 12, 16) !== 'IHDR') {
    throw new Error(`${file}: not a PNG`);
  }
  return [head.readUInt32BE(16), head.readUInt32BE(20)];
}

function context2d() {
  return new Proxy({}, {
    get(target, prop) {
      if (prop in target) return target[prop];
      if (prop === 'getImageData' || prop === 'createImageData') {
        return (x, y, w, h) => ({ data: new Uint8ClampedArray(Math.max(1, (w | 0) * (h | 0)) * 4), width: w, height: h });
      }
      if (prop === 'measureText') return () => ({ width: 0 });
      if (prop === 'canvas') return undefined;
      return () => {};
    },
    set(target, prop, value) { target[prop] = value; return true; },
  });
}

export class FakeCanvas {
  constructor() { this.width = 1; this.height = 1; this.style = {}; }
  getContext() { return context2d(); }
  getBoundingClientRect() { return { left: 0, top: 0, width: this.width, height: this.height }; }
  addEventListener() {}
  removeEventListener() {}
  toDataURL() { return 'data:image/png;base64,'; }
}

// An image of the given size; given the URL of a PNG file, the size in its
// header instead, so a loader that picks the file itself gets that file's size.
export class FakeImage {
  constructor(width = 1, height = 1) {
    this.width = width;
    this.height = height;
    this.onload = null;
    this.onerror = null;
    this.complete = false;
  }
  set src(value) {
    this._src = value;
    const done = (failed) => {
      if (failed) {
        if (this.onerror) this.onerror(failed);
        return;
      }
      this.complete = true;
      if (this.onload) this.onload();
    };
    if (typeof value === 'string' && value.startsWith('blob:')) {
      // A loader that fetched the bytes itself hands them over as a blob URL.
      // The file the loader fetched these bytes from, as served below.
      this.origin = blobOrigins.get(value) ?? null;
      const blob = resolveObjectURL(value);
      if (!blob) { setTimeout(() => done(new Error(`${value}: no such blob`)), 0); return; }
      blob.arrayBuffer().then((bytes) => {
        const head = Buffer.from(bytes.slice(0, 24));
        if (head.length < 24 || head.toString('latin1', 12, 16) !== 'IHDR') throw new Error(`${value}: not a PNG`);
        [this.width, this.height] = [head.readUInt32BE(16), head.readUInt32BE(20)];
      }).then(() => done(null), done);
      return;
    }
    let failed = null;
    if (typeof value === 'string' && value.startsWith('file:') && value.toLowerCase().endsWith('.png')) {
      try {
        [this.width, this.height] = pngSize(fileURLToPath(value));
      } catch (e) {
        failed = e;
      }
    }
    setTimeout(() => done(failed), 0);
  }
  get src() { return this._src; }
  get naturalWidth() { return this.width; }
  get naturalHeight() { return this.height; }
  addEventListener(type, fn) { if (type === 'load') this.onload = fn; if (type === 'error') this.onerror = fn; }
  removeEventListener() {}
  decode() { return Promise.resolve(); }
}

const element = (tag) => (tag === 'canvas' ? new FakeCanvas() : tag === 'img' ? new FakeImage() : {
  style: {}, canPlayType() { return ''; }, appendChild() {}, removeChild() {}, addEventListener() {}, setAttribute() {}, getBoundingClientRect() { return { left: 0, top: 0, width: 0, height: 0 }; },
});

export function installBrowserGlobals() {
  const define = (name, value) => Object.defineProperty(globalThis, name, { value, configurable: true, writable: true });
  define('navigator', { userAgent: 'node', platform: 'node', maxTouchPoints: 0 });
  define('window', globalThis);
  define('document', {
    readyState: 'complete', documentElement: { style: {} }, body: element('div'),
    createElement: element, createElementNS: (ns, tag) => element(tag),
    addEventListener() {}, removeEventListener() {}, getElementById() { return null; },
  });
  define('Image', FakeImage);
  define('HTMLCanvasElement', FakeCanvas);
  define('HTMLImageElement', FakeImage);
  define('HTMLVideoElement', class {});
  define('screen', { width: 1024, height: 768, orientation: {} });
  define('addEventListener', () => {});
  define('removeEventListener', () => {});
  define('requestAnimationFrame', (fn) => setTimeout(() => fn(Date.now()), 16));
  define('cancelAnimationFrame', (id) => clearTimeout(id));
  define('focus', () => {});
}

// Points PixiJS's DOM adapter at node: files are fetched from disk, images are
// FakeImages, relative URLs resolve against baseDir. Returns the URLs fetched.
export function usePixiInNode(PIXI, baseDir) {
  const { DOMAdapter, BrowserAdapter } = PIXI;
  const fetched = [];
  DOMAdapter.set({
    ...BrowserAdapter,
    createCanvas: () => new FakeCanvas(),
    createImage: () => new FakeImage(),
    getCanvasRenderingContext2D: () => FakeCanvas,
    getWebGLRenderingContext: () => class {},
    getNavigator: () => ({ userAgent: 'node', gpu: null }),
    getBaseUrl: () => pathToFileURL(path.resolve(baseDir) + '/').href,
    getFontFaceSet: () => null,
    fetch: async (url) => {
      fetched.push(url);
      const file = url.startsWith('file:') ? new URL(url) : path.resolve(url);
      const body = readFileSync(file);
      return new Response(body, { status: 200, headers: { 'content-type': url.endsWith('.json') ? 'application/json' : 'image/png' } });
    },
    parseXML: () => null,
  });
  return fetched;
}

// blob: URL -> file: URL of the file whose bytes it holds.
const blobOrigins = new Map();
const blobFiles = new WeakMap();

// An XMLHttpRequest that serves files below baseDir, URLs relative to it as a
// page in that folder would, with a 404 for a missing file. Returns the list
// of URLs requested, as given.
export function serveFilesByXhr(baseDir) {
  const requested = [];
  if (!URL.createObjectURL.velmora) {
    const create = URL.createObjectURL;
    URL.createObjectURL = Object.assign((blob) => {
      const url = create(blob);
      if (blobFiles.has(blob)) blobOrigins.set(url, blobFiles.get(blob));
      return url;
    }, { velmora: true });
  }
  class FileXhr {
    constructor() { this.readyState = 0; this.status = 0; this.responseType = ''; this.response = null; this.responseText = ''; }
    open(method, url) { this.url = url; this.readyState = 1; }
    setRequestHeader() {}
    overrideMimeType() {}
    abort() {}
    send() {
      requested.push(this.url);
      const file = this.url.startsWith('file:') ? fileURLToPath(this.url) : path.resolve(baseDir, this.url);
      this.responseURL = pathToFileURL(file).href;
      setTimeout(() => {
        this.readyState = 4;
        if (!existsSync(file)) {
          this.status = 404;
        } else {
          const body = readFileSync(file);
          this.status = 200;
          if (this.responseType === 'blob') {
            this.response = new Blob([body], { type: 'image/png' });
            blobFiles.set(this.response, this.responseURL);
          }
          else if (this.responseType === 'arraybuffer') this.response = body.buffer.slice(body.byteOffset, body.byteOffset + body.length);
          else this.response = this.responseText = body.toString('utf8');
        }
        if (this.onload) this.onload({ target: this });
      }, 0);
    }
  }
  Object.defineProperty(globalThis, 'XMLHttpRequest', { value: FileXhr, configurable: true, writable: true });
  return requested;
}
