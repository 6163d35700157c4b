// The page in a real browser (Debian's chromium, headless, through
// playwright-core), opened from disk with no network: every sample file's
// images counted and downloaded (a zip per file, unpacked with unzip) and
// compared with build/torv's BMP files byte for byte; PNGs decoded here and
// compared with the BMPs' indices and colours; edited images (one a PNG from
// the page edited in ImageMagick) packed back and compared with
// build/torv-pack's file; bad inputs give torv-pack's words and
// no download; cancelling; keyboard use; a whole game folder listed, its
// project and builds as torv-project makes them; a player applying a mod
// in one step; every input refused at its size before it is read; zips of
// other tools.
//   usage: node tests/web/page_test.js build-web/torv.html build
/* global torv */
'use strict';
const assert = require('assert');
const crypto = require('crypto');
const fs = require('fs');
const os = require('os');
const path = require('path');
const zlib = require('zlib');
const { execFileSync, spawnSync } = require('child_process');
const { launch } = require('./browser');

const [pageFile, linuxBuild] = process.argv.slice(2).map((arg) => path.resolve(arg));
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'torv-page-'));
const samples = path.join(work, 'samples');
fs.mkdirSync(samples);
execFileSync(path.join(linuxBuild, 'make_samples'), [samples]);
const sources = fs.readdirSync(samples).filter((name) => name.endsWith('.bin')).sort();
for (const source of sources) execFileSync(path.join(linuxBuild, 'torv'), [source, ''], { cwd: samples });
const bmpsOf = (source) => fs.readdirSync(samples).filter((name) => name.startsWith(source.slice(0, -4)) && name.endsWith('.bmp')).sort();

// ---- Image files, read and made independently of the product -------------

function readBmp(file) {
    const width = file.readInt32LE(18);
    const height = file.readInt32LE(22);
    const offset = file.readUInt32LE(10);
    const stride = (width + 3) & ~3;
    const indices = Buffer.alloc(width * height);
    for (let y = 0; y < height; y++) file.copy(indices, y * width, offset + (height - 1 - y) * stride, offset + (height - 1 - y) * stride + width);
    const palette = [];
    for (let k = 0; k < 256; k++) palette.push([file[56 + 4 * k], file[55 + 4 * k], file[54 + 4 * k]]);
    return { width, height, indices, palette };
}

// An uncompressed BMP: 8-bit with `palette` ([r, g, b] x 256) and indices,
// or 24-bit from `colours` ([r, g, b] per pixel); rows top first.
function makeBmp(width, height, { palette, indices, colours }) {
    const bits = colours ? 24 : 8;
    const stride = ((width * bits) / 8 + 3) & ~3;
    const tableSize = colours ? 0 : 1024;
    const file = Buffer.alloc(54 + tableSize + stride * height);
    file.write('BM', 0, 'latin1');
    file.writeUInt32LE(file.length, 2);
    file.writeUInt32LE(54 + tableSize, 10);
    file.writeUInt32LE(40, 14);
    file.writeInt32LE(width, 18);
    file.writeInt32LE(height, 22);
    file.writeUInt16LE(1, 26);
    file.writeUInt16LE(bits, 28);
    if (!colours) palette.forEach(([r, g, b], k) => { file[54 + 4 * k] = b; file[55 + 4 * k] = g; file[56 + 4 * k] = r; });
    for (let y = 0; y < height; y++) {
        const row = 54 + tableSize + (height - 1 - y) * stride;
        for (let x = 0; x < width; x++) {
            if (colours) {
                const [r, g, b] = colours[y * width + x];
                file[row + 3 * x] = b; file[row + 3 * x + 1] = g; file[row + 3 * x + 2] = r;
            } else {
                file[row + x] = indices[y * width + x];
            }
        }
    }
    return file;
}

// An 8-bit palette PNG: its size, palette and indices.
function readIndexedPng(file) {
    assert.deepStrictEqual([...file.subarray(0, 8)], [137, 80, 78, 71, 13, 10, 26, 10], 'PNG signature');
    let at = 8;
    let header;
    let palette = [];
    const data = [];
    while (at < file.length) {
        const length = file.readUInt32BE(at);
        const type = file.toString('latin1', at + 4, at + 8);
        const body = file.subarray(at + 8, at + 8 + length);
        if (type === 'IHDR') header = { width: body.readUInt32BE(0), height: body.readUInt32BE(4), depth: body[8], type: body[9] };
        if (type === 'PLTE') for (let k = 0; k < length; k += 3) palette.push([body[k], body[k + 1], body[k + 2]]);
        if (type === 'IDAT') data.push(body);
        at += 12 + length;
    }
    assert.strictEqual(header.depth, 8);
    assert.strictEqual(header.type, 3, 'palette colour type');
    const raw = zlib.inflateSync(Buffer.concat(data));
    const { width, height } = header;
    const indices = Buffer.alloc(width * height);
    for (let y = 0; y < height; y++) {
        const filter = raw[y * (width + 1)];
        for (let x = 0; x < width; x++) {
            const value = raw[y * (width + 1) + 1 + x];
            const left = x > 0 ? indices[y * width + x - 1] : 0;
            const up = y > 0 ? indices[(y - 1) * width + x] : 0;
            const corner = x > 0 && y > 0 ? indices[(y - 1) * width + x - 1] : 0;
            const paeth = () => {
                const p = left + up - corner;
                const [a, b, c] = [Math.abs(p - left), Math.abs(p - up), Math.abs(p - corner)];
                return a <= b && a <= c ? left : b <= c ? up : corner;
            };
            const predicted = [0, left, up, (left + up) >> 1, paeth()][filter];
            indices[y * width + x] = (value + predicted) & 255;
        }
    }
    return { width, height, indices, palette };
}

// ---- The page ----------------------------------------------------------------

(async () => {
    const { browser, page, downloads, offline } = await launch(pageFile);
    const section = (name) => page.locator('section.file', { has: page.locator(`h2:text-is("${name}")`) });
    // The newest message's words (the list at the top keeps the older ones).
    const messageText = () => page.locator('#message p .text').first().textContent();
    const saved = async (download, name) => {
        const file = path.join(work, 'downloaded-' + name);
        await download.saveAs(file);
        return fs.readFileSync(file);
    };

    // First steps: what the page is, its version and help, the steps; the
    // put-back controls only once a file is open.
    assert.match(await page.title(), /^torv: see, take out and put back a game's images$/);
    assert.match(await page.locator('#version').textContent(), /^\d+\.\d+\.\d+$/);
    assert.ok(await page.locator('#help-link').isVisible() && await page.locator('#start ol.steps li').count() === 4);
    assert.ok(await page.locator('#put-back').isHidden(), 'put-back controls before any file is open');

    // Every sample: counted, then every image through a zip download.
    await page.setInputFiles('#open', sources.map((name) => path.join(samples, name)));
    let compared = 0;
    for (const source of sources) {
        const opened = section(source);
        await opened.locator('[data-name]').first().waitFor();
        const layout = await opened.getAttribute('data-layout');
        const names = await opened.locator('[data-name]').evaluateAll((all) => all.map((image) => image.dataset.name));
        assert.deepStrictEqual(names.slice().sort(), bmpsOf(source), source + ': the images shown');
        const zipped = page.waitForEvent('download');
        await opened.getByRole('button', { name: 'All as BMP (zip)' }).click();
        const zipFile = path.join(work, source + '.zip');
        await (await zipped).saveAs(zipFile);
        const unzipped = path.join(work, 'unzipped-' + source);
        execFileSync('unzip', ['-q', zipFile, '-d', unzipped]);
        for (const name of names) {
            assert.ok(fs.readFileSync(path.join(unzipped, name)).equals(fs.readFileSync(path.join(samples, name))), name + ' differs from torv\'s');
            compared += 1;
        }
        assert.deepStrictEqual(fs.readdirSync(unzipped).sort(), names.slice().sort(), source + ': the zip holds the images alone');
        console.log(`${source}: ${layout}, ${names.length} images, every BMP in the zip as torv writes it`);
    }
    assert.match(await section('intro.bin').locator('.what').textContent(), /^animation, 60 frames: 320×224 · /);
    assert.deepStrictEqual(await page.locator('#index a').allTextContents(), ['four.bin', 'intro.bin', 'panels.bin', 'picture.bin', 'triple.bin']);
    assert.ok(await page.locator('#put-back').isVisible());

    // The script interface: BMP, PNG and pixels of images, against torv's.
    for (const source of ['panels.bin', 'intro.bin']) {
        const bytes = [...fs.readFileSync(path.join(samples, source))];
        const images = await page.evaluate(async ([name, contents]) => {
            const opened = await torv.open(name, new Uint8Array(contents));
            const chosen = opened.images.filter((image, k) => k < 3 || k === opened.images.length - 1);
            const out = [];
            for (const image of chosen) {
                const pixels = await image.pixels();
                out.push({ name: image.name, width: image.width, height: image.height, bmp: [...await image.bmp()], png: [...await image.png()],
                    palette: pixels.palette, indices: [...pixels.indices] });
            }
            await opened.close();
            return { layout: opened.layout, out };
        }, [source, bytes]);
        for (const image of images.out) {
            const written = fs.readFileSync(path.join(samples, image.name));
            assert.ok(Buffer.from(image.bmp).equals(written), image.name + ': bmp() differs from torv\'s');
            const bmp = readBmp(written);
            const png = readIndexedPng(Buffer.from(image.png));
            assert.deepStrictEqual([png.width, png.height, image.width, image.height], [bmp.width, bmp.height, bmp.width, bmp.height]);
            assert.ok(png.indices.equals(bmp.indices), image.name + ': the PNG\'s indices');
            assert.deepStrictEqual(png.palette, bmp.palette, image.name + ': the PNG\'s palette');
            assert.ok(Buffer.from(image.indices).equals(bmp.indices), image.name + ': pixels().indices');
            assert.deepStrictEqual(image.palette, bmp.palette, image.name + ': pixels().palette');
        }
        console.log(`${source}: bmp(), png() and pixels() of ${images.out.length} images agree with torv's BMPs`);
    }
    const pngClicked = page.waitForEvent('download');
    await section('four.bin').locator('[data-name="four2.bmp"]').getByRole('button', { name: 'PNG' }).click();
    const pngDownload = await pngClicked;
    assert.strictEqual(pngDownload.suggestedFilename(), 'four2.png');
    const pngBytes = await saved(pngDownload, 'four2.png');
    assert.ok(readIndexedPng(pngBytes).indices.equals(readBmp(fs.readFileSync(path.join(samples, 'four2.bmp'))).indices));

    // Zoom and pointing: the pixel under the pointer, with its index and
    // colour as the BMP has them.
    const four = section('four.bin');
    await four.locator('select.zoom').selectOption('3');
    const figure = four.locator('[data-name="four2.bmp"]');
    await figure.locator('canvas').scrollIntoViewIfNeeded();
    const box = await figure.locator('canvas').boundingBox();
    const four2 = readBmp(fs.readFileSync(path.join(samples, 'four2.bmp')));
    assert.deepStrictEqual([box.width, box.height], [3 * four2.width, 3 * four2.height], 'zoomed 3x');
    for (const [x, y] of [[0, 0], [100, 50], [four2.width - 1, four2.height - 1]]) {
        await page.mouse.move(box.x + 3 * x + 1.5, box.y + 3 * y + 1.5);
        const index = four2.indices[y * four2.width + x];
        const hex = '#' + four2.palette[index].map((c) => c.toString(16).padStart(2, '0')).join('');
        assert.strictEqual(await figure.locator('.pixel-info').textContent(), `x ${x}, y ${y}: index ${index}, ${hex} (${four2.palette[index].join(', ')})`);
    }
    console.log('zoom 3x, and pointing at pixels tells their place, index and colour');

    // Dropping: a source file opens, an image dropped on a file's section is
    // an edited image for it.
    await page.evaluate(async ([image, source]) => {
        const dropped = new DataTransfer();
        dropped.items.add(new File([new Uint8Array(image)], 'panels1.bmp'));
        dropped.items.add(new File([new Uint8Array(source)], 'triple.bin'));
        const target = [...document.querySelectorAll('section.file')].find((s) => s.querySelector('h2').textContent === 'panels.bin');
        target.querySelector('.images').dispatchEvent(new DragEvent('drop', { dataTransfer: dropped, bubbles: true, cancelable: true }));
    }, [[...fs.readFileSync(path.join(samples, 'panels1.bmp'))], [...fs.readFileSync(path.join(samples, 'triple.bin'))]]);
    // triple.bin was open already: one section still.
    await section('triple.bin').locator('.file-messages', { hasText: 'triple.bin is open already' }).waitFor();
    assert.strictEqual(await page.locator('section.file[data-layout="raw_triple"]').count(), 1);
    assert.strictEqual(await page.locator('#target option:checked').textContent(), 'panels.bin');
    assert.match(await page.locator('#edited-list').textContent(), /^1 edited image: panels1\.bmp$/);
    assert.match(await section('panels.bin').locator('.file-messages').textContent(), /took panels1\.bmp as edited image/);
    console.log('dropped: a source file opened once, an edited image taken for the section it fell on, said there');

    // Packing in the page and with torv-pack, from the same edited files.
    async function packBoth(source, edited, { nearest = false, fit = false } = {}) {
        const folder = fs.mkdtempSync(path.join(work, 'pack-'));
        for (const name of [source, ...bmpsOf(source)]) fs.copyFileSync(path.join(samples, name), path.join(folder, name));
        const given = fs.mkdtempSync(path.join(work, 'edited-'));
        for (const [name, contents] of Object.entries(edited)) {
            fs.writeFileSync(path.join(given, name), contents);
            fs.writeFileSync(path.join(folder, name), contents);
            const stem = name.slice(0, -4);
            if (name.endsWith('.png')) fs.rmSync(path.join(folder, stem + '.bmp'), { force: true });
        }
        const cli = spawnSync(path.join(linuxBuild, 'torv-pack'), ['-q', '-o', 'packed.bin', ...(nearest ? ['--nearest'] : []), ...(fit ? ['--fit'] : []), source, ''], { cwd: folder, encoding: 'latin1' });
        const expected = cli.status === 0 ? fs.readFileSync(path.join(folder, 'packed.bin')) : null;
        // The page names its own controls where torv-pack names options.
        const failure = cli.status === 0 ? null : cli.stderr.trim().replace(/^torv-pack: /, '')
            .replaceAll('--nearest', 'ticking \u201cnearest\u201d').replaceAll('--fit', 'ticking \u201cmake it fit\u201d');

        await page.selectOption('#target', { label: source });
        await page.click('#clear-edited');
        await page.setInputFiles('#images-in', Object.keys(edited).map((name) => path.join(given, name)));
        await page.setChecked('#nearest', nearest);
        await page.setChecked('#fit', fit);
        await page.evaluate(() => document.getElementById('message').replaceChildren());
        const before = downloads.length;
        await page.click('#pack');
        await page.waitForFunction(() => document.getElementById('message').textContent.length > 0, null, { timeout: 60000 });
        const shown = await messageText();
        if (expected) {
            while (downloads.length === before) await page.waitForTimeout(20);
            const download = downloads[downloads.length - 1];
            assert.strictEqual(download.suggestedFilename(), source, 'packed under the original\'s name');
            assert.ok((await saved(download, source)).equals(expected), source + ': the page packed other bytes than torv-pack');
            assert.ok(shown.includes('packed'), shown);
        } else {
            await page.waitForTimeout(300);
            assert.strictEqual(downloads.length, before, 'a failed packing downloaded something');
            assert.strictEqual(shown, failure, 'the page says what torv-pack says');
        }
        return { shown, failure };
    }

    const edit = (name, change) => {
        const file = Buffer.from(fs.readFileSync(path.join(samples, name)));
        change(file);
        return file;
    };
    const scribble = (file) => { for (let k = 0; k < 64; k++) file[1078 + 300 + 7 * k] = file[1078 + 40 + k]; };
    await packBoth('panels.bin', { 'panels1.bmp': edit('panels1.bmp', scribble) });
    await packBoth('intro.bin', { 'intro005.bmp': edit('intro005.bmp', scribble) });
    // A PNG the page gave, edited in ImageMagick as a person would.
    const downloadedPng = path.join(work, 'four2.png');
    fs.writeFileSync(downloadedPng, pngBytes);
    execFileSync('/usr/bin/convert', [downloadedPng, '-fill', '#f8f800', '-draw', 'rectangle 10,10,40,30', downloadedPng]);
    await packBoth('four.bin', { 'four2.png': fs.readFileSync(downloadedPng) });
    const report = await page.locator('#report meter').count();
    assert.ok(report >= 1, 'the room a packing used is shown as a bar');
    console.log('packing in the page gives torv-pack\'s bytes (an image edited in a BMP, a frame, a PNG from the page edited in ImageMagick)');

    // Most frames of a sequence edited: their batches prepared by every
    // worker, packed as torv-pack packs them; one cut short late in the
    // sequence fails as torv-pack fails; three workers on any machine give
    // the same file.
    const frameName = (k) => `intro${String(k).padStart(3, '0')}.bmp`;
    const manyFrames = {};
    for (let k = 0; k < 60; k += 2) manyFrames[frameName(k)] = edit(frameName(k), scribble);
    await packBoth('intro.bin', manyFrames);
    const manyPacked = await saved(downloads[downloads.length - 1], 'intro.bin');
    const { failure: lateFailure } = await packBoth('intro.bin', { ...manyFrames, [frameName(51)]: fs.readFileSync(path.join(samples, frameName(51))).subarray(0, 3000) });
    assert.match(lateFailure, /^intro051\.bmp: /);
    const byThree = await page.evaluate(async ([original, files]) => {
        const packed = await torv.pack({ name: 'intro.bin', bytes: new Uint8Array(original) },
            files.map(([name, bytes]) => ({ name, bytes: new Uint8Array(bytes) })), { jobs: 3 });
        return [...new Uint8Array(await crypto.subtle.digest('SHA-256', packed.bytes))];
    }, [[...fs.readFileSync(path.join(samples, 'intro.bin'))], Object.entries(manyFrames).map(([name, bytes]) => [name, [...bytes]])]);
    assert.ok(Buffer.from(byThree).equals(crypto.createHash('sha256').update(manyPacked).digest()), 'three workers packed another file');
    console.log(`30 of 60 frames edited: packed in batches as torv-pack packs them, by 3 workers too; a frame cut short: "${lateFailure}"`);


    // Bad input: one line each, nothing downloaded, and the page goes on.
    const panel = readBmp(fs.readFileSync(path.join(samples, 'panels1.bmp')));
    const manyColours = Array.from({ length: panel.width * panel.height }, (unused, k) => [(k * 8) & 255, (k >> 5) * 8 & 255, (k >> 10) * 8 & 255]);
    const picture = readBmp(fs.readFileSync(path.join(samples, 'picture.bmp')));
    let noise = 12345;
    const noisy = Buffer.from(picture.indices.map(() => { noise = (noise * 1103515245 + 12345) >>> 0; return noise >>> 24; }));
    const cases = [
        ['a truncated BMP', 'panels.bin', { 'panels1.bmp': fs.readFileSync(path.join(samples, 'panels1.bmp')).subarray(0, 2000) }],
        ['a malformed PNG', 'panels.bin', { 'panels1.png': Buffer.concat([Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]), Buffer.alloc(40, 7)]) }],
        ['an image of the wrong size', 'panels.bin', { 'panels1.bmp': makeBmp(10, 10, { palette: panel.palette, indices: new Uint8Array(100) }) }],
        ['colours the palette lacks', 'panels.bin', { 'panels1.bmp': makeBmp(panel.width, panel.height, { colours: manyColours }) }],
        ['a block that does not fit', 'picture.bin', { 'picture.bmp': makeBmp(picture.width, picture.height, { palette: picture.palette, indices: noisy }) }],
    ];
    for (const [what, source, edited] of cases) {
        const { shown } = await packBoth(source, edited);
        console.log(`${what}: "${shown}"`);
    }
    await packBoth('panels.bin', cases[3][2], { nearest: true });
    console.log('the same colours with nearest colours: packed as torv-pack --nearest packs them');
    for (const k of [3, 4]) {
        await packBoth(cases[k][1], cases[k][2], { fit: true });
        const told = await page.locator('#report').textContent();
        assert.match(told, /: fitted: [0-9.]+ dB PSNR, OKLab difference [0-9.]+ against the image given, [0-9]+ colours/, told);
    }
    console.log('the same with \u201cmake it fit\u201d: packed as torv-pack --fit packs them, with the figures of what it changed');

    // Images that stand for nothing are refused by name, with nothing
    // downloaded; a browser's second download "four1 (1).bmp" is four1.bmp.
    async function packGiven(source, files) {
        const given = fs.mkdtempSync(path.join(work, 'given-'));
        for (const [name, contents] of Object.entries(files)) fs.writeFileSync(path.join(given, name), contents);
        await page.selectOption('#target', { label: source });
        await page.click('#clear-edited');
        if (Object.keys(files).length) await page.setInputFiles('#images-in', Object.keys(files).map((name) => path.join(given, name)));
        await page.evaluate(() => document.getElementById('message').replaceChildren());
        const before = downloads.length;
        await page.click('#pack');
        await page.waitForFunction(() => document.getElementById('message').textContent.length > 0, null, { timeout: 60000 });
        await page.waitForTimeout(300);
        return { shown: await messageText(), report: await page.locator('#report').textContent(), downloads: downloads.length - before };
    }
    const four1 = edit('four1.bmp', scribble);
    for (const [name, says] of [['Four1.bmp', /^no image of the original is named Four1\.bmp: its images are four0\.bmp/],
        ['four1 (x).bmp', /^no image of the original is named four1 \(x\)\.bmp/]]) {
        const refused = await packGiven('four.bin', { [name]: four1 });
        assert.match(refused.shown, says);
        assert.strictEqual(refused.downloads, 0, name + ' gave a download');
    }
    const none = await packGiven('four.bin', {});
    assert.match(none.shown, /^no edited images were given/);
    assert.strictEqual(none.downloads, 0);
    const renamed = await packGiven('four.bin', { 'four1 (1).bmp': four1 });
    assert.strictEqual(renamed.downloads, 1);
    assert.ok(renamed.report.includes('four1 (1).bmp is taken as four1.bmp'), renamed.report);
    const { failure: cliFailure } = await packBoth('four.bin', { 'four1.bmp': four1 });
    assert.strictEqual(cliFailure, null);
    assert.ok((await saved(downloads[downloads.length - 1], 'four.bin'))
        .equals(await saved(downloads[downloads.length - 2], 'four.bin')), 'four1 (1).bmp packed as four1.bmp');
    // A script says "no layout" with null as with nothing.
    const byScript = await page.evaluate(async ([original, image]) => {
        const packed = await torv.pack({ name: 'four.bin', bytes: new Uint8Array(original) },
            [{ name: 'four1.bmp', bytes: new Uint8Array(image) }], { layout: null, nearest: undefined });
        return packed.bytes.length;
    }, [[...fs.readFileSync(path.join(samples, 'four.bin'))], [...four1]]);
    assert.strictEqual(byScript, 57652);
    console.log('images that stand for nothing refused by name, none refused, "four1 (1).bmp" taken as four1.bmp, a layout of null taken as none');

    const odd = path.join(work, 'odd.bin');
    fs.writeFileSync(odd, Buffer.alloc(1000));
    await page.setInputFiles('#open', odd);
    await page.waitForFunction(() => document.getElementById('message').textContent.includes('odd.bin'));
    assert.match(await messageText(), /^odd\.bin is 1,000 bytes, the size of no file torv knows \(frame_sequence 9,486,336, /);
    // 65 MB of nothing, as a source and as an edited image.
    const huge = path.join(work, 'huge.bin');
    for (const [name, input] of [['huge.bin', '#open'], ['huge.bmp', '#images-in']]) {
        fs.closeSync(fs.openSync(path.join(work, name), 'w'));
        fs.truncateSync(path.join(work, name), 65 * 1024 * 1024);
        await page.setInputFiles(input, path.join(work, name));
        await page.waitForFunction((shown) => document.getElementById('message').textContent.includes(shown), name);
        assert.strictEqual(await messageText(), `${name} is 68,157,440 bytes: files over 64 MB are not read here`);
    }
    console.log('a file of no known size and one over 64 MB (a source, and an edited image when chosen): one line each');

    // Cancelling ends the work under way; what is open goes on working.
    const cancelled = await page.evaluate(async (contents) => {
        const packing = torv.pack(null, [{ name: 'intro000.bmp', bytes: new Uint8Array(contents) }], { layout: 'frame_sequence' });
        torv.cancel();
        try {
            await packing;
            return 'finished';
        } catch (error) {
            return error.message;
        }
    }, [...fs.readFileSync(path.join(samples, 'intro000.bmp'))]);
    assert.strictEqual(cancelled, 'cancelled');
    const intro = section('intro.bin');
    await intro.locator('.thumb').nth(7).click();
    await intro.locator('.frame-name').filter({ hasText: 'frame 8 of 60 · intro007.bmp' }).waitFor();
    console.log('cancelled packing rejects with "cancelled"; the open frame sequence still plays');

    // Keyboard: every main control is reached with Tab, and the player
    // answers to keys.
    await page.click('header h1'); // Tab goes on from the top of the page
    const reached = new Set();
    for (let k = 0; k < 30 && reached.size < 5; k++) {
        await page.keyboard.press('Tab');
        const id = await page.evaluate(() => document.activeElement.id);
        if (['open', 'images-in', 'nearest', 'pack', 'target'].includes(id)) reached.add(id);
    }
    assert.strictEqual(reached.size, 5, 'reached by Tab: ' + [...reached].join(', '));
    await page.focus('#nearest');
    const checked = await page.isChecked('#nearest');
    await page.keyboard.press('Space');
    assert.strictEqual(await page.isChecked('#nearest'), !checked);
    await intro.locator('.player .view').focus();
    await page.keyboard.press('Home');
    await intro.locator('.frame-name').filter({ hasText: 'frame 1 of 60' }).waitFor();
    await page.keyboard.press('ArrowRight');
    await intro.locator('.frame-name').filter({ hasText: 'frame 2 of 60 · intro001.bmp' }).waitFor();
    await page.keyboard.press('Space');
    await intro.locator('button.play', { hasText: 'Pause' }).waitFor();
    await page.waitForTimeout(400);
    await page.keyboard.press('Space');
    await intro.locator('button.play', { hasText: 'Play' }).waitFor();
    assert.doesNotMatch(await intro.locator('.frame-name').textContent(), /frame 2 of/, 'playing moved on');
    console.log('keyboard: Tab reaches the main controls, Space toggles, the player steps and plays');

    // Closing a file takes its section away and leaves the others.
    await section('triple.bin').getByRole('button', { name: 'Close triple.bin' }).click();
    await page.waitForFunction(() => document.querySelectorAll('section.file[data-layout="raw_triple"]').length === 0);
    assert.deepStrictEqual(await page.locator('#target option').allTextContents(),
        ['no original (layout below)', 'four.bin', 'intro.bin', 'panels.bin', 'picture.bin']);


    // ---- Feedback where the eye is ------------------------------------------

    // Two refusals at once: both kept, each naming its file.
    await page.setInputFiles('#open', [huge, odd]);
    await page.waitForFunction(() => ['huge.bin:', 'odd.bin:'].every((name) => [...document.querySelectorAll('#message .about')].some((about) => about.textContent === name)));
    console.log('two files refused together: both messages kept, each with its file');

    // Progress and cancel stay in view while work runs, wherever the page is scrolled.
    await page.evaluate(() => window.scrollTo(0, document.body.scrollHeight));
    const zipped = page.waitForEvent('download');
    await page.evaluate(() => [...document.querySelectorAll('section.file')].find((s) => s.dataset.file === 'intro.bin')
        .querySelector('button[aria-label="All as PNG (zip): intro.bin"]').click());
    // Seen while it is there: a quick zip may be done a moment later.
    const bar = await (await page.waitForFunction(() => {
        const shown = document.getElementById('progress');
        const box = shown.getBoundingClientRect();
        if (shown.hidden || box.height === 0) return null;
        return { y: box.y, height: box.height, cancel: document.getElementById('cancel').getClientRects().length > 0 };
    }, null, { polling: 'raf' })).jsonValue();
    const viewport = page.viewportSize();
    assert.ok(bar.y >= 0 && bar.y + bar.height <= viewport.height, 'the progress bar is in view: ' + JSON.stringify(bar));
    assert.ok(bar.cancel, 'cancel is shown with the progress');
    await zipped;
    console.log('progress and cancel in a bar in view while work runs');

    // A long list of edited images folds to a count.
    await page.click('#clear-edited');
    await page.setInputFiles('#images-in', bmpsOf('intro.bin').slice(0, 7).map((name) => path.join(samples, name)));
    assert.strictEqual(await page.locator('#edited-list details summary').textContent(), '7 edited images');
    await page.click('#clear-edited');

    // ---- Finding your way -------------------------------------------------------

    const fold = section('four.bin').getByRole('button', { name: 'Fold four.bin' });
    await fold.click();
    assert.ok(await section('four.bin').locator('.body').isHidden());
    await section('four.bin').getByRole('button', { name: 'Unfold four.bin' }).click();
    assert.ok(await section('four.bin').locator('.body').isVisible());
    // At 4x the pixel readout and the palette stay beside the image.
    for (const [name, image] of [['intro.bin', '.player .view canvas'], ['four.bin', '[data-name="four2.bmp"] .view canvas']]) {
        await section(name).locator('select.zoom').selectOption('4');
        const shown = await section(name).locator(image).boundingBox();
        const palette = await section(name).locator(image).locator('xpath=ancestor::*[.//*[contains(@class,"palette")]][1]')
            .locator('.palette').first().boundingBox();
        assert.ok(palette.x >= shown.x + shown.width - 1 && palette.x + palette.width <= viewport.width, `${name}: the palette beside the image at 4x`);
        await section(name).locator('select.zoom').selectOption('1');
    }
    console.log('sections fold; at 4x the palette and readout stay beside the image');

    // ---- The round trip --------------------------------------------------------------

    // An image dropped on an image takes its place; the page's own zip given
    // back is read as edited images.
    await page.evaluate(async (image) => {
        const dropped = new DataTransfer();
        dropped.items.add(new File([new Uint8Array(image)], 'my drawing.png'));
        const four = [...document.querySelectorAll('section.file')].find((s) => s.dataset.file === 'four.bin');
        four.querySelector('[data-name="four2.bmp"] canvas').dispatchEvent(new DragEvent('drop', { dataTransfer: dropped, bubbles: true, cancelable: true }));
    }, [...pngBytes]);
    await page.locator('#edited-list', { hasText: 'four2.png' }).waitFor();
    assert.match(await section('four.bin').locator('.file-messages').textContent(), /four2\.png takes the place of four2\.bmp/);
    await page.click('#clear-edited');
    await page.setInputFiles('#images-in', path.join(work, 'four.bin.zip'));
    await page.locator('#edited-list', { hasText: '4 edited images: four0.bmp, four1.bmp, four2.bmp, four3.bmp' }).waitFor();
    await page.click('#clear-edited');
    console.log('an image dropped on an image replaces it; the page\'s zip given back gives its images');

    // After packing, each changed image beside the original, its changed pixels counted as torv sees them.
    const edited2 = edit('four2.bmp', (file) => { for (let k = 0; k < 64; k++) file[1078 + 3000 + 5 * k] = (file[1078 + 3000 + 5 * k] + 37) % 256; });
    await packBoth('four.bin', { 'four2.bmp': edited2 });
    const inView = await page.evaluate(() => {
        const box = document.getElementById('report').getBoundingClientRect();
        return box.top < window.innerHeight && box.bottom > 0;
    });
    assert.ok(inView, 'the report of a packing is in view');
    const compared2 = page.locator('#report .compare[data-name="four2.bmp"]');
    await compared2.waitFor();
    const before2 = readBmp(fs.readFileSync(path.join(samples, 'four2.bmp')));
    const after2 = readBmp(edited2);
    let differing = 0;
    for (let k = 0; k < before2.indices.length; k++) {
        if (before2.palette[before2.indices[k]].join() !== after2.palette[after2.indices[k]].join()) differing += 1;
    }
    assert.ok(differing > 0);
    assert.strictEqual(Number(await compared2.getAttribute('data-changed')), differing);
    assert.strictEqual(await page.locator('#report .compare').count(), 1, 'only the changed image is compared');
    console.log(`the packed file reopened: four2.bmp beside the original, ${differing} changed pixels marked`);

    // ---- A whole game folder -------------------------------------------------------

    const game = path.join(work, 'game');
    fs.mkdirSync(path.join(game, 'data'), { recursive: true });
    for (const source of ['four.bin', 'panels.bin']) fs.copyFileSync(path.join(samples, source), path.join(game, 'data', source));
    fs.copyFileSync(path.join(samples, 'intro.bin'), path.join(game, 'intro.bin'));
    fs.writeFileSync(path.join(game, 'readme.txt'), 'not a source');
    fs.writeFileSync(path.join(game, 'data', 'odd.BIN'), Buffer.alloc(1000));
    const projectTool = path.join(linuxBuild, 'torv-project');
    execFileSync(projectTool, ['unpack', game, path.join(work, 'cli-project'), '-q']);
    execFileSync(projectTool, ['unpack', game, path.join(work, 'cli-gif'), '--gif', '-q']);
    const tree = (folder) => {
        const files = {};
        const walk = (at, prefix) => {
            for (const entry of fs.readdirSync(at, { withFileTypes: true })) {
                if (entry.isDirectory()) walk(path.join(at, entry.name), prefix + entry.name + '/');
                else files[prefix + entry.name] = fs.readFileSync(path.join(at, entry.name));
            }
        };
        walk(folder, '');
        return files;
    };
    const sameTree = (a, b, what) => {
        assert.deepStrictEqual(Object.keys(a).sort(), Object.keys(b).sort(), what + ': the files');
        for (const name of Object.keys(a)) assert.ok(a[name].equals(b[name]), `${what}: ${name} differs`);
    };
    const unzipped = (zipFile) => {
        const into = fs.mkdtempSync(path.join(work, 'unzipped-'));
        execFileSync('unzip', ['-q', zipFile, '-d', into]);
        return into;
    };
    // A folder is listed, nothing of it read: its sources with their
    // paths; its project is made when asked, source by source.
    await page.setInputFiles('#open-folder', game);
    const listed = page.locator('section.folder[data-folder="game"]');
    await listed.waitFor();
    assert.deepStrictEqual(await listed.locator('.path').allTextContents(), ['data/four.bin', 'data/panels.bin', 'intro.bin']);
    assert.ok((await page.locator('#message').textContent()).includes('left alone, being the size of no layout: data/odd.BIN'));
    const projectDownload = page.waitForEvent('download');
    await listed.getByRole('button', { name: 'Download the project of game (zip)' }).click();
    const projectZip = path.join(work, 'game-project.zip');
    const gotProject = await projectDownload;
    assert.strictEqual(gotProject.suggestedFilename(), 'game-project.zip');
    await gotProject.saveAs(projectZip);
    sameTree(tree(unzipped(projectZip)), tree(path.join(work, 'cli-project')), 'the project zip against torv-project unpack');
    const unpackSays = execFileSync(projectTool, ['unpack', game, path.join(work, 'cli-said')], { encoding: 'utf8' });
    assert.match(unpackSays, /left alone, being the size of no layout: 1 file \(data\/odd\.BIN\)/);
    // Marked as made on Unix, in zip's own words, so that unzip takes the names as UTF-8.
    assert.match(execFileSync('zipinfo', [projectZip, 'torv-project.json'], { encoding: 'utf8' }), /^-rw-r--r-- +[0-9.]+ unx /);
    console.log('a folder listed with its sources\' paths; its project zip, made when asked, holds what torv-project unpack writes, byte for byte, marked as made on Unix; a .bin file of no layout\'s size left alone and said so, as torv-project says');

    // Two files of one name in two folders are two sections, each under its
    // path; names in any script come back from unzip as they were.
    const twins = path.join(work, 'twins');
    for (const folder of ['données', 'b']) fs.mkdirSync(path.join(twins, folder), { recursive: true });
    fs.copyFileSync(path.join(samples, 'four.bin'), path.join(twins, 'données', 'four.bin'));
    const otherFour = Buffer.from(fs.readFileSync(path.join(samples, 'four.bin')));
    otherFour[0] ^= 1; // another palette entry: another file of one name
    fs.writeFileSync(path.join(twins, 'b', 'four.bin'), otherFour);
    await page.setInputFiles('#open-folder', twins);
    const twinsListed = page.locator('section.folder[data-folder="twins"]');
    for (const name of ['données/four.bin', 'b/four.bin']) {
        await twinsListed.getByRole('button', { name: `Open ${name}` }).click();
        await section(name).locator('[data-name="four0.bmp"]').waitFor();
    }
    assert.strictEqual(await page.locator('section.file h2', { hasText: /four\.bin$/ }).count(), 3, 'four.bin, données/four.bin and b/four.bin');
    const twinsDownload = page.waitForEvent('download');
    await twinsListed.getByRole('button', { name: 'Download the project of twins (zip)' }).click();
    const twinsZip = path.join(work, 'twins-project.zip');
    await (await twinsDownload).saveAs(twinsZip);
    assert.ok(fs.existsSync(path.join(unzipped(twinsZip), 'données', 'four', 'four0.png')), 'unzip gives données/ back under its name');
    for (const name of ['données/four.bin', 'b/four.bin']) {
        await section(name).getByRole('button', { name: `Close ${name}` }).click();
        await page.waitForFunction((file) => !document.querySelector(`section.file[data-file="${file}"]`), name);
    }
    console.log('two four.bin of two folders: two sections, each under its path; données/ comes back from unzip under its name');

    // The animation as GIF, as torv-project unpack --gif writes it.
    const gifDownload = page.waitForEvent('download');
    await section('intro.bin').getByRole('button', { name: 'Download intro.bin\'s animation as GIF' }).click();
    assert.ok((await saved(await gifDownload, 'intro.gif')).equals(fs.readFileSync(path.join(work, 'cli-gif', 'intro', 'intro.gif'))));
    console.log('the player\'s GIF is torv-project unpack --gif\'s');

    // The project edited and zipped again (by Python's zipfile), dropped on
    // the page: it goes to building, which takes the game folder open
    // already; built as torv-project build --patch builds it.
    const edited = path.join(work, 'edited-project');
    fs.cpSync(path.join(work, 'cli-project'), edited, { recursive: true });
    execFileSync('/usr/bin/convert', [path.join(edited, 'intro', 'intro005.png'), '-fill', '#f8f800', '-draw', 'rectangle 30,20,90,60', path.join(edited, 'intro', 'intro005.png')]);
    const zipFolder = (folder, zipFile) => execFileSync('python3', ['-c', 'import os, sys, zipfile\nwith zipfile.ZipFile(sys.argv[2], "w", zipfile.ZIP_DEFLATED) as z:\n    for top, _, names in os.walk(sys.argv[1]):\n        for n in names: z.write(os.path.join(top, n), os.path.relpath(os.path.join(top, n), sys.argv[1]))', folder, zipFile]);
    const editedZip = path.join(work, 'edited-project.zip');
    zipFolder(edited, editedZip);
    const cliBuildSays = execFileSync(projectTool, ['build', edited, game, path.join(work, 'cli-build', 'build'), '--patch', path.join(work, 'cli-build', 'patches')], { encoding: 'utf8' });
    const dropOnPage = (files) => page.evaluate(async (given) => {
        const dropped = new DataTransfer();
        for (const [name, bytes] of given) dropped.items.add(new File([new Uint8Array(bytes)], name));
        document.getElementById('start').dispatchEvent(new DragEvent('drop', { dataTransfer: dropped, bubbles: true, cancelable: true }));
    }, files.map((file) => [path.basename(file), [...fs.readFileSync(file)]]));
    await page.setInputFiles('#open-folder', game); // the folder opened last is the one used
    await dropOnPage([editedZip]);
    await page.locator('#building[open]').waitFor();
    await page.locator('#build-chosen', { hasText: 'project: edited-project.zip · the game: the folder game/ open already' }).waitFor();
    assert.strictEqual(await section('intro.bin').locator('.file-messages').textContent().then((text) => text.includes('edited')), false, 'the project zip became no edited images');
    const buildDownload = page.waitForEvent('download');
    await page.click('#build');
    const builtZip = path.join(work, 'edited-build.zip');
    await (await buildDownload).saveAs(builtZip);
    sameTree(tree(unzipped(builtZip)), tree(path.join(work, 'cli-build')), 'the build against torv-project build --patch');
    const builtLine = cliBuildSays.split('\n').find((line) => line.startsWith('intro.bin: '));
    assert.ok(builtLine && (await page.locator('#message').textContent()).includes(builtLine), 'the page says of the source what torv-project says: ' + builtLine);
    console.log('a project zip dropped on the page goes to building and is built with the folder open: the changed file and its BPS patch as torv-project build --patch makes them, and its line as it says it');

    // Twenty frames missing: their twenty lines fold to three and a count.
    const gappy = path.join(work, 'gappy-project');
    fs.cpSync(edited, gappy, { recursive: true });
    for (let k = 0; k < 20; k++) fs.rmSync(path.join(gappy, 'intro', `intro${String(k).padStart(3, '0')}.png`));
    const gappyZip = path.join(work, 'gappy-project.zip');
    zipFolder(gappy, gappyZip);
    await page.setInputFiles('#project-in', gappyZip);
    await page.click('#build');
    await page.locator('#message p.error', { hasText: '… and 17 more like these (20 in all)' }).waitFor();
    assert.strictEqual(await page.locator('#message p.error', { hasText: 'is missing: intro.bin is an animation of 60 frames' }).count(), 3);
    console.log('twenty frames missing from a project: three lines and "… and 17 more like these (20 in all)"');

    // ---- A player applies a mod ------------------------------------------------------

    await page.locator('#patching summary').click();
    const downloaded = async (action, name) => {
        const download = page.waitForEvent('download');
        await action();
        const got = await download;
        assert.strictEqual(got.suggestedFilename(), name);
        return saved(got, name);
    };
    // A renamed patch, given with the game's file: found by its size and
    // CRC32, downloaded under the game file's name.
    const renamedPatch = path.join(work, 'patch1.bps');
    fs.copyFileSync(path.join(work, 'cli-build', 'patches', 'intro.bin.bps'), renamedPatch);
    await page.setInputFiles('#patch-source', path.join(game, 'intro.bin'));
    const patchedIntro = await downloaded(() => page.setInputFiles('#patch-in', renamedPatch), 'intro.bin');
    assert.ok(patchedIntro.equals(fs.readFileSync(path.join(work, 'cli-build', 'build', 'intro.bin'))));
    assert.ok((await page.locator('#message').textContent()).includes('intro.bin: patched with patch1.bps, found by its size and CRC32'));
    // The game's file of another version: the patch and the file named, nothing downloaded.
    const elsewhere = path.join(work, 'other-version');
    fs.mkdirSync(elsewhere);
    fs.copyFileSync(path.join(samples, 'four.bin'), path.join(elsewhere, 'intro.bin'));
    const downloadsBefore = downloads.length;
    await page.setInputFiles('#patch-source', path.join(elsewhere, 'intro.bin'));
    await page.locator('#message p.error', { hasText: 'patch1.bps: its game file patch1 is not among the game\'s files given (nor any file of ' }).waitFor();
    await page.setInputFiles('#patch-in', path.join(work, 'cli-build', 'patches', 'intro.bin.bps'));
    await page.locator('#message p.error', { hasText: 'intro.bin.bps: intro.bin is another version of the file' }).waitFor();
    assert.strictEqual(downloads.length, downloadsBefore);
    // Patched already: said so.
    await downloaded(() => page.setInputFiles('#patch-source', path.join(work, 'cli-build', 'build', 'intro.bin')), 'intro.bin');
    assert.ok((await page.locator('#message').textContent()).includes('intro.bin: already patched (it is what intro.bin.bps makes), kept as it is'));
    // With no game file chosen here, the game folder open on the page is the game.
    await downloaded(() => page.setInputFiles('#patch-source', []), 'intro.bin');
    console.log('a renamed patch found by size and CRC32 and downloaded under the game file\'s name; a missing file and another version refused naming the patch and the file; a file patched already said so');

    // A mod's zip, as torv-project build --patch-file makes it, applied to
    // the game folder in one step: the patched files as one zip, as
    // torv-project apply writes them.
    const bundle = path.join(work, 'mod.zip');
    execFileSync(projectTool, ['build', edited, game, path.join(work, 'bundle-build'), '--patch-file', bundle, '--title', 'A test mod', '-q']);
    execFileSync(projectTool, ['apply', bundle, game, path.join(work, 'bundle-applied'), '-q']);
    // The patch chosen last is applied as soon as the game folder is there.
    await downloaded(() => page.setInputFiles('#patch-game', game), 'intro.bin');
    const bundleZip = path.join(work, 'mod-patched.zip');
    fs.writeFileSync(bundleZip, await downloaded(() => page.setInputFiles('#patch-in', bundle), 'mod-patched.zip'));
    sameTree(tree(unzipped(bundleZip)), tree(path.join(work, 'bundle-applied')), 'a mod\'s zip applied in the page against torv-project apply');
    console.log('a mod\'s zip applied to the game folder in one step gives what torv-project apply gives, laid out as the game folder');

    // A folder of patches, one renamed, for two files: one zip under the
    // game's names and paths.
    const editedTwice = path.join(work, 'edited-project-2');
    fs.cpSync(edited, editedTwice, { recursive: true });
    execFileSync('/usr/bin/convert', [path.join(editedTwice, 'data', 'four', 'four2.png'), '-fill', '#0000f8', '-draw', 'rectangle 10,10,40,40', path.join(editedTwice, 'data', 'four', 'four2.png')]);
    execFileSync(projectTool, ['build', editedTwice, game, path.join(work, 'cli-build-2', 'build'), '--patch', path.join(work, 'cli-build-2', 'patches'), '-q']);
    const modFolder = path.join(work, 'mod-folder');
    fs.mkdirSync(path.join(modFolder, 'data'), { recursive: true });
    fs.copyFileSync(path.join(work, 'cli-build-2', 'patches', 'data', 'four.bin.bps'), path.join(modFolder, 'data', 'four.bin.bps'));
    fs.copyFileSync(path.join(work, 'cli-build-2', 'patches', 'intro.bin.bps'), path.join(modFolder, 'title screen.bps'));
    const folderZip = path.join(work, 'mod-folder-patched.zip');
    fs.writeFileSync(folderZip, await downloaded(() => page.setInputFiles('#patch-folder', modFolder), 'mod-folder-patched.zip'));
    sameTree(tree(unzipped(folderZip)), tree(path.join(work, 'cli-build-2', 'build')), 'a folder of patches applied in the page against torv-project build');
    console.log('a folder of two patches, one renamed, applied to the game folder: one zip of data/four.bin and intro.bin as torv-project builds them');
    // The same from a script: torv.applyPatches.
    const scripted = await page.evaluate(async ([four, intro, gameFour, gameIntro]) => {
        const made = await torv.applyPatches([{ name: 'data/four.bin.bps', bytes: new Uint8Array(four) }, { name: 'renamed.bps', bytes: new Uint8Array(intro) }],
            [{ path: 'data/four.bin', bytes: new Uint8Array(gameFour) }, { path: 'intro.bin', bytes: new Uint8Array(gameIntro) }]);
        return [...made.bytes];
    }, [path.join(modFolder, 'data', 'four.bin.bps'), path.join(modFolder, 'title screen.bps'), path.join(game, 'data', 'four.bin'), path.join(game, 'intro.bin')].map((file) => [...fs.readFileSync(file)]));
    const scriptedZip = path.join(work, 'scripted-patched.zip');
    fs.writeFileSync(scriptedZip, Buffer.from(scripted));
    sameTree(tree(unzipped(scriptedZip)), tree(path.join(work, 'cli-build-2', 'build')), 'torv.applyPatches against torv-project build');

    // ---- Every input at its size, zips from any tool, cancel, guidance ------------------

    // 2 GB (sparse) given to every input: refused before it is read where it
    // would be read, never read where it is not needed.
    const giant = (name) => {
        const file = path.join(work, 'giant', name);
        fs.mkdirSync(path.dirname(file), { recursive: true });
        fs.closeSync(fs.openSync(file, 'w'));
        fs.truncateSync(file, 2 ** 31);
        return file;
    };
    const tooLargeWords = (name) => `${name} is 2,147,483,648 bytes: files over 64 MB are not read here`;
    const saysError = (words) => page.locator('#message p.error', { hasText: words }).first().waitFor();
    for (const [name, input] of [['cd.bin', '#open'], ['title.png', '#images-in'], ['edits.zip', '#images-in'], ['mod.bps', '#patch-in']]) {
        await page.setInputFiles(input, giant(name));
        await saysError(tooLargeWords(name));
    }
    await page.setInputFiles('#project-in', giant('project.zip'));
    await page.click('#build');
    await saysError(tooLargeWords('project.zip'));
    // A 2 GB game file no patch and no build needs is never read.
    await downloaded(() => page.setInputFiles('#patch-in', path.join(work, 'cli-build', 'patches', 'intro.bin.bps')), 'intro.bin');
    const withGiant = await downloaded(() => page.setInputFiles('#patch-source', [giant('cd.bin'), path.join(game, 'intro.bin')]), 'intro.bin');
    assert.ok(withGiant.equals(fs.readFileSync(path.join(work, 'cli-build', 'build', 'intro.bin'))));
    await downloaded(() => page.setInputFiles('#patch-source', []), 'intro.bin'); // the folder open, again
    const gameWithCd = path.join(work, 'game-with-cd');
    fs.cpSync(game, gameWithCd, { recursive: true });
    fs.renameSync(giant('cd.bin'), path.join(gameWithCd, 'cd.bin'));
    await page.setInputFiles('#project-in', editedZip);
    await page.setInputFiles('#game-in', gameWithCd);
    const cdBuild = path.join(work, 'cd-build.zip');
    fs.writeFileSync(cdBuild, await downloaded(() => page.click('#build'), 'edited-build.zip'));
    sameTree(tree(unzipped(cdBuild)), tree(path.join(work, 'cli-build')), 'a build beside a 2 GB file');
    console.log('2 GB given as a source, an edited image, a zip of them, a patch and a project: refused unread; as a game file no patch or build needs: never read');

    // Zips of other tools as edited images: Info-ZIP's zip64, names with
    // backslashes; Deflate64 named plainly; 100,001 files counted whole.
    const imagesFolder = path.join(work, 'zip-images');
    fs.mkdirSync(imagesFolder);
    for (const name of bmpsOf('four.bin')) fs.copyFileSync(path.join(samples, name), path.join(imagesFolder, name));
    const zip64 = path.join(work, 'zip64-images.zip');
    execFileSync('zip', ['-q', '-fz', zip64, ...bmpsOf('four.bin')], { cwd: imagesFolder });
    const backslashes = path.join(work, 'backslash-images.zip');
    execFileSync('python3', ['-c', 'import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:\n    for n in sys.argv[3:]: z.write(sys.argv[2] + "/" + n, "edited\\\\" + n)', backslashes, imagesFolder, ...bmpsOf('four.bin')]);
    for (const zipFile of [zip64, backslashes]) {
        await page.click('#clear-edited');
        await page.setInputFiles('#images-in', zipFile);
        await page.locator('#edited-list', { hasText: '4 edited images: four0.bmp, four1.bmp, four2.bmp, four3.bmp' }).waitFor();
    }
    await page.click('#clear-edited');
    await page.setInputFiles('#images-in', path.join(__dirname, '..', 'data', 'zips', '7zip-deflate64.zip'));
    await saysError('data/words.txt is packed with Deflate64, which torv does not read: zip it again with Deflate');
    const manyFiles = path.join(work, 'many-files.zip');
    execFileSync('python3', [path.join(__dirname, '..', 'data', 'zips', 'make_many_files.py'), manyFiles]);
    await page.setInputFiles('#images-in', manyFiles);
    await saysError('many-files.zip holds no image, patch or project (100,001 files, none BMP, PNG, .bps or torv-project.json)');
    console.log('edited images in a zip64 zip of Info-ZIP and one of Python with backslashes taken; Deflate64 named with what to do; a zip of 100,001 files read whole');

    // A GIF and a JPEG dropped: named, with what to do.
    const jpeg = path.join(work, 'shot.jpg');
    execFileSync('/usr/bin/convert', [path.join(samples, 'four2.bmp'), jpeg]);
    await dropOnPage([jpeg, path.join(work, 'downloaded-intro.gif')]);
    await saysError('shot.jpg is a JPEG picture, which torv does not read: open it in an image editor and save it as PNG or BMP');
    await saysError('downloaded-intro.gif is a GIF picture, which torv does not read: save it as PNG or BMP');
    console.log('a JPEG and a GIF dropped: each named with what to do');

    // Cancel during a folder's project: nothing downloads, and the page goes on.
    const manySources = path.join(work, 'many-sources');
    fs.mkdirSync(manySources);
    for (let k = 0; k < 16; k++) fs.copyFileSync(path.join(samples, 'intro.bin'), path.join(manySources, `intro${k}.bin`));
    await page.setInputFiles('#open-folder', manySources);
    const beforeCancel = downloads.length;
    await page.locator('section.folder[data-folder="many-sources"]').getByRole('button', { name: 'Download the project of many-sources (zip)' }).click();
    await page.locator('#progress-what', { hasText: 'Making the project of 16 sources' }).waitFor();
    await page.click('#cancel');
    await page.locator('#message p.note', { hasText: 'cancelled' }).first().waitFor();
    await page.waitForTimeout(3000);
    assert.strictEqual(downloads.length, beforeCancel, 'a cancelled project downloaded');
    await page.setInputFiles('#open-folder', game); // the folder the rest uses
    console.log('cancelling a folder\'s project ends it: nothing downloads');

    // Transparency: the failure says to flatten; once packing works, the
    // file's old errors are marked as past.
    const seeThrough = path.join(work, 'see-through', 'panels1.png');
    fs.mkdirSync(path.dirname(seeThrough));
    execFileSync('/usr/bin/convert', [path.join(samples, 'panels1.bmp'), '-alpha', 'set', '-channel', 'A', '-evaluate', 'set', '50%', '+channel', 'PNG32:' + seeThrough]);
    await page.selectOption('#target', { label: 'panels.bin' });
    await page.click('#clear-edited');
    await page.setInputFiles('#images-in', seeThrough);
    await page.click('#pack');
    await saysError('is not fully opaque: flatten the image');
    assert.ok(await section('panels.bin').locator('.file-messages p.error').count() > 0);
    await page.click('#clear-edited');
    await page.setInputFiles('#images-in', path.join(samples, 'panels1.bmp'));
    await downloaded(() => page.click('#pack'), 'panels.bin');
    await page.locator('#message p.done', { hasText: 'panels.bin packed and downloaded: put it in place of the game\'s panels.bin, and keep the original elsewhere' }).waitFor();
    assert.strictEqual(await section('panels.bin').locator('.file-messages p.error').count(), 0, 'old errors are past');
    assert.ok(await section('panels.bin').locator('.file-messages p.past', { hasText: 'before: ' }).count() > 0);
    await page.click('#clear-edited');
    console.log('a transparent image: "flatten the image"; once packed, the old errors marked "before:" and the next step said');

    // Palettes out: the palette shown, as the files torv-project unpack
    // --palettes writes (the .pal and .act byte for byte; the .gpl but for
    // the name it gives).
    execFileSync(projectTool, ['unpack', game, path.join(work, 'cli-palettes'), '--palettes', '-q']);
    for (const format of ['gpl', 'pal', 'act']) {
        const paletteDownload = page.waitForEvent('download');
        await section('four.bin').getByRole('button', { name: `Download the palette of four0.bmp as .${format}` }).click();
        const got = await saved(await paletteDownload, `four0-palette.${format}`);
        const cli = fs.readFileSync(path.join(work, 'cli-palettes', 'data', 'four', `four-palette.${format}`));
        const same = format === 'gpl' ? got.toString().replace('four0-palette', 'four-palette') === cli.toString() : got.equals(cli);
        assert.ok(same, `the page's .${format} is torv-project's`);
    }
    console.log('a palette downloaded from its grid as .gpl, .pal and .act: what torv-project unpack --palettes writes');

    // ---- The player, over time --------------------------------------------------------

    const intro2 = section('intro.bin');
    for (const [given, shown] of [['0', '1'], ['500', '60']]) {
        await intro2.locator('input[type=number]').fill(given);
        await intro2.locator('input[type=number]').dispatchEvent('change');
        assert.strictEqual(await intro2.locator('input[type=number]').inputValue(), shown);
        assert.match(await intro2.locator('.fps-note').textContent(), new RegExp(`^clamped to ${shown} `));
    }
    await intro2.locator('.thumb').nth(7).click();
    await page.keyboard.press('ArrowRight');
    await intro2.locator('.frame-name').filter({ hasText: 'frame 9 of 60' }).waitFor();
    await page.keyboard.press('Tab');
    assert.strictEqual(await page.evaluate(() => document.activeElement.classList.contains('thumb')), false, 'Tab goes past the thumbnails in one step');
    console.log('fps of 0 and 500 clamped and shown so; arrow keys step after a thumbnail is clicked; one Tab past the thumbnails');

    // The palette read from the keyboard; buttons named with their file.
    const palette2 = section('four.bin').locator('[data-name="four2.bmp"] .palette');
    await palette2.focus();
    await page.keyboard.press('ArrowRight');
    await page.keyboard.press('ArrowRight');
    const entry2 = before2.palette[2];
    assert.strictEqual(await section('four.bin').locator('[data-name="four2.bmp"] .pixel-info').textContent(),
        `entry 2: #${entry2.map((c) => c.toString(16).padStart(2, '0')).join('')} (${entry2.join(', ')})`);
    assert.strictEqual(await page.getByRole('button', { name: 'Download four2.bmp as PNG', exact: true }).count(), 1);
    console.log('the palette read with the arrow keys; buttons carry their file\'s name');

    // Closing gives back what opening took: elements and listeners.
    const cdp = await page.context().newCDPSession(page);
    // The counts once the page is still: no work under way, and the same
    // counts twice over a frame (thumbnails and messages still arriving
    // would make them move).
    const counts = async () => {
        await page.waitForFunction(() => document.getElementById('progress').hidden);
        let last = null;
        for (let tries = 0; tries < 200; tries++) {
            await cdp.send('HeapProfiler.collectGarbage');
            const now = await cdp.send('Memory.getDOMCounters');
            if (last && now.nodes === last.nodes && now.jsEventListeners === last.jsEventListeners) return now;
            last = now;
            await page.evaluate(() => new Promise((done) => requestAnimationFrame(() => setTimeout(done, 0))));
        }
        return last;
    };
    const loop = path.join(work, 'loop.bin');
    fs.copyFileSync(path.join(samples, 'intro.bin'), loop);
    await page.evaluate(() => document.getElementById('message').replaceChildren());
    const beforeOpen = await counts();
    for (let k = 0; k < 8; k++) {
        await page.setInputFiles('#open', loop);
        await section('loop.bin').locator('.player[data-image="loop000.bmp"]').waitFor();
        await section('loop.bin').getByRole('button', { name: 'Close loop.bin' }).click();
        await page.waitForFunction(() => !document.querySelector('section.file[data-file="loop.bin"]'));
    }
    await page.evaluate(() => document.getElementById('message').replaceChildren());
    const afterClose = await counts();
    for (const what of ['nodes', 'jsEventListeners']) {
        assert.ok(Math.abs(afterClose[what] - beforeOpen[what]) <= 0.05 * beforeOpen[what],
            `${what}: ${beforeOpen[what]} before, ${afterClose[what]} after 8 opens and closes`);
    }
    console.log(`8 opens and closes: ${beforeOpen.nodes} -> ${afterClose.nodes} elements, ${beforeOpen.jsEventListeners} -> ${afterClose.jsEventListeners} listeners`);

    // ---- Accessibility, light and dark, and a narrow window -------------------------------

    const axeFile = require.resolve('axe-core/axe.min.js');
    const violationsOf = async (inPage) => {
        await inPage.addScriptTag({ path: axeFile });
        return inPage.evaluate(async () => (await window.axe.run(document, { resultTypes: ['violations'] })).violations
            .map((violation) => `${violation.id}: ${violation.nodes.slice(0, 3).map((node) => node.target.join(' ')).join(', ')}`));
    };
    assert.deepStrictEqual(await violationsOf(page), [], 'axe-core, light');
    // While playing, the button reads and is named "Pause".
    await section('intro.bin').getByRole('button', { name: 'Play intro.bin' }).click();
    await section('intro.bin').getByRole('button', { name: 'Pause intro.bin' }).waitFor();
    assert.deepStrictEqual(await violationsOf(page), [], 'axe-core, light, playing');
    await section('intro.bin').getByRole('button', { name: 'Pause intro.bin' }).click();
    const narrow = await launch(pageFile, { viewport: { width: 400, height: 800 }, colorScheme: 'dark' });
    await narrow.page.setInputFiles('#open', ['four.bin', 'intro.bin'].map((name) => path.join(samples, name)));
    await narrow.page.locator('.thumb').first().waitFor();
    await narrow.page.locator('section.file[data-file="four.bin"] select.zoom').selectOption('4');
    // An error and a note on screen, for their contrast in dark mode.
    await narrow.page.setInputFiles('#open', [odd, path.join(samples, 'four.bin')]);
    await narrow.page.locator('#message p.note').waitFor();
    await narrow.page.locator('#message p.error').waitFor();
    const widths = await narrow.page.evaluate(() => [document.documentElement.scrollWidth, window.innerWidth]);
    assert.ok(widths[0] <= widths[1], `at 400 px nothing overflows sideways: ${widths.join(' > ')}`);
    assert.deepStrictEqual(await violationsOf(narrow.page), [], 'axe-core, dark');
    await narrow.browser.close();
    console.log('axe-core: no violation, light or dark; at 400 px (zoom 4) the page is no wider than the window');

    assert.deepStrictEqual(offline(), [], 'the page asked the network for something');
    await browser.close();
    fs.rmSync(work, { recursive: true });
    console.log(`page test passed: ${compared} images compared with torv's, nothing asked of the network`);
})().catch((error) => {
    console.error('page test failed:', error);
    process.exit(1);
});
