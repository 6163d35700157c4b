// The WebAssembly module against the native programs: for every sample file,
// each image's BMP as torv writes it, the unedited images packed back into
// the original byte for byte (given as files, and made from the original),
// and a file of no known size. A frame sequence packed in steps, its frames
// prepared in batches by another packing begun alike (as another worker
// would), gives the file of one call; frames out of range are refused. A
// project built with frames added gives torv-project build's file; one with
// a broken image fails whole, naming every problem. A photo made to fit gives
// torv-pack --fit's file and figures.
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

// A folder zipped as a person's zip tool would (Python's zipfile).
function zipOf(folder) {
    const zipFile = folder + '.zip';
    execFileSync('python3', ['-c', 'import os, sys, zipfile\nwith zipfile.ZipFile(sys.argv[2], "w", zipfile.ZIP_DEFLATED) as z:\n'
        + '    for top, _, names in os.walk(sys.argv[1]):\n'
        + '        for n in names: z.write(os.path.join(top, n), os.path.relpath(os.path.join(top, n), sys.argv[1]))', folder, zipFile]);
    return fs.readFileSync(zipFile);
}

// The files of a zip made by the module, written below `folder`.
function unzipInto(torv, bytes, folder) {
    for (const file of torv.zipFiles(bytes, 64 << 20)) {
        fs.mkdirSync(path.dirname(path.join(folder, file.name)), { recursive: true });
        fs.writeFileSync(path.join(folder, file.name), file.bytes);
    }
}

// A game's files ([{path, bytes}]) as the module makes their project, source
// by source, its pieces joined.
function projectOf(torv, files) {
    const sorted = [...files].sort((a, b) => (a.path < b.path ? -1 : 1));
    const job = torv.projectBegin(sorted.map((file) => file.path));
    const pieces = sorted.map((file) => Buffer.from(torv.projectAdd(job, file.path, new Uint8Array(file.bytes), '', false).bytes));
    pieces.push(Buffer.from(torv.projectFinish(job).bytes));
    return new Uint8Array(Buffer.concat(pieces));
}

// The game's files as the module takes them for a build.
const originalsOf = (game) => game.map((file) => ({ path: file.path, file: new Uint8Array(file.bytes) }));

// A project of the samples, with two frames added after the last: built in
// the module as torv-project builds it. With an image cut short and another
// of the wrong size too, the build fails whole, naming both.
function checkProjectBuilds(torv, work, linuxBuild) {
    const game = fs.readdirSync(work).filter((name) => name.endsWith('.bin')).map((name) => ({ path: name, bytes: fs.readFileSync(path.join(work, name)) }));
    const project = path.join(work, 'project');
    unzipInto(torv, projectOf(torv, game), project);
    const frames = fs.readdirSync(path.join(project, 'intro')).length;
    fs.copyFileSync(path.join(project, 'intro', 'intro003.png'), path.join(project, 'intro', `intro0${frames}.png`));
    fs.copyFileSync(path.join(project, 'intro', 'intro005.png'), path.join(project, 'intro', `intro0${frames + 1}.png`));
    const built = torv.buildProject(zipOf(project), originalsOf(game), {}, 64 << 20, null);
    const out = path.join(work, 'module-build');
    unzipInto(torv, built.bytes, out);
    const gameFolder = path.join(work, 'game');
    fs.mkdirSync(gameFolder);
    for (const file of game) fs.writeFileSync(path.join(gameFolder, file.path), file.bytes);
    execFileSync(path.resolve(linuxBuild, 'torv-project'), ['build', '-q', project, gameFolder, path.join(work, 'cli-build'), '--patch', path.join(work, 'cli-build')]);
    for (const file of ['intro.bin', 'intro.bin.bps']) {
        const ours = fs.readFileSync(path.join(out, file === 'intro.bin' ? 'build' : 'patches', file));
        if (!ours.equals(fs.readFileSync(path.join(work, 'cli-build', file)))) fail('a project built with frames added: ' + file + ' differs from torv-project\'s');
    }
    const opened = torv.openFile(fs.readFileSync(path.join(out, 'build', 'intro.bin')), 'intro.bin', () => {});
    if (opened.images.length !== frames + 2) fail(`a project built with frames added: ${opened.images.length} frames, not ${frames + 2}`);
    torv.closeFile(opened.handle);

    // What torv-project refuses, the module refuses too: a game file that is
    // not the one the project was made from (of a source not built), a
    // manifest of the wrong types, and two sources that would share a folder.
    const refused = (work, code, words) => {
        try {
            work();
        } catch (error) {
            if (error.code !== code || !String(error.message).includes(words)) fail(`refused as "${error.message}" (${error.code}), not "${words}" (${code})`);
            return;
        }
        fail('not refused: ' + words);
    };
    const altered = game.map((file) => (file.path === 'panels.bin' ? { path: file.path, bytes: Buffer.from(file.bytes).fill(1, 600, 601) } : file));
    refused(() => torv.buildProject(zipOf(project), originalsOf(altered), {}, 64 << 20, null), 'original_changed',
        'panels.bin is not the file the project was made from (its SHA-256 differs)');
    const manifestFile = path.join(project, 'torv-project.json');
    const manifest = fs.readFileSync(manifestFile, 'utf8');
    fs.writeFileSync(manifestFile, manifest.replace('"tool": "', '"tool": 5, "was": "'));
    refused(() => torv.buildProject(zipOf(project), originalsOf(game), {}, 64 << 20, null), 'bad_project', 'the manifest\'s "tool" must be text, not 5');
    fs.writeFileSync(manifestFile, manifest);
    const four = game.find((file) => file.path === 'four.bin');
    refused(() => projectOf(torv, [{ path: 'four.bin', bytes: four.bytes }, { path: 'FOUR.bin', bytes: four.bytes }]),
        'bad_argument', 'FOUR.bin and four.bin would share the folder');

    const four2 = path.join(project, 'four', 'four2.png');
    fs.writeFileSync(four2, fs.readFileSync(four2).subarray(0, 100));
    fs.copyFileSync(path.join(project, 'four', 'four0.png'), path.join(project, 'four', 'four3.png'));
    try {
        torv.buildProject(zipOf(project), originalsOf(game), {}, 64 << 20, null);
        fail('a project with broken images built');
    } catch (error) {
        for (const words of ['four.bin: four2.png: ', 'four.bin: four3.png: the image is 112x144, it must be 320x224']) {
            if (!String(error.message).includes(words)) fail(`a broken build says "${error.message}", not "${words}"`);
        }
    }
}

// A 24-bit BMP of a smooth picture with noise: thousands of colours, as a
// photo brings.
function photoBmp(width, height, seed) {
    const row = Math.ceil(width * 3 / 4) * 4;
    const bmp = Buffer.alloc(54 + row * height);
    bmp.write('BM', 0, 'latin1');
    bmp.writeUInt32LE(bmp.length, 2);
    bmp.writeUInt32LE(54, 10);
    bmp.writeUInt32LE(40, 14);
    bmp.writeInt32LE(width, 18);
    bmp.writeInt32LE(height, 22);
    bmp.writeUInt16LE(1, 26);
    bmp.writeUInt16LE(24, 28);
    let random = seed;
    for (let y = 0; y < height; y++) {
        for (let x = 0; x < width; x++) {
            random = (random * 1103515245 + 12345) >>> 0;
            const noise = (random >>> 16) % 24;
            const channel = (v) => Math.max(0, Math.min(255, Math.floor(v * 230) + noise));
            const at = 54 + y * row + 3 * x;
            bmp[at] = channel(0.5 + 0.5 * Math.sin(7 * x / width + 3 * y / height));
            bmp[at + 1] = channel(y / height);
            bmp[at + 2] = channel((x / width) ** 2);
        }
    }
    return bmp;
}

// "make it fit": a photo in place of four2 of four.bin gives torv-pack
// --fit's file and figures; frames to be fitted are not prepared in batches.
function checkFit(torv, work, linuxBuild) {
    const folder = path.join(work, 'fit');
    fs.mkdirSync(folder);
    for (const name of ['four.bin', 'four0.bmp', 'four1.bmp', 'four3.bmp']) fs.copyFileSync(path.join(work, name), path.join(folder, name));
    const photo = photoBmp(320, 224, 7);
    fs.writeFileSync(path.join(folder, 'four2.bmp'), photo);
    const cli = execFileSync(path.resolve(linuxBuild, 'torv-pack'), ['four.bin', '', '--fit', '-o', 'fitted.bin'],
        { cwd: folder, encoding: 'latin1', stdio: ['ignore', 'pipe', 'pipe'] });
    const four = torv.openFile(fs.readFileSync(path.join(folder, 'four.bin')), 'four.bin', () => {});
    const fitted = torv.packFiles({ 'four2.bmp': photo }, four.handle, { fit: true }, () => {});
    torv.closeFile(four.handle);
    if (!Buffer.from(fitted.bytes).equals(fs.readFileSync(path.join(folder, 'fitted.bin')))) fail('made to fit: not torv-pack --fit\'s file');
    const line = fitted.report.find((text) => text.startsWith('four2.bmp: fitted: '));
    if (!line || !cli.includes(line)) fail('made to fit: the report says ' + JSON.stringify(fitted.report) + ', torv-pack says ' + cli);
    if (fitted.fits.length !== 1 || fitted.fits[0].image !== 'four2.bmp' || !line.includes(fitted.fits[0].psnr.toFixed(1) + ' dB')
        || !line.includes(fitted.fits[0].colours + ' colours')) fail('made to fit: the figures ' + JSON.stringify(fitted.fits));
    const intro = torv.openFile(fs.readFileSync(path.join(work, 'intro.bin')), 'intro.bin', () => {});
    const begun = torv.packBegin({ 'intro000.bmp': 0 }, intro.handle, { fit: true }, null);
    if (begun.inBatches) fail('frames to be fitted are prepared in batches');
    torv.packEnd(begun.job);
    torv.closeFile(intro.handle);
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
    checkProjectBuilds(torv, work, linuxBuild);
    checkFit(torv, work, linuxBuild);
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
    // Frames out of range, asked of a packing in steps.
    const intro = torv.openFile(fs.readFileSync(path.join(work, 'intro.bin')), 'intro.bin', () => {});
    const begun = torv.packBegin({ 'intro000.bmp': 0 }, intro.handle, {}, null);
    for (const [first, count] of [[-1, 1], [0, intro.images.length + 1], [intro.images.length, 1], [NaN, 1], [0, Infinity]]) {
        refusedAs(() => torv.packPrepare(begun.job, first, count, {}), 'bad_argument', 'no such frames to prepare');
    }
    torv.packEnd(begun.job);
    torv.closeFile(intro.handle);
    fs.rmSync(work, { recursive: true });
    console.log(images + ' images and ' + packed + ' packed files from the module, byte-identical to the native ones');
})().catch((error) => fail(String(error)));
