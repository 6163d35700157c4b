// Opens the page from disk in Debian's chromium, headless, through
// playwright-core (npm install --prefix tests/web): every request that is
// not for the page itself, a blob or data is refused and kept, so that a
// test can show that the page asks the network for nothing.
'use strict';
const path = require('path');
const { chromium } = require('playwright-core');

// Without the background-networking flags chromium keeps trying to reach
// its own services, which a closed network refuses.
const quiet = ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
    '--disable-sync', '--no-first-run', '--disable-quic'];

async function launch(pageFile, { viewport = { width: 1280, height: 900 }, colorScheme = 'light' } = {}) {
    const browser = await chromium.launch({ executablePath: process.env.CHROMIUM || '/usr/bin/chromium', args: quiet });
    const context = await browser.newContext({ acceptDownloads: true, viewport, colorScheme });
    const asked = [];
    await context.route('**/*', (route) => {
        const url = route.request().url();
        if (/^(file|blob|data):/.test(url)) return route.continue();
        asked.push(url);
        return route.abort();
    });
    const page = await context.newPage();
    const downloads = [];
    page.on('download', (download) => downloads.push(download));
    page.on('pageerror', (error) => { throw new Error('the page failed: ' + error.message); });
    await page.goto('file://' + path.resolve(pageFile));
    return { browser, page, downloads, offline: () => asked };
}

module.exports = { launch };
