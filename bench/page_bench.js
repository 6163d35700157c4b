// The page against the native programs on the dense full-size frame
// sequence (926 frames), in headless chromium on this machine:
//   opening: the first frame on screen, and every frame decoded (the file's
//            walk done), against build/torv converting the same file;
//   packing: the 926 frames without an original, on every core in the
//            page, against build/torv-pack -j 1 and on every core; and
//            what the browser alone takes to read the 926 files chosen (a
//            first look at each, then its bytes), which packing must do;
//   a game folder (make_samples' five samples) made into a project zip,
//            against build/torv-project unpack of the same folder (whole
//            game folders: bench/page_folder_bench.js).
// Each figure is the best of a few runs. With --screenshot FILE it also
// takes the picture of the page with the frame sequence open that the
// README shows.
//   usage: node bench/page_bench.js build-web/torv.html build [--screenshot docs/page.png]
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFileSync } = require('child_process');
const { launch } = require('../tests/web/browser');

const [pageFile, linuxBuild] = process.argv.slice(2, 4).map((arg) => path.resolve(arg));
const screenshotAt = process.argv.indexOf('--screenshot');
const screenshot = screenshotAt > 0 ? path.resolve(process.argv[screenshotAt + 1]) : null;
const runs = 3;

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'torv-page-bench-'));
const dense = path.join(work, 'dense.bin');
execFileSync(path.join(linuxBuild, 'make_samples'), ['--dense', dense]);
const game = path.join(work, 'game');
fs.mkdirSync(game);
execFileSync(path.join(linuxBuild, 'make_samples'), [game]);

function bestNative(args, before = () => {}) {
    let best = Infinity;
    for (let k = 0; k < runs; k++) {
        before();
        const started = process.hrtime.bigint();
        execFileSync(args[0], args.slice(1), { cwd: work });
        best = Math.min(best, Number(process.hrtime.bigint() - started) / 1e6);
    }
    return best;
}

const seconds = (ms) => (ms / 1000).toFixed(3) + ' s';

(async () => {
    // Into an empty folder each time: over its own files torv finds them
    // holding their bytes already and writes nothing.
    const removeFrames = () => {
        for (const name of fs.readdirSync(work)) if (/^dense\d+\.bmp$/.test(name)) fs.rmSync(path.join(work, name));
    };
    const torvMs = bestNative([path.join(linuxBuild, 'torv'), 'dense.bin', ''], removeFrames);
    const frames = fs.readdirSync(work).filter((name) => /^dense\d+\.bmp$/.test(name)).sort();
    const packMs = bestNative([path.join(linuxBuild, 'torv-pack'), '-j', '1', '--no-like', '-q', '-f', '-o', 'packed.bin', 'dense.bin', '']);
    const packAllMs = bestNative([path.join(linuxBuild, 'torv-pack'), '--no-like', '-q', '-f', '-o', 'packed.bin', 'dense.bin', '']);
    const unpackProject = (jobs) => {
        let best = Infinity;
        for (let k = 0; k < runs; k++) {
            fs.rmSync(path.join(work, 'project'), { recursive: true, force: true });
            const started = process.hrtime.bigint();
            execFileSync(path.join(linuxBuild, 'torv-project'), ['unpack', game, path.join(work, 'project'), '-q', ...jobs]);
            best = Math.min(best, Number(process.hrtime.bigint() - started) / 1e6);
        }
        return best;
    };
    const projectOneMs = unpackProject(['-j', '1']);
    const projectMs = unpackProject([]);

    let first = Infinity;
    let all = Infinity;
    let packed = Infinity;
    let projected = Infinity;
    let reading = Infinity;
    for (let k = 0; k < runs; k++) {
        const { browser, page, downloads } = await launch(pageFile, { viewport: { width: 1280, height: 1000 } });
        await page.setInputFiles('#open', dense);
        await page.waitForSelector('section[data-layout="frame_sequence"] .thumb');
        const marks = await page.evaluate(() => Object.fromEntries(performance.getEntriesByType('mark').map((mark) => [mark.name.split(':')[0], mark.startTime])));
        first = Math.min(first, marks['first-image'] - marks.open);
        all = Math.min(all, marks.opened - marks.open);
        if (k === 0 && screenshot) {
            await page.locator('section.file .thumb').nth(40).click();
            await page.evaluate(() => window.scrollTo(0, 0));
            const view = page.locator('.player canvas');
            const box = await view.boundingBox();
            await page.mouse.move(box.x + box.width * 0.3, box.y + box.height * 0.6);
            await page.waitForTimeout(1000);
            await page.screenshot({ path: screenshot });
        }

        await page.selectOption('#target', { label: 'no original (layout below)' });
        await page.selectOption('#layout', 'frame_sequence');
        await page.setInputFiles('#images-in', frames.map((name) => path.join(work, name)));
        await page.click('#pack');
        await page.waitForFunction(() => document.querySelector('#message .done, #message .error'), null, { timeout: 300000 });
        const message = await page.locator('#message').textContent();
        if (!message.includes('packed')) throw new Error('packing failed: ' + message);
        while (downloads.length === 0) await page.waitForTimeout(20);
        const packedFile = path.join(work, 'page-packed.bin');
        await downloads[0].saveAs(packedFile);
        if (!fs.readFileSync(packedFile).equals(fs.readFileSync(path.join(work, 'packed.bin')))) {
            throw new Error('the page packed other bytes than torv-pack');
        }
        const packMarks = await page.evaluate(() => Object.fromEntries(performance.getEntriesByType('mark').map((mark) => [mark.name, mark.startTime])));
        packed = Math.min(packed, packMarks['pack:done'] - packMarks['pack:start']);

        // The same files chosen again, read and nothing else: the browser's
        // share of packing.
        await page.evaluate(() => document.body.append(Object.assign(document.createElement('input'), { type: 'file', multiple: true, id: 'bench-files', hidden: true })));
        await page.setInputFiles('#bench-files', frames.map((name) => path.join(work, name)));
        reading = Math.min(reading, await page.evaluate(async () => {
            const chosen = [...document.getElementById('bench-files').files];
            const started = performance.now();
            for (const file of chosen) if (file.size < 0) throw new Error('no size');
            await Promise.all(chosen.map((file) => file.arrayBuffer()));
            return performance.now() - started;
        }));

        const projectDownload = page.waitForEvent('download', { timeout: 300000 });
        await page.setInputFiles('#open-folder', game);
        await page.locator('section.folder button.project').click(); // the folder is listed; its project made when asked
        await projectDownload;
        const projectMarks = await page.evaluate(() => Object.fromEntries(performance.getEntriesByType('mark').map((mark) => [mark.name, mark.startTime])));
        projected = Math.min(projected, projectMarks['project:done'] - projectMarks['project:start']);
        await browser.close();
    }
    fs.rmSync(work, { recursive: true });

    console.log(`dense frame sequence, 926 frames (best of ${runs})`);
    console.log(`  page: first frame shown       ${seconds(first)}   (goal: under 0.5 s)`);
    console.log(`  page: every frame decoded     ${seconds(all)}   (goal: under 2 s)`);
    console.log(`  native torv, whole conversion ${seconds(torvMs)}   page / native: ${(all / torvMs).toFixed(2)} (goal: at most 2)`);
    console.log(`  page: packing without original ${seconds(packed)}   (every core: ${os.cpus().length})`);
    console.log(`  page: reading the files alone ${seconds(reading)}   (part of packing; page / native every core: ${(reading / packAllMs).toFixed(2)})`);
    console.log(`  native torv-pack -j 1         ${seconds(packMs)}   page / native: ${(packed / packMs).toFixed(2)}`);
    console.log(`  native torv-pack, every core  ${seconds(packAllMs)}   page / native: ${(packed / packAllMs).toFixed(2)} (goal: at most 1.5)`);
    console.log('the five samples as a project');
    console.log(`  page: the project zip         ${seconds(projected)}`);
    console.log(`  native torv-project unpack -j 1 ${seconds(projectOneMs)}   page / native: ${(projected / projectOneMs).toFixed(2)}`);
    console.log(`  native torv-project unpack    ${seconds(projectMs)}   page / native: ${(projected / projectMs).toFixed(2)} (goal: at most 2)`);
})().catch((error) => {
    console.error('page benchmark failed:', error);
    process.exit(1);
});
