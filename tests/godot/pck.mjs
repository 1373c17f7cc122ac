// Writes a Godot 4 resource pack (.pck, pack format 3 as Godot 4.4 to 4.6 write it),
// so the test can hand the engine a project without an editor export step.
//
// Layout: a 40-byte header (magic "GDPC", format, engine major.minor.patch, flags,
// file base, directory offset), 16 reserved words, the file data (the first
// entry and each next one 16-byte aligned), then the directory: count, and per file its path (padded
// with NULs to a multiple of 4 bytes, the padding counted in its length), offset from the file base, size, MD5 of
// the data and per-file flags. Offsets are relative to the pack's start
// (flag 2, always set for format 3).
import { createHash } from 'node:crypto';

export const PACK_MAGIC = 0x43504447; // "GDPC" read little-endian
export const PACK_FORMAT = 3;
const REL_FILEBASE = 2;
const HEADER_BYTES = 40 + 16 * 4;
const ALIGN = 16;

const alignUp = (n) => Math.ceil(n / ALIGN) * ALIGN;

// files: [{ path: 'res://a/b.tres' or 'a/b.tres', data: Buffer }], in directory order;
// paths are stored without "res://", as the engine's own packer does. dataOrder
// (indices into files) places the data in another order than the directory's,
// as the engine's exporter does.
export function writePck(files, { major = 4, minor = 6, patch = 0, dataOrder } = {}) {
    const seen = new Set();
    const entries = files.map(({ path, data }) => {
        const stored = path.startsWith('res://') ? path.slice('res://'.length) : path;
        if (stored === '' || seen.has(stored)) {
            throw new Error(`pack path ${JSON.stringify(path)} is empty or repeated`);
        }
        seen.add(stored);
        return { stored, data: Buffer.from(data) };
    });

    const order = dataOrder ?? entries.map((_, i) => i);
    if (order.length !== entries.length || new Set(order).size !== entries.length ||
        order.some((i) => !(i >= 0 && i < entries.length))) {
        throw new Error('dataOrder must name every file once');
    }
    let offset = 0;
    const placed = entries.map((e) => ({ ...e, at: 0 }));
    for (const i of order) {
        placed[i].at = offset;
        offset = alignUp(offset + placed[i].data.length);
    }
    const fileBase = alignUp(HEADER_BYTES);
    const dirOffset = fileBase + offset;

    const dirParts = [u32(placed.length)];
    for (const e of placed) {
        const name = Buffer.from(e.stored, 'utf8');
        const padded = Buffer.alloc(Math.ceil(name.length / 4) * 4);
        name.copy(padded);
        dirParts.push(u32(padded.length), padded, u64(e.at), u64(e.data.length),
            createHash('md5').update(e.data).digest(), u32(0));
    }

    const header = Buffer.alloc(fileBase);
    header.writeUInt32LE(PACK_MAGIC, 0);
    header.writeUInt32LE(PACK_FORMAT, 4);
    header.writeUInt32LE(major, 8);
    header.writeUInt32LE(minor, 12);
    header.writeUInt32LE(patch, 16);
    header.writeUInt32LE(REL_FILEBASE, 20);
    header.writeBigUInt64LE(BigInt(fileBase), 24);
    header.writeBigUInt64LE(BigInt(dirOffset), 32);

    const body = Buffer.alloc(offset);
    for (const e of placed) e.data.copy(body, e.at);
    return Buffer.concat([header, body, ...dirParts]);
}

// Reads a pack back (format 3 only): the test of the writer, and a way to look
// inside the engine's own packs.
export function readPck(buf) {
    if (buf.length < HEADER_BYTES || buf.readUInt32LE(0) !== PACK_MAGIC) {
        throw new Error('not a Godot pack: no GDPC magic');
    }
    const format = buf.readUInt32LE(4);
    if (format !== PACK_FORMAT) throw new Error(`pack format ${format}, expected ${PACK_FORMAT}`);
    const version = [buf.readUInt32LE(8), buf.readUInt32LE(12), buf.readUInt32LE(16)];
    const flags = buf.readUInt32LE(20);
    const fileBase = Number(buf.readBigUInt64LE(24));
    let at = Number(buf.readBigUInt64LE(32));
    const need = (n) => {
        if (at + n > buf.length) throw new Error('pack directory runs past the end');
    };
    need(4);
    const count = buf.readUInt32LE(at);
    at += 4;
    const files = [];
    for (let i = 0; i < count; i++) {
        need(4);
        const length = buf.readUInt32LE(at);
        at += 4;
        need(length + 36);
        const raw = buf.subarray(at, at + length);
        const end = raw.indexOf(0);
        const path = raw.subarray(0, end < 0 ? length : end).toString('utf8');
        at += length;
        const offset = Number(buf.readBigUInt64LE(at));
        const size = Number(buf.readBigUInt64LE(at + 8));
        const md5 = buf.subarray(at + 16, at + 32).toString('hex');
        const fileFlags = buf.readUInt32LE(at + 32);
        at += 36;
        if (fileBase + offset + size > buf.length) throw new Error(`${path}: data past the end`);
        const data = buf.subarray(fileBase + offset, fileBase + offset + size);
        files.push({ path, offset, size, md5, flags: fileFlags, data, padded: length });
    }
    return { format, version, flags, fileBase, files };
}

function u32(v) {
    const b = Buffer.alloc(4);
    b.writeUInt32LE(v);
    return b;
}

function u64(v) {
    const b = Buffer.alloc(8);
    b.writeBigUInt64LE(BigInt(v));
    return b;
}
