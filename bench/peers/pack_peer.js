// Packs every PNG of one folder with free-tex-packer-core's MaxRectsPacker and
// writes OUT.png and OUT.json, as bench/compare_peers.sh measures it:
// no rotation, no trimming, no padding or extrusion, no duplicate detection,
// bins up to 8192 x 8192, the atlas cut to what is used.
//
//   node pack_peer.js MODULES_DIR IN_DIR OUT_BASE
"use strict";
const fs = require("fs");
const path = require("path");

const [modules, inDir, outBase] = process.argv.slice(2);
if (!outBase) {
    console.error("usage: node pack_peer.js MODULES_DIR IN_DIR OUT_BASE");
    process.exit(1);
}
const { packAsync } = require(path.join(modules, "free-tex-packer-core"));

const names = fs.readdirSync(inDir).filter((n) => n.endsWith(".png")).sort();
const images = names.map((n) => ({ path: n, contents: fs.readFileSync(path.join(inDir, n)) }));

const options = {
    textureName: path.basename(outBase),
    width: 8192,
    height: 8192,
    fixedSize: false,
    powerOfTwo: false,
    padding: 0,
    extrude: 0,
    allowRotation: false,
    allowTrim: false,
    detectIdentical: false,
    packer: "MaxRectsPacker",
    packerMethod: "Smart",
    exporter: "JsonHash",
    removeFileExtension: false,
    prependFolderName: false,
};

packAsync(images, options)
    .then((files) => {
        if (files.filter((f) => f.name.endsWith(".png")).length !== 1) {
            throw new Error("expected exactly one atlas, got " + files.length + " files");
        }
        for (const file of files) {
            fs.writeFileSync(path.join(path.dirname(outBase), file.name), file.buffer);
        }
    })
    .catch((error) => {
        console.error(error);
        process.exit(1);
    });
