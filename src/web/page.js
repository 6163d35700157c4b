// The page as a whole: window.torv (the script interface) and the controls,
// wired to the session (session.js) and the views (views.js). Everything the
// formats need happens in the WebAssembly module inside the worker.
/* global client, limits, session, views */
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
    // message, and the failure's code and facts as fields.
    async pack(original, images, options = {}) {
        let held = null;
        if (original) held = await session.open(String(original.name), toBytes(original.bytes));
        try {
            return await session.pack(held, images.map((image) => ({ name: String(image.name), bytes: toBytes(image.bytes) })),
                options || {});
        } finally {
            if (held) await session.close(held);
        }
    },
    // Ends whatever long work is under way.
    cancel() {
        client.restart('cancelled');
    },
};

// ---- Opening files --------------------------------------------------------------

const { element } = views;

async function openInPage(file) {
    try {
        limits.checkSize(file.name, file.size);
    } catch (error) {
        views.message(error.message);
        return;
    }
    // Marks for measuring what a person waits for (see bench/page_bench.js).
    performance.mark('open:' + file.name);
    const section = views.fileSection(file.name);
    const area = element('div', { class: 'images' });
    let first = null;
    let held;
    try {
        const bytes = new Uint8Array(await file.arrayBuffer());
        held = await session.open(file.name, bytes, {
            onFirst: (pixels) => {
                first = pixels;
                // The first image at once, before the rest is decoded.
                const early = element('canvas', { class: 'early' });
                views.draw(early, pixels);
                area.replaceChildren(element('div', { class: 'view' }, early));
                section.append(area);
                performance.mark('first-image:' + file.name);
            },
        });
    } catch (error) {
        section.remove();
        const cancelled = error.code === 'cancelled';
        views.message(cancelled ? `Opening ${file.name} was cancelled` : error.message, cancelled ? 'note' : 'error');
        return;
    }
    performance.mark('opened:' + file.name);
    const what = section.querySelector('.what');
    if (!held.layout) {
        what.textContent = held.reason;
        what.classList.add('error');
        views.message(held.reason);
        await session.close(held);
        return;
    }
    section.dataset.layout = held.layout;
    what.textContent = views.describeFile(held);
    const zoom = element('select', { 'aria-label': 'zoom' }, ...[1, 2, 3, 4].map((z) => element('option', { value: z, text: z + '×' })));
    zoom.addEventListener('change', () => section.style.setProperty('--zoom', zoom.value));
    const base = file.name.replace(/\..*$/, '');
    const zipOf = (kind) => views.guarded(async () => {
        views.save(`${base}-${kind}.zip`, await session.zip(held, kind, `Making ${base}-${kind}.zip`), 'application/zip');
    });
    section.append(element('div', { class: 'actions' },
        element('label', {}, 'Zoom ', zoom),
        element('button', { type: 'button', text: 'All as BMP (zip)', onclick: zipOf('bmp') }),
        element('button', { type: 'button', text: 'All as PNG (zip)', onclick: zipOf('png') }),
        element('button', { type: 'button', text: 'Close', onclick: views.guarded(async () => {
            if (held.forget) held.forget();
            section.remove();
            session.remove(held);
            views.showTargets();
            await session.close(held);
        }) })));
    area.replaceChildren();
    section.append(area);
    if (held.layout === 'frame_sequence') views.showFrames(held, area, first);
    else views.showStill(held, area, first);
    session.add({ held, section });
    session.chooseTarget(held);
    views.showTargets();
    section.addEventListener('click', () => {
        if (session.target() !== held) {
            session.chooseTarget(held);
            views.showTargets();
        }
    });
}

// ---- Putting edited images back -------------------------------------------------

async function packInPage() {
    const edited = session.edited();
    const held = session.target();
    if (edited.length === 0 && !held) {
        views.message('choose the edited images first (BMP or PNG, named as they were downloaded)');
        return;
    }
    for (const file of edited) limits.checkSize(file.name, file.size);
    performance.mark('pack:start');
    const images = await Promise.all(edited.map(async (file) => ({ name: file.name, bytes: new Uint8Array(await file.arrayBuffer()) })));
    const result = await session.pack(held, images, {
        nearest: document.getElementById('nearest').checked,
        layout: held ? '' : document.getElementById('layout').value,
    });
    performance.mark('pack:done');
    views.save(held ? held.name : result.name, result.bytes, 'application/octet-stream');
    views.showReport(result, held);
}

// ---- Controls -----------------------------------------------------------------------

const isImageFile = (file) => /\.(bmp|png)$/i.test(file.name);

function addEdited(files) {
    session.addEdited(files);
    views.showEdited();
}

async function take(files, into) {
    const images = files.filter(isImageFile);
    const sources = files.filter((file) => !isImageFile(file));
    for (const file of sources) await openInPage(file);
    // After the openings, each of which becomes the original to pack
    // with: images dropped on a file's section are for that file.
    if (images.length) {
        if (into) {
            session.chooseTarget(into);
            views.showTargets();
        }
        addEdited(images);
    }
}

function setUp() {
    client.showJobsWith(views.progress);
    client.start();
    const open = document.getElementById('open');
    open.addEventListener('change', views.guarded(async () => {
        const files = [...open.files];
        open.value = '';
        for (const file of files) await openInPage(file);
    }));
    const imagesIn = document.getElementById('images-in');
    imagesIn.addEventListener('change', () => {
        addEdited([...imagesIn.files]);
        imagesIn.value = '';
    });
    document.getElementById('clear-edited').addEventListener('click', () => {
        session.forgetEdited();
        views.showEdited();
    });
    document.getElementById('target').addEventListener('change', (event) => {
        const k = event.target.value;
        session.chooseTarget(k === '' ? null : session.opened[Number(k)].held);
        views.showTargets();
    });
    document.getElementById('pack').addEventListener('click', views.guarded(packInPage));
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
        const section = event.target.closest && event.target.closest('section.file');
        const entry = session.opened.find((candidate) => candidate.section === section);
        await take([...event.dataTransfer.files], entry ? entry.held : null);
    }));
    views.showTargets();
    views.showEdited();
}

setUp();
