// The page as a whole: window.torv (the script interface) and the controls,
// wired to the session (session.js) and the views (views.js). Everything the
// formats need happens in the WebAssembly module inside the worker.
/* global client, limits, palettes, player, session, views */
'use strict';

// ---- The script interface ----------------------------------------------------

const toBytes = (bytes) => (bytes instanceof Uint8Array ? bytes : new Uint8Array(bytes));

window.torv = {
    // {layout, images: [{name, width, height, bmp(), png(), pixels()}]};
    // layout null for a file of no known size.
    async open(name, bytes) {
        const held = await session.open(String(name), toBytes(bytes));
        return { layout: held.layout, images: held.images, close: () => session.close(held) };
    },
    // {bytes, report, notes, rooms, kept, name}; rejects with torv-pack's
    // message, and the failure's code and facts as fields. options: {layout,
    // nearest, fit, jobs (workers: one a core unless said)}.
    async pack(original, images, options = {}) {
        let held = null;
        if (original) held = await session.open(String(original.name), toBytes(original.bytes));
        try {
            const files = images.map((image) => ({ name: String(image.name), file: new Blob([toBytes(image.bytes)]) }));
            const { layout, nearest, fit, jobs } = options || {};
            return await session.pack(held, files, { layout, nearest, fit, jobs: jobs == null ? undefined : Number(jobs) });
        } finally {
            if (held) await session.close(held);
        }
    },
    // A game folder's files ([{path, bytes}]) as torv-project unpack's
    // project in one zip: {bytes, sources, images, other}.
    project: (files, options = {}) => session.project(files.map((file) => ({ path: String(file.path), bytes: toBytes(file.bytes).slice() })), options || {}),
    // A project's zip, edited, built with the game's files ([{path, bytes}]):
    // {bytes (a zip of build/... and patches/...bps, or null), report}.
    build: (project, originals, options = {}) => session.build(toBytes(project).slice(),
        originals.map((file) => ({ path: String(file.path), bytes: toBytes(file.bytes).slice() })), options || {}),
    // The file a BPS patch makes of the game's file.
    applyPatch: (patch, source) => session.applyPatch(toBytes(patch).slice(), toBytes(source).slice()),
    // A mod's zip of patches applied to the game's files ([{path, bytes}]),
    // every CRC32 checked first: {bytes (a zip of the patched files), report}.
    applyBundle: (bundle, files) => session.applyBundle(toBytes(bundle).slice(),
        files.map((file) => ({ path: String(file.path), bytes: toBytes(file.bytes).slice() }))),
    // A palette shown (256 colours, 3 bytes each) as 'gpl', 'pal' or 'act'.
    paletteFile: (colours, format, name = 'palette') => session.paletteFile(toBytes(colours), String(format), String(name)),
    // Ends whatever long work is under way.
    cancel() {
        client.restart('cancelled');
    },
};

// ---- Opening files --------------------------------------------------------------

const { element } = views;

const sameBytes = (a, b) => a.length === b.length && a.every((byte, k) => byte === b[k]);

async function closeEntry(entry) {
    const { held, section } = entry;
    if (held.forget) held.forget();
    section.remove();
    session.remove(held);
    views.showTargets();
    await session.close(held);
}

async function openInPage(file) {
    const refused = await session.refusal(file.name, file.size);
    if (refused) {
        views.message(refused, 'error', file.name);
        return null;
    }
    // Marks for measuring what a person waits for (see bench/page_bench.js).
    performance.mark('open:' + file.name);
    const bytes = new Uint8Array(await file.arrayBuffer());
    const already = session.named(file.name);
    let replaced = false;
    if (already) {
        if (sameBytes(already.held.bytes, bytes)) {
            views.message(`${file.name} is open already`, 'note', file.name);
            already.section.scrollIntoView({ block: 'start' });
            return already.held;
        }
        await closeEntry(already);
        replaced = true;
    }
    const section = views.fileSection(file.name);
    const body = section.querySelector('.body');
    const area = element('div', { class: 'images' });
    let first = null;
    let held;
    try {
        held = await session.open(file.name, bytes, {
            onFirst: (pixels) => {
                first = pixels;
                // The first image at once, before the rest is decoded.
                const early = element('canvas', { class: 'early' });
                views.draw(early, pixels);
                area.replaceChildren(element('div', { class: 'view' }, early));
                body.append(area);
                performance.mark('first-image:' + file.name);
            },
        });
    } catch (error) {
        section.remove();
        const cancelled = error.code === 'cancelled';
        views.message(cancelled ? `Opening ${file.name} was cancelled` : error.message, cancelled ? 'note' : 'error', file.name);
        return null;
    }
    performance.mark('opened:' + file.name);
    section.dataset.layout = held.layout;
    section.querySelector('.what').textContent = views.describeFile(held);
    const zoom = element('select', { class: 'zoom', 'aria-label': `zoom of ${file.name}` }, ...[1, 2, 3, 4].map((z) => element('option', { value: z, text: z + '×' })));
    zoom.addEventListener('change', () => section.style.setProperty('--zoom', zoom.value));
    const base = file.name.replace(/\..*$/, '');
    const zipOf = (kind) => views.guarded(async () => {
        views.save(`${base}-${kind}.zip`, await session.zip(held, kind, `Making ${base}-${kind}.zip`), 'application/zip');
    }, file.name);
    body.prepend(element('div', { class: 'actions' },
        element('label', {}, 'Zoom ', zoom),
        element('button', { type: 'button', text: 'All as BMP (zip)', 'aria-label': `All as BMP (zip): ${file.name}`, onclick: zipOf('bmp') }),
        element('button', { type: 'button', text: 'All as PNG (zip)', 'aria-label': `All as PNG (zip): ${file.name}`, onclick: zipOf('png') }),
        element('button', { type: 'button', text: 'Close', 'aria-label': `Close ${file.name}`, onclick: views.guarded(() => closeEntry(session.entryOf(held)), file.name) })));
    area.replaceChildren();
    body.append(area);
    if (held.layout === 'frame_sequence') player.showFrames(held, area, first);
    else palettes.showStill(held, area, first);
    session.add({ held, section });
    session.chooseTarget(held);
    views.showTargets();
    if (replaced) views.message(`${file.name} opened again: it takes the place of the one that was open`, 'note', file.name);
    section.addEventListener('click', () => {
        // Not once closed (the click on "Close" comes here after closing).
        if (session.target() !== held && session.entryOf(held)) {
            session.chooseTarget(held);
            views.showTargets();
        }
    });
    return held;
}

// ---- Zips given back --------------------------------------------------------------

// The BMP and PNG files of a zip (the page's own, or another), as Files
// named without their folders.
async function imagesOfZip(file) {
    const files = await session.zipFiles(new Uint8Array(await file.arrayBuffer()));
    return files.filter((entry) => /\.(bmp|png)$/i.test(entry.name))
        .map((entry) => new File([entry.bytes], entry.name.split('/').pop()));
}

// ---- Putting edited images back -------------------------------------------------

async function compareWithOriginal(held, result) {
    const kept = new Set(result.kept);
    const packed = await session.open(result.name, result.bytes);
    try {
        const changes = [];
        const changedShown = 8; // the first of them; a frame sequence may have hundreds
        for (let k = 0; k < packed.images.length && changes.length < changedShown; k++) {
            const name = packed.images[k].name;
            if (kept.has(name) || k >= held.images.length) continue;
            changes.push({ name, before: await session.pixelsOf(held, k), after: await session.pixelsOf(packed, k) });
        }
        views.showComparison(changes);
    } finally {
        await session.close(packed);
    }
}

async function packInPage() {
    const edited = session.edited();
    const held = session.target();
    if (edited.length === 0 && !held) {
        views.message('choose the edited images first (BMP or PNG, named as they were downloaded)');
        return;
    }
    document.getElementById('report').replaceChildren();
    performance.mark('pack:start');
    let result;
    try {
        result = await session.pack(held, edited.map((file) => ({ name: file.name, file })), {
            nearest: document.getElementById('nearest').checked,
            fit: document.getElementById('fit').checked,
            layout: held ? '' : document.getElementById('layout').value,
        });
    } catch (error) {
        views.message(error.message, error.code === 'cancelled' ? 'note' : 'error', held ? held.name : '');
        const report = document.getElementById('report');
        report.replaceChildren(element('p', { class: 'error', text: error.message }));
        report.scrollIntoView({ block: 'nearest' });
        return;
    }
    performance.mark('pack:done');
    const name = held ? held.name : result.name;
    views.save(name, result.bytes, 'application/octet-stream');
    views.message(`${name} packed and downloaded`, 'done', held ? held.name : '');
    views.showReport(result, held);
    if (held) await compareWithOriginal(held, result);
}

// ---- Folders -------------------------------------------------------------------------

// Every file below a dropped folder, with its path within it.
async function filesOfEntry(entry, path = '') {
    if (entry.isFile) {
        const file = await new Promise((resolve, reject) => entry.file(resolve, reject));
        return [{ path: path + entry.name, file }];
    }
    const reader = entry.createReader();
    const found = [];
    for (;;) {
        const batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
        if (batch.length === 0) break;
        for (const child of batch) found.push(...await filesOfEntry(child, path + entry.name + '/'));
    }
    return found;
}

// A game folder's files ([{path, file}], the folder's own name first in
// each path): every source opened, and the project downloaded as one zip.
async function openFolder(files) {
    const top = files.length ? files[0].path.split('/')[0] : 'game';
    const within = files.map(({ path, file }) => ({ path: path.split('/').slice(1).join('/'), file }));
    const kinds = await session.sourcesOf(within.map(({ path, file }) => ({ path, size: file.size })));
    const isSource = new Set(kinds.sources);
    const sources = within.filter(({ path }) => isSource.has(path));
    if (kinds.other.length) {
        views.message(`left alone, being the size of no layout: ${kinds.other.join(', ')}`, 'note', top);
    }
    if (sources.length === 0) {
        views.message(`${top} holds no file torv knows (a .bin file of one of the layouts' sizes)`, 'error', top);
        return;
    }
    for (const { path, file } of sources) await openInPage(new File([file], path.split('/').pop()));
    const given = await Promise.all(sources.map(async ({ path, file }) => ({ path, bytes: new Uint8Array(await file.arrayBuffer()) })));
    performance.mark('project:start');
    const made = await session.project(given);
    performance.mark('project:done');
    views.save(`${top}-project.zip`, made.bytes, 'application/zip');
    views.message(`${made.sources} ${made.sources === 1 ? 'source' : 'sources'}, ${made.images} images: the project downloaded as ${top}-project.zip`, 'done', top);
}

// ---- Controls -----------------------------------------------------------------------

const isImageFile = (file) => /\.(bmp|png)$/i.test(file.name);
const isZip = (file) => /\.zip$/i.test(file.name);

// Adds the edited images that may be read; gives those.
function addEdited(files) {
    // Each is looked at once, when chosen: one over the limit is refused
    // before anything of it is read, and packing finds the sizes known.
    const taken = files.filter((file) => {
        if (file.size <= limits.maxFileBytes) return true;
        views.message(limits.tooLarge(file.name, file.size), 'error', file.name);
        return false;
    });
    session.addEdited(taken);
    views.showEdited();
    // The workers that help with packing start now, not when "Pack" is
    // pressed.
    client.workers(limits.packingWorkers());
    return taken;
}

// Files chosen or dropped: sources open, images (and the images of zips)
// become edited images, for the file whose section they fell on; one image
// dropped on an image takes that image's place, whatever its name.
async function take(files, into, onImage) {
    const sources = files.filter((file) => !isImageFile(file) && !isZip(file));
    for (const file of sources) await openInPage(file);
    const images = files.filter(isImageFile);
    for (const zip of files.filter(isZip)) images.push(...await imagesOfZip(zip));
    if (images.length === 0) return;
    if (onImage && images.length === 1) {
        const kind = images[0].name.match(/\.(bmp|png)$/i)[1].toLowerCase();
        images[0] = new File([images[0]], onImage.replace(/\.[^.]*$/, '.' + kind));
    }
    if (into) {
        session.chooseTarget(into);
        views.showTargets();
    }
    const taken = addEdited(images);
    if (taken.length === 0) return;
    const names = taken.map((image) => image.name).join(', ');
    const took = onImage ? `${names} takes the place of ${onImage}` : `took ${names} as edited ${taken.length === 1 ? 'image' : 'images'}`;
    views.message(into ? took + ' (press Pack to put it back)' : took, 'note', into ? into.name : '');
}

// A mod's zip of patches applied to the game folder's files: only the files
// its patches are for are read, each checked against its patch's CRC32
// before any is applied; the patched files download as one zip laid out as
// the game folder.
async function applyBundleInPage(bundle, gameFiles) {
    if (gameFiles.length === 0) throw new Error('choose the game\'s folder the patches are for');
    const bytes = new Uint8Array(await bundle.arrayBuffer());
    const { targets } = await session.bundlePatches(bytes);
    const pathOf = (file) => (file.webkitRelativePath || file.name).split('/').slice(1).join('/') || file.name;
    const wanted = new Set(targets.map((target) => target.toLowerCase()));
    const files = await Promise.all(gameFiles.filter((file) => wanted.has(pathOf(file).toLowerCase()))
        .map(async (file) => ({ path: pathOf(file), bytes: new Uint8Array(await file.arrayBuffer()) })));
    let applied;
    try {
        applied = await session.applyBundle(bytes, files);
    } catch (error) {
        for (const line of error.message.split('\n').reverse()) views.message(line, 'error', bundle.name);
        return;
    }
    for (const line of applied.report) views.message(line, 'note', bundle.name);
    const name = bundle.name.replace(/\.zip$/i, '') + '-patched.zip';
    views.save(name, applied.bytes, 'application/zip');
    views.message(`the patched files downloaded as ${name}: copy them over the game's files of the same paths (keep the originals elsewhere)`, 'done', bundle.name);
}

function setUp() {
    client.showJobsWith(views.progress);
    client.start();
    const open = document.getElementById('open');
    open.addEventListener('change', views.guarded(async () => {
        const files = [...open.files];
        open.value = '';
        await take(files, null);
    }));
    const folder = document.getElementById('open-folder');
    folder.addEventListener('change', views.guarded(async () => {
        const files = [...folder.files].map((file) => ({ path: file.webkitRelativePath || file.name, file }));
        folder.value = '';
        await openFolder(files);
    }));
    const imagesIn = document.getElementById('images-in');
    imagesIn.addEventListener('change', views.guarded(async () => {
        const files = [...imagesIn.files];
        imagesIn.value = '';
        await take(files.filter((file) => isImageFile(file) || isZip(file)), null);
    }));
    document.getElementById('clear-edited').addEventListener('click', () => {
        session.forgetEdited();
        views.showEdited();
    });
    document.getElementById('clear-messages').addEventListener('click', () => {
        document.getElementById('message').replaceChildren();
        document.getElementById('messages').hidden = true;
    });
    document.getElementById('target').addEventListener('change', (event) => {
        const k = event.target.value;
        session.chooseTarget(k === '' ? null : session.opened[Number(k)].held);
        views.showTargets();
    });
    document.getElementById('pack').addEventListener('click', views.guarded(packInPage));
    document.getElementById('apply-patch').addEventListener('click', views.guarded(async () => {
        const patch = document.getElementById('patch-in').files[0];
        if (patch && isZip(patch)) {
            await applyBundleInPage(patch, [...document.getElementById('patch-game').files]);
            return;
        }
        const source = document.getElementById('patch-source').files[0];
        if (!patch || !source) throw new Error('choose the patch and the game\'s file it is for');
        const made = await session.applyPatch(new Uint8Array(await patch.arrayBuffer()), new Uint8Array(await source.arrayBuffer()));
        const name = /\.bps$/i.test(patch.name) ? patch.name.slice(0, -4) : source.name;
        views.save(name, made, 'application/octet-stream');
        views.message(`${patch.name} applied to ${source.name}: ${name} downloaded`, 'done', name);
    }));
    document.getElementById('build').addEventListener('click', views.guarded(async () => {
        const project = document.getElementById('project-in').files[0];
        const game = [...document.getElementById('game-in').files];
        if (!project || game.length === 0) throw new Error('choose the project\'s zip and the game folder it was made from');
        const originals = await Promise.all(game.filter((file) => /\.bin$/i.test(file.name)).map(async (file) => ({
            path: (file.webkitRelativePath || file.name).split('/').slice(1).join('/') || file.name,
            bytes: new Uint8Array(await file.arrayBuffer()),
        })));
        let built;
        try {
            built = await session.build(new Uint8Array(await project.arrayBuffer()), originals, {
                nearest: document.getElementById('build-nearest').checked,
                fit: document.getElementById('build-fit').checked });
        } catch (error) {
            for (const line of error.message.split('\n').reverse()) views.message(line, 'error', project.name);
            return;
        }
        for (const line of built.report) views.message(line, 'note', project.name);
        if (!built.bytes) {
            views.message('nothing changed: nothing to build', 'note', project.name);
            return;
        }
        const name = project.name.replace(/(-project)?\.zip$/i, '') + '-build.zip';
        views.save(name, built.bytes, 'application/zip');
        views.message(`the changed files and their patches downloaded as ${name}`, 'done', project.name);
    }));
    document.getElementById('cancel').addEventListener('click', () => window.torv.cancel());
    document.addEventListener('dragover', (event) => {
        event.preventDefault();
        document.body.classList.add('dragging');
    });
    document.addEventListener('dragleave', (event) => {
        if (!event.relatedTarget) document.body.classList.remove('dragging');
    });
    document.addEventListener('drop', views.guarded(async (event) => {
        event.preventDefault();
        document.body.classList.remove('dragging');
        const folders = [...event.dataTransfer.items || []].map((item) => item.webkitGetAsEntry && item.webkitGetAsEntry())
            .filter((entry) => entry && entry.isDirectory);
        for (const entry of folders) await openFolder(await filesOfEntry(entry));
        if (folders.length) return;
        const section = event.target.closest && event.target.closest('section.file');
        const entry = session.opened.find((candidate) => candidate.section === section);
        const image = entry && event.target.closest('[data-name], [data-image]');
        const imageName = image ? image.dataset.name || image.dataset.image : null;
        await take([...event.dataTransfer.files], entry ? entry.held : null, imageName);
    }));
    views.showTargets();
    views.showEdited();
}

setUp();
