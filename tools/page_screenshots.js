// Screenshots of the page for docs/: the four-image sample and the frame
// sequence open, at 1366 and 400 pixels wide, and at 1366 in dark mode.
//   usage: node tools/page_screenshots.js build-web/torv.html build docs page
//   (writes docs/page-1366.png, docs/page-400.png, docs/page-dark.png)
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFileSync } = require('child_process');
const { launch } = require('../tests/web/browser');

const [pageFile, linuxBuild, out, prefix = 'page'] = process.argv.slice(2);
const samples = fs.mkdtempSync(path.join(os.tmpdir(), 'torv-shots-'));
execFileSync(path.join(path.resolve(linuxBuild), 'make_samples'), [samples]);

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
    fs.rmSync(samples, { recursive: true });
})().catch((error) => {
    console.error(error);
    process.exit(1);
});
