// The page's session: the files it holds and the edits waiting to be packed: each source
// file opened (held by the worker, opened again in a fresh worker after a
// cancel), the edited images chosen, and the original they go into.
/* global client, limits, packing */
/* exported session */
'use strict';

const session = (() => {
    const baseName = (path) => path.split('/').pop();
    // A path given with its folder's own name first ("game/data/four.bin"),
    // within that folder.
    const withinFolder = (path) => path.split('/').slice(1).join('/') || path;
    const byPath = (a, b) => (a.path < b.path ? -1 : a.path > b.path ? 1 : 0);
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
        const again = client.ask('open', { name: baseName(held.name), bytes: copy },
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

    // Opens a source file: {name, bytes, layout, reason, images}; `name`
    // may be a path within a folder, its images named after the file's own
    // name. onFirst gets the first image's pixels as soon as they are
    // decoded.
    async function open(name, bytes, { onFirst, onProgress } = {}) {
        limits.checkSize(name, bytes.length);
        const copy = bytes.slice();
        const startedIn = client.generation();
        const got = await client.ask('open', { name: baseName(name), bytes: copy }, { transfer: [copy.buffer], onFirst, onProgress, job: 'Opening ' + name });
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
        // A game folder's sources ([{path, file}], each a Blob or bytes) as
        // torv-project unpack's project, in one zip made source by source:
        // each source is read in the worker when its turn comes, and each
        // piece of the zip becomes a Blob at once, which the browser keeps
        // out of the page's memory. {zip (a Blob), sources, images}.
        // onSource(done, total) after each.
        async project(sources, { gif = false, onSource } = {}) {
            const ordered = [...sources].sort(byPath);
            const work = client.work(`Making the project of ${ordered.length} ${ordered.length === 1 ? 'source' : 'sources'}`);
            try {
                const job = await client.ask('projectBegin', { paths: ordered.map((source) => source.path) });
                const parts = [];
                let images = 0;
                for (let k = 0; k < ordered.length; k++) {
                    const { path, file } = ordered[k];
                    const made = await client.ask('projectAdd', { job, path, file: file instanceof Blob ? file : new Blob([file]), gif });
                    parts.push(new Blob([made.bytes]));
                    images += made.images;
                    work.progressed(k + 1, ordered.length);
                    if (onSource) onSource(k + 1, ordered.length);
                }
                const end = await client.ask('projectFinish', { job });
                parts.push(new Blob([end.bytes]));
                return { zip: new Blob(parts, { type: 'application/zip' }), sources: end.sources, images };
            } finally {
                work.ended();
            }
        },
        applyPatch: (patch, source) => client.ask('applyPatch', { patch, source }, { job: 'Applying the patch' }),
        // Patches ([{path, file}]: .bps files and zips of them, each a Blob
        // or bytes) applied to the game's files ([{path, file}], read only
        // where a patch's path or size points at them), every match checked
        // before any is applied: {path, bytes} of the one file made if
        // `alone` and there is one, else {zip: a Blob laid out as the game
        // folder}; and the report.
        async applyPatches(patches, files, { alone = true } = {}) {
            const parts = [];
            const made = await client.ask('applyPatches', { patches, files, most: limits.maxFileBytes, alone },
                { job: 'Applying the patches', onChunk: (bytes) => parts.push(new Blob([bytes])) });
            return { ...made, zip: made.bytes ? null : new Blob(parts, { type: 'application/zip' }) };
        },
        // A palette (256 colours, 3 bytes each) as a paint program's file:
        // format 'gpl', 'pal' or 'act'.
        paletteFile: (colours, format, name) => client.ask('paletteFile', { colours: colours.slice(), format, name }),
        // The files of a zip archive: [{name, bytes}].
        zipFiles: (bytes) => client.ask('zipFiles', { bytes, most: limits.maxFileBytes }, { transfer: [bytes.buffer] }),
        // The names of a zip's files, nothing unpacked.
        zipNames: (bytes) => client.ask('zipNames', { bytes, most: limits.maxFileBytes }),
        // A project's zip, edited, built with the game's files ([{path,
        // file}], each a Blob or bytes, read only if the build needs it) as
        // torv-project build --patch builds it: {bytes, report}.
        build(project, originals, { nearest = false, fit = false } = {}) {
            return client.ask('build', { project, originals, nearest, fit, most: limits.maxFileBytes },
                { transfer: [project.buffer], job: 'Building what changed' });
        },
        zip: async (held, kind, job) => client.ask('zip', { handle: await handleOf(held), kind }, { job }),

        opened,
        entryOf: (held) => opened.find((entry) => entry.held === held),
        baseName,
        withinFolder,
        // Sorts [{path}] as torv-project walks a folder.
        byPath,
        // The open file of that name (a path, for a file of a folder), if any.
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
