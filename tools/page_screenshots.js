// Screenshots of the page for docs/: the four-image sample and the frame
// sequence open, at 1366 and 400 pixels wide, and at 1366 in dark mode; and
// a player applying a mod's zip to the samples' folder.
//   usage: node tools/page_screenshots.js build-web/torv.html build docs page
//   (writes docs/page-1366.png, docs/page-400.png, docs/page-dark.png,
//   docs/page-mod-1366.png, docs/page-mod-400.png)
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFileSync } = require('child_process');
const { launch } = require('../tests/web/browser');

const [pageFile, linuxBuild, out, prefix = 'page'] = process.argv.slice(2);
const samples = fs.mkdtempSync(path.join(os.tmpdir(), 'torv-shots-'));
execFileSync(path.join(path.resolve(linuxBuild), 'make_samples'), [samples]);

// A player applying a mod made with torv-project (one panel of four.bin
// repainted, built with --patch-file): the game folder chosen, then the
// mod's zip, applied at once; at 1366 and at 400 px wide, the whole page.
async function modShots() {
    const tool = path.join(path.resolve(linuxBuild), 'torv-project');
    const game = path.join(samples, 'game');
    fs.mkdirSync(game);
    for (const source of ['four.bin', 'intro.bin']) fs.copyFileSync(path.join(samples, source), path.join(game, source));
    const project = path.join(samples, 'project');
    execFileSync(tool, ['unpack', game, project, '-q']);
    const image = path.join(project, 'four', 'four2.png');
    execFileSync('convert', [image, '-region', '120x60+100+80', '-negate', image]);
    const bundle = path.join(samples, 'brighter-four.zip');
    execFileSync(tool, ['build', project, game, path.join(samples, 'out'), '--nearest', '--patch-file', bundle,
        '--title', 'Brighter four', '--author', 'A modder', '-q']);
    for (const width of [1366, 400]) {
        const { browser, page } = await launch(pageFile, { viewport: { width, height: 800 } });
        await page.locator('#patching summary').click();
        await page.setInputFiles('#patch-game', game);
        const download = page.waitForEvent('download');
        await page.setInputFiles('#patch-in', bundle);
        await download;
        await page.waitForTimeout(300);
        const file = path.join(out, `${prefix}-mod-${width}.png`);
        await page.screenshot({ path: file, fullPage: true });
        console.log(file);
        await browser.close();
    }
}

(async () => {
    const shots = [['1366', 1366, 'light'], ['400', 400, 'light'], ['dark', 1366, 'dark']];
    for (const [name, width, colorScheme] of shots) {
        const { browser, page } = await launch(pageFile, { viewport: { width, height: 900 }, colorScheme });
        await page.setInputFiles('#open', ['four.bin', 'intro.bin'].map((source) => path.join(samples, source)));
        await page.waitForFunction(() => document.querySelectorAll('section.file canvas').length >= 5);
        await page.waitForTimeout(500);
        await page.evaluate(() => window.scrollTo(0, 0));
        const file = path.join(out, `${prefix}-${name}.png`);
        await page.screenshot({ path: file });
        console.log(file);
        await browser.close();
    }
    await modShots();
    fs.rmSync(samples, { recursive: true });
})().catch((error) => {
    console.error(error);
    process.exit(1);
});
