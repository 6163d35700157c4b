// The WebAssembly module against the native programs: for every sample file,
// each image's BMP as torv writes it, the unedited images packed back into
// the original byte for byte (given as files, and made from the original),
// and a file of no known size. A frame sequence packed in steps, its frames
// prepared in batches by another packing begun alike (as another worker
// would), gives the file of one call.
//   usage: node --no-experimental-fetch tests/web/check_module.js build-web/torv_module.js linux-build
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFileSync } = require('child_process');

const [moduleFile, linuxBuild] = process.argv.slice(2);

function fail(what) {
    console.error('check_module: ' + what);
    process.exit(1);
}

(async () => {
    const torv = await require(path.resolve(moduleFile))();
    const work = fs.mkdtempSync(path.join(os.tmpdir(), 'torv-module-'));
    execFileSync(path.resolve(linuxBuild, 'make_samples'), [work]);
    let images = 0;
    let packed = 0;
    for (const file of fs.readdirSync(work).filter((name) => name.endsWith('.bin')).sort()) {
        const stem = file.slice(0, -4);
        execFileSync(path.resolve(linuxBuild, 'torv'), [file, ''], { cwd: work });
        const bytes = fs.readFileSync(path.join(work, file));
        let told = 0;
        const opened = torv.openFile(bytes, file, () => { told += 1; });
        if (!opened.layout) fail(file + ': no layout');
        if (told !== opened.images.length) fail(file + ': not told of every image');
        const named = {};
        opened.images.forEach((image, k) => {
            const written = fs.readFileSync(path.join(work, image.name));
            const bmp = torv.imageFile(opened.handle, k, 'bmp');
            if (!written.equals(Buffer.from(bmp))) fail(file + ': ' + image.name + ' differs from torv\'s');
            if (image.width * image.height + 1078 !== bmp.length) fail(image.name + ': wrong size');
            named[image.name] = written;
            images += 1;
        });
        // All the images given, and one: the original back.
        const first = opened.images[0].name;
        for (const given of [named, { [first]: named[first] }]) {
            const result = torv.packFiles(given, opened.handle, { layout: null }, () => {});
            if (!Buffer.from(result.bytes).equals(bytes)) fail(file + ': packed back, not the original');
            if (result.name !== stem + '.bin') fail(file + ': packed as ' + result.name);
            if (!result.rooms.every((room) => room.used <= room.room)) fail(file + ': rooms ' + JSON.stringify(result.rooms));
            packed += 1;
        }
        if (opened.layout === 'frame_sequence') {
            const edited = { ...named };
            for (const name of [opened.images[3].name, opened.images[40].name]) {
                edited[name] = Buffer.from(named[name]);
                edited[name].fill(7, 2000, 30000);
            }
            const inOneCall = torv.packFiles(edited, opened.handle, {}, () => {});
            const here = torv.packBegin(edited, opened.handle, {}, null);
            const there = torv.packBegin(edited, opened.handle, {}, null);
            const batches = [];
            for (let first = 0; first < there.files.length; first += 8) {
                const count = Math.min(8, there.files.length - first);
                const read = {};
                for (let k = first; k < first + count; k++) read[there.files[k]] = edited[there.files[k]];
                batches.push(torv.packPrepare(there.job, first, count, read).bytes);
            }
            const inSteps = torv.packFinish(here.job, batches, {}, () => {});
            torv.packEnd(here.job);
            torv.packEnd(there.job);
            if (!Buffer.from(inSteps.bytes).equals(Buffer.from(inOneCall.bytes))) fail(file + ': packed in steps, another file');
            if (inSteps.report.join('\n') !== inOneCall.report.join('\n')) fail(file + ': packed in steps, another report');
            packed += 1;
        }
        // None given, and one the original has no image of: refused, by code.
        const refusals = [[{}, 'nothing_to_pack'], [{ ['x' + first]: named[first] }, 'unused_image']];
        for (const [given, code] of refusals) {
            try {
                torv.packFiles(given, opened.handle, undefined, () => {});
                fail(file + ': packed ' + Object.keys(given));
            } catch (error) {
                if (!(error instanceof Error) || error.code !== code) fail(file + ': ' + error + ' (' + error.code + ')');
            }
        }
        torv.closeFile(opened.handle);
    }
    if (torv.openFile(new Uint8Array(1000), 'x', () => {}).layout !== null) fail('a file of no known size has a layout');
    const refusedAs = (work, code, words) => {
        try {
            work();
        } catch (error) {
            if (!(error instanceof Error) || error.code !== code || !error.message.includes(words)) {
                fail('a failure as ' + error + ' (' + error.code + ')');
            }
            return;
        }
        fail('no failure for ' + words);
    };
    refusedAs(() => torv.packFiles({ 'none0.bmp': new Uint8Array(3) }, 0, { layout: 'raw_triple' }, () => {}),
        'missing_image', 'missing image none1.bmp');
    refusedAs(() => torv.imageFile(999, 0, 'bmp'), 'bad_argument', 'no file is held as 999');
    refusedAs(() => torv.packFiles({ 'none0.bmp': new Uint8Array(3) }, 0, { layout: 7 }, () => {}),
        'bad_argument', 'the layout must be text');
    fs.rmSync(work, { recursive: true });
    console.log(images + ' images and ' + packed + ' packed files from the module, byte-identical to the native ones');
})().catch((error) => fail(String(error)));
