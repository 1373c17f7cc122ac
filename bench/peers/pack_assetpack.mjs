// Packs every PNG of one folder with AssetPack's texture-packer pipe, run
// through AssetPack itself as a project would, and writes OUT_DIR/atlas.png
// and OUT_DIR/atlas.json, as bench/compare_peers.sh measures it: no rotation,
// no trimming, padding 0, one resolution (1), pages up to 8192 x 8192, no
// cache. ENTRY_DIR must hold one folder "atlas{tps}" with the sprites; the
// pipe packs a folder tagged {tps}, so the script copies nothing itself.
//
//   node pack_assetpack.mjs MODULES_DIR ENTRY_DIR OUT_DIR
import { createRequire } from "module";
import path from "path";
import { pathToFileURL } from "url";

const [modules, entry, out] = process.argv.slice(2);
if (!out) {
    console.error("usage: node pack_assetpack.mjs MODULES_DIR ENTRY_DIR OUT_DIR");
    process.exit(1);
}
// The package is ESM only: resolve it from MODULES_DIR, then import it.
const require = createRequire(path.join(path.resolve(modules), "index.js"));
const load = (name) => import(pathToFileURL(require.resolve(name)).href);
const { AssetPack } = await load("@assetpack/core");
const { texturePacker } = await load("@assetpack/core/texture-packer");

const pack = new AssetPack({
    entry,
    output: out,
    cache: false,
    cacheLocation: path.join(out, "..", path.basename(out) + ".cache"),
    logLevel: "error",
    pipes: [
        texturePacker({
            texturePacker: { padding: 0, allowRotation: false, allowTrim: false },
            resolutionOptions: { resolutions: { default: 1 }, fixedResolution: "default", maximumTextureSize: 8192 },
        }),
    ],
});
await pack.run();
