// The page's session: the files it holds and the edits waiting to be packed: each source
// file opened (held by the worker, opened again in a fresh worker after a
// cancel), the edited images chosen, and the original they go into.
/* global client, limits, packing */
/* exported session */
'use strict';

const session = (() => {
    // Each file opened: {held, ...what the views keep of it}.
    const opened = [];
    let edited = []; // File objects, one a name
    let target = null; // the held file edited images go into, or null

    // The handle of a file in worker `worker`, opening it there (again,
    // after a cancel, or for the first time in a helper) when needed.
    async function handleOf(held, worker = 0) {
        const handle = held.handles.get(worker);
        if (handle && handle.generation === client.generation(worker)) return handle.promise;
        const copy = held.bytes.slice();
        const again = client.ask('open', { name: held.name, bytes: copy },
            { worker, transfer: [copy.buffer], job: worker === 0 ? 'Reading ' + held.name + ' again' : undefined });
        const opened = { generation: client.generation(worker), promise: again.then((reopened) => reopened.handle) };
        held.handles.set(worker, opened);
        opened.promise.catch(() => held.handles.delete(worker));
        return opened.promise;
    }

    const pixelsOf = async (held, index) => client.ask('image', { handle: await handleOf(held), index, kind: 'pixels' });

    function pixelsAsTriples(pixels) {
        const palette = [];
        for (let k = 0; k < 256; k++) palette.push([pixels.palette[3 * k], pixels.palette[3 * k + 1], pixels.palette[3 * k + 2]]);
        return { palette, indices: pixels.indices };
    }

    // Opens a source file: {name, bytes, layout, reason, images}. onFirst
    // gets the first image's pixels as soon as they are decoded.
    async function open(name, bytes, { onFirst, onProgress } = {}) {
        limits.checkSize(name, bytes.length);
        const copy = bytes.slice();
        const startedIn = client.generation();
        const got = await client.ask('open', { name, bytes: copy }, { transfer: [copy.buffer], onFirst, onProgress, job: 'Opening ' + name });
        const held = {
            name,
            bytes,
            layout: got.layout,
            handles: new Map([[0, { generation: startedIn, promise: Promise.resolve(got.handle) }]]),
            reason: got.reason || '',
        };
        const fileOf = async (index, kind) => client.ask('image', { handle: await handleOf(held), index, kind });
        held.images = got.images.map((image, index) => ({
            name: image.name,
            width: image.width,
            height: image.height,
            bmp: () => fileOf(index, 'bmp'),
            png: () => fileOf(index, 'png'),
            pixels: async () => pixelsAsTriples(await pixelsOf(held, index)),
        }));
        return held;
    }

    async function close(held) {
        const handles = [...held.handles];
        held.handles.clear();
        await Promise.all(handles.map(async ([worker, { generation, promise }]) => {
            if (generation === client.generation(worker)) await client.ask('close', { handle: await promise }, { worker });
        }));
    }

    return {
        open,
        close,
        // Packs `images` ([{name, file}], each file a Blob) with `held` (or
        // null) as the original (packing.js).
        pack: (held, images, options) => packing.pack(held, images, options, handleOf),
        handleOf,
        pixelsOf,
        thumbnail: async (held, index, step) => client.ask('thumbnail', { handle: await handleOf(held), index, step }),
        gif: async (held) => client.ask('gif', { handle: await handleOf(held) }, { job: 'Making the GIF of ' + held.name }),
        // The words that refuse a file of `size` bytes before it is read:
        // over the page's limit, or of a size no layout has; '' if neither.
        async refusal(name, size) {
            if (size > limits.maxFileBytes) return limits.tooLarge(name, size);
            return client.ask('refusal', { name, size });
        },
        // Which of a game folder's files ([{path, size}]) are sources, and
        // which .bin files are of no layout's size: {sources, other}, paths.
        sourcesOf: (files) => client.ask('sourcesOf', { files }),
        // A game folder's files ([{path, bytes}]) as torv-project unpack's
        // project, in one zip: {bytes, sources, images, other}. Each file's
        // SHA-256 is the browser's (where it has it: pages from disk and
        // secure origins), a tenth of the time WebAssembly would take.
        async project(files, { gif = false } = {}) {
            const hex = (digest) => [...new Uint8Array(digest)].map((b) => b.toString(16).padStart(2, '0')).join('');
            const digested = await Promise.all(files.map(async (file) => ({
                ...file, sha256: globalThis.crypto && crypto.subtle ? hex(await crypto.subtle.digest('SHA-256', file.bytes)) : '',
            })));
            const transfer = digested.map((file) => file.bytes.buffer);
            return client.ask('project', { files: digested, gif }, { transfer, job: 'Making the project of ' + files.length + ' files' });
        },
        applyPatch: (patch, source) => client.ask('applyPatch', { patch, source }, { job: 'Applying the patch' }),
        // The patches of a zip: {names, targets (the game files' paths), refused}.
        bundlePatches: (bytes) => client.ask('bundlePatches', { bytes: bytes.slice() }),
        // Every patch of a zip applied to the game's files ([{path, bytes}],
        // each CRC32 checked first): {bytes (a zip laid out as the game
        // folder), report}.
        applyBundle(bytes, files) {
            const transfer = [bytes.buffer, ...files.map((file) => file.bytes.buffer)];
            return client.ask('applyBundle', { bytes, files }, { transfer, job: 'Applying the patches' });
        },
        // A palette (256 colours, 3 bytes each) as a paint program's file:
        // format 'gpl', 'pal' or 'act'.
        paletteFile: (colours, format, name) => client.ask('paletteFile', { colours: colours.slice(), format, name }),
        // The files of a zip archive: [{name, bytes}].
        zipFiles: (bytes) => client.ask('zipFiles', { bytes, most: limits.maxFileBytes }, { transfer: [bytes.buffer] }),
        // A project's zip, edited, built with the game's files ([{path,
        // bytes}]) as torv-project build --patch builds it: {bytes, report}.
        build(project, originals, { nearest = false, fit = false } = {}) {
            const transfer = [project.buffer, ...originals.map((file) => file.bytes.buffer)];
            return client.ask('build', { project, originals, nearest, fit, most: limits.maxFileBytes },
                { transfer, job: 'Building what changed' });
        },
        zip: async (held, kind, job) => client.ask('zip', { handle: await handleOf(held), kind }, { job }),

        opened,
        entryOf: (held) => opened.find((entry) => entry.held === held),
        // The open file of that name, if any.
        named: (name) => opened.find((entry) => entry.held.name === name),
        add(entry) { opened.push(entry); },
        remove(held) {
            const at = opened.findIndex((entry) => entry.held === held);
            if (at >= 0) opened.splice(at, 1);
            if (target === held) target = opened.length ? opened[opened.length - 1].held : null;
        },

        target: () => target,
        chooseTarget(held) { target = held; },

        edited: () => edited,
        // Adds files by name: a file of a name already chosen takes its place.
        addEdited(files) {
            const byName = new Map(edited.map((file) => [file.name, file]));
            for (const file of files) byName.set(file.name, file);
            edited = [...byName.values()];
        },
        forgetEdited() { edited = []; },
    };
})();
