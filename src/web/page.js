// The page as a whole: window.torv (the script interface) and the controls,
// wired to the session (session.js) and the views (views.js). Everything the
// formats need happens in the WebAssembly module inside the worker.
/* global building, client, folders, limits, palettes, patching, player, routing, session, views */
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
    async project(files, options = {}) {
        const given = files.map((file) => ({ path: String(file.path), file: new Blob([toBytes(file.bytes)]) }));
        const kinds = await session.sourcesOf(given.map(({ path, file }) => ({ path, size: file.size })));
        const isSource = new Set(kinds.sources);
        const made = await session.project(given.filter(({ path }) => isSource.has(path)), { gif: Boolean((options || {}).gif) });
        return { bytes: new Uint8Array(await made.zip.arrayBuffer()), sources: made.sources, images: made.images, other: kinds.other };
    },
    // A project's zip, edited, built with the game's files ([{path, bytes}]):
    // {bytes (a zip of build/... and patches/...bps, or null), report}.
    build: (project, originals, options = {}) => session.build(toBytes(project).slice(),
        originals.map((file) => ({ path: String(file.path), file: toBytes(file.bytes).slice() })), options || {}),
    // The file a BPS patch makes of the game's file.
    applyPatch: (patch, source) => session.applyPatch(toBytes(patch).slice(), toBytes(source).slice()),
    // A mod's zip of patches applied to the game's files ([{path, bytes}]),
    // every CRC32 checked first: {bytes (a zip of the patched files), report}.
    async applyBundle(bundle, files) {
        const made = await session.applyPatches([{ path: 'the zip', file: toBytes(bundle).slice() }],
            files.map((file) => ({ path: String(file.path), file: toBytes(file.bytes).slice() })), { alone: false });
        return { bytes: new Uint8Array(await made.zip.arrayBuffer()), report: made.report };
    },
    // Patches (.bps files or zips of them: [{name, bytes}]) applied to the
    // game's files ([{path, bytes}]), each matched by path, then by size and
    // CRC32: {bytes (a zip laid out as the game folder), report}.
    async applyPatches(patches, files) {
        const made = await session.applyPatches(patches.map((patch) => ({ path: String(patch.name), file: toBytes(patch.bytes).slice() })),
            files.map((file) => ({ path: String(file.path), file: toBytes(file.bytes).slice() })), { alone: false });
        return { bytes: new Uint8Array(await made.zip.arrayBuffer()), report: made.report };
    },
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

// Opens a source in a section of its own; `name` is its path within a
// folder for a file of a folder, so that two files of one name in two
// folders are two sections.
async function openInPage(file, name = file.name) {
    const refused = await session.refusal(name, file.size);
    if (refused) {
        views.message(refused, 'error', name);
        return null;
    }
    // Marks for measuring what a person waits for (see bench/page_bench.js).
    performance.mark('open:' + name);
    const bytes = new Uint8Array(await file.arrayBuffer());
    const already = session.named(name);
    let replaced = false;
    if (already) {
        if (sameBytes(already.held.bytes, bytes)) {
            views.message(`${name} is open already`, 'note', name);
            already.section.scrollIntoView({ block: 'start' });
            return already.held;
        }
        await closeEntry(already);
        replaced = true;
    }
    const section = views.fileSection(name);
    const body = section.querySelector('.body');
    const area = element('div', { class: 'images' });
    let first = null;
    let held;
    try {
        held = await session.open(name, bytes, {
            onFirst: (pixels) => {
                first = pixels;
                // The first image at once, before the rest is decoded.
                const early = element('canvas', { class: 'early' });
                views.draw(early, pixels);
                area.replaceChildren(element('div', { class: 'view' }, early));
                body.append(area);
                performance.mark('first-image:' + name);
            },
        });
    } catch (error) {
        section.remove();
        const cancelled = error.code === 'cancelled';
        views.message(cancelled ? `Opening ${name} was cancelled` : error.message, cancelled ? 'note' : 'error', name);
        return null;
    }
    performance.mark('opened:' + name);
    section.dataset.layout = held.layout;
    section.querySelector('.what').textContent = views.describeFile(held);
    const zoom = element('select', { class: 'zoom', 'aria-label': `zoom of ${name}` }, ...[1, 2, 3, 4].map((z) => element('option', { value: z, text: z + '×' })));
    zoom.addEventListener('change', () => section.style.setProperty('--zoom', zoom.value));
    const base = file.name.replace(/\..*$/, '');
    const zipOf = (kind) => views.guarded(async () => {
        views.save(`${base}-${kind}.zip`, await session.zip(held, kind, `Making ${base}-${kind}.zip`), 'application/zip');
    }, name);
    body.prepend(element('div', { class: 'actions' },
        element('label', {}, 'Zoom ', zoom),
        element('button', { type: 'button', text: 'All as BMP (zip)', 'aria-label': `All as BMP (zip): ${name}`, onclick: zipOf('bmp') }),
        element('button', { type: 'button', text: 'All as PNG (zip)', 'aria-label': `All as PNG (zip): ${name}`, onclick: zipOf('png') }),
        element('button', { type: 'button', text: 'Close', 'aria-label': `Close ${name}`, onclick: views.guarded(() => closeEntry(session.entryOf(held)), name) })));
    area.replaceChildren();
    body.append(area);
    if (held.layout === 'frame_sequence') player.showFrames(held, area, first);
    else palettes.showStill(held, area, first);
    session.add({ held, section });
    session.chooseTarget(held);
    views.showTargets();
    if (replaced) views.message(`${name} opened again: it takes the place of the one that was open`, 'note', name);
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
        const words = error.message + views.advice(error);
        views.message(words, error.code === 'cancelled' ? 'note' : 'error', held ? held.name : '');
        const report = document.getElementById('report');
        report.replaceChildren(element('p', { class: 'error', text: words }));
        report.scrollIntoView({ block: 'nearest' });
        return;
    }
    performance.mark('pack:done');
    const name = held ? session.baseName(held.name) : result.name;
    views.save(name, result.bytes, 'application/octet-stream');
    if (held) views.markPast(held.name);
    views.message(`${name} packed and downloaded: put it in place of the game's ${name}, and keep the original elsewhere`, 'done', held ? held.name : '');
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

// The folder opened last ({top, files: [{path, file}]}, paths within it):
// what Build and patching use when no folder is chosen for them.
let lastFolder = null;

// A game folder's files ([{path, file}], the folder's own name first in
// each path), listed: its sources with their paths, each opened when asked,
// and its project made when asked, source by source. The patches in it go
// to patching.
async function openFolder(files) {
    const top = files.length ? files[0].path.split('/')[0] : 'game';
    const within = files.map(({ path, file }) => ({ path: session.withinFolder(path), file }));
    const patches = within.filter(({ path }) => /\.bps$/i.test(path));
    const kinds = await session.sourcesOf(within.map(({ path, file }) => ({ path, size: file.size })));
    const isSource = new Set(kinds.sources);
    const sources = within.filter(({ path }) => isSource.has(path)).sort(session.byPath);
    if (patches.length) await patching.addPatches(patches, top + '/');
    if (sources.length === 0) {
        if (!patches.length) views.message(`${top} holds no file torv knows (a .bin file of one of the layouts' sizes) and no patch`, 'error', top);
        return;
    }
    lastFolder = { top, files: within };
    building.refresh();
    await patching.setGame(within, top + '/', 'open');
    folders.show(top, sources, kinds.other, {
        open: (source) => openInPage(source.file instanceof File ? source.file : new File([source.file], session.baseName(source.path)), source.path),
        project: () => makeProject(top, sources),
    });
    if (kinds.other.length) {
        views.message(`left alone, being the size of no layout: ${kinds.other.join(', ')}`, 'note', top);
    }
    views.message(`${sources.length} ${sources.length === 1 ? 'source' : 'sources'} listed: open any to see it, or download the project to edit them all`, 'note', top);
}

// A folder's project, made source by source and downloaded as one zip.
async function makeProject(top, sources) {
    performance.mark('project:start');
    const made = await session.project(sources);
    performance.mark('project:done');
    views.save(`${top}-project.zip`, made.zip, 'application/zip');
    views.message(`${made.sources} ${made.sources === 1 ? 'source' : 'sources'}, ${made.images} images: the project downloaded as ${top}-project.zip`, 'done', top);
}

// ---- Controls -----------------------------------------------------------------------


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

// Edited images for `into` (or for no file); one image dropped on an image
// takes that image's place, whatever its name.
function takeImages(images, into, onImage) {
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

// Files chosen or dropped, each sent where it belongs by what it is (its
// first bytes, a zip by what it holds): sources open; images, and zips of
// images, become edited images for the file whose section they fell on;
// patches and zips of them go to patching, a project's zip to building;
// pictures of other kinds are named with what to do.
async function take(files, into, onImage) {
    const sorted = await routing.sort(files);
    for (const { file, why } of sorted.refused) views.message(why, 'error', file.name);
    for (const file of sorted.sources) await openInPage(file);
    const images = [...sorted.images];
    for (const zip of sorted.imageZips) images.push(...await imagesOfZip(zip));
    takeImages(images, into, onImage);
    if (sorted.patches.length) await patching.addPatches(sorted.patches.map((file) => ({ path: file.name, file })), '');
    for (const project of sorted.projects) building.takeProject(project, lastFolder);
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
        await take(files, null);
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
    patching.setUp();
    building.setUp(() => lastFolder);
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
        const entries = [...event.dataTransfer.items || []].map((item) => item.webkitGetAsEntry && item.webkitGetAsEntry()).filter(Boolean);
        const folders = entries.filter((entry) => entry.isDirectory);
        // Files dropped with folders are taken as much as the folders.
        const loose = folders.length ? [...event.dataTransfer.files].filter((file) => entries.some((entry) => entry.isFile && entry.name === file.name)) : [...event.dataTransfer.files];
        const section = event.target.closest && event.target.closest('section.file');
        const entry = session.opened.find((candidate) => candidate.section === section);
        const image = entry && event.target.closest('[data-name], [data-image]');
        const imageName = image ? image.dataset.name || image.dataset.image : null;
        // Patches first: a mod's patches dropped with the game folder are
        // applied to it in the one step.
        await take(loose, entry ? entry.held : null, imageName);
        for (const folderEntry of folders) await openFolder(await filesOfEntry(folderEntry));
    }));
    views.showTargets();
    views.showEdited();
}

setUp();
