// The page's session: the files it holds and the edits waiting to be packed: each source
// file opened (held by the worker, opened again in a fresh worker after a
// cancel), the edited images chosen, and the original they go into.
/* global client, limits */
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

    // Packs `images` ([{name, file}], each file a Blob) with `held` (or null)
    // as the original: {bytes, report, notes, rooms, kept, name}. A frame
    // sequence's frames are prepared in batches by `jobs` workers (at most
    // one a core), while the page reads the files of the batches to come.
    async function pack(held, images, { nearest = false, layout = '', jobs = limits.packingWorkers(), onProgress } = {}) {
        // A script may say "not given" with null as well as by leaving it out.
        const options = { layout: layout == null ? '' : String(layout), nearest: Boolean(nearest) };
        // Every size first: over the limit is refused before anything is
        // read, and the browser's first look at each file (some 0.3 ms) is
        // done before the workers are busy.
        for (const image of images) limits.checkSize(image.name, image.file.size);
        const files = Object.fromEntries(images.map((image) => [image.name, image.file]));
        // A frame sequence's files are read here, a batch at a time, and
        // their bytes handed to the workers: the workers need only their
        // names. Other layouts' few files the worker reads itself.
        const namesAlone = Object.fromEntries(images.map((image) => [image.name, 0]));
        const frames = (held ? held.layout : options.layout) === 'frame_sequence';
        const work = client.work('Packing ' + (held ? held.name : 'the images'));
        const begun = []; // {worker, generation, job}, ended whatever happens
        // A helper is given the names alone (the bytes come with each
        // batch), and the layout worker 0 found.
        const begin = async (worker, layoutFound) => {
            const original = held ? await handleOf(held, worker) : 0;
            const generation = client.generation(worker);
            const given = worker === 0 && !frames ? files : namesAlone;
            const outline = await client.ask('packBegin',
                { images: given, original, options: worker === 0 ? options : { ...options, layout: layoutFound } }, { worker });
            begun.push({ worker, generation, job: outline.job });
            return outline;
        };
        try {
            const outline = await begin(0);
            const progressed = (done, total) => {
                work.progressed(done, total);
                if (onProgress) onProgress(done, total);
            };
            const batches = outline.inBatches ? await prepareInBatches(outline, files, begin, jobs, progressed) : [];
            return await client.ask('packFinish', { job: outline.job, batches, read: {} },
                { transfer: batches.map((batch) => batch.buffer), onProgress: progressed });
        } finally {
            work.ended();
            for (const { worker, generation, job } of begun) {
                if (generation === client.generation(worker)) client.ask('packEnd', { job }, { worker }).catch(() => {});
            }
        }
    }

    // The files `names` ({name: Blob} in `files`) read: {name: Uint8Array}.
    async function readFiles(names, files) {
        const read = async (name) => {
            try {
                return [name, new Uint8Array(await files[name].arrayBuffer())];
            } catch (error) {
                throw Object.assign(new Error(`the browser could not read ${name} (changed or removed since chosen?): ${error.message}`),
                    { code: 'cannot_read' });
            }
        };
        return Object.fromEntries(await Promise.all(names.map(read)));
    }

    // The frames of `outline` prepared in batches, handed out in order to
    // whichever worker is free: worker 0 has begun already, a helper joins
    // once it has begun too (if that fails, the others do without it). The
    // page reads the files of a few batches ahead. After a batch that failed
    // no more are handed out: packing fails there at the latest.
    function prepareInBatches(outline, files, begin, jobs, progressed) {
        const workers = client.workers(Math.max(1, Math.min(jobs, limits.maxPackingWorkers)));
        const frames = outline.files;
        const size = limits.framesPerBatch(frames.length, workers);
        const ranges = [];
        for (let first = 0; first < frames.length; first += size) ranges.push([first, Math.min(size, frames.length - first)]);
        const reading = new Map(); // batch number -> the bytes of its files, by the name given
        const read = (number) => {
            if (number < ranges.length && !reading.has(number)) {
                const [first, count] = ranges[number];
                reading.set(number, readFiles(frames.slice(first, first + count).filter((name) => name !== null), files));
            }
            return reading.get(number);
        };
        return new Promise((resolve, reject) => {
            const batches = [];
            let next = 0; // the next batch to hand out
            let busy = 0; // batches handed out and not yet back
            let done = 0; // frames prepared
            let end = ranges.length; // no batch from here on is needed
            let failed = false;
            const prepare = async (worker, job) => {
                while (!failed && next < end) {
                    const number = next++;
                    busy += 1;
                    for (let ahead = number; ahead < number + limits.batchesReadAhead; ahead++) read(ahead);
                    const bytes = await read(number);
                    reading.delete(number);
                    const [first, count] = ranges[number];
                    const batch = await client.ask('packPrepare', { job, first, count, read: bytes },
                        { worker, transfer: Object.values(bytes).map((file) => file.buffer) });
                    batches[number] = batch.bytes;
                    if (batch.failed) end = Math.min(end, number + 1);
                    busy -= 1;
                    done += count;
                    progressed(done, frames.length);
                }
                if (busy === 0 && !failed) resolve(batches.filter(Boolean));
            };
            const fail = (error) => {
                failed = true;
                reject(error);
            };
            // The helpers are asked first: reading the files keeps this
            // thread busy at times.
            for (let worker = 1; worker < workers; worker++) {
                begin(worker, outline.layout).then((begun) => prepare(worker, begun.job).catch(fail), () => {});
            }
            prepare(0, outline.job).catch(fail);
        });
    }

    return {
        open,
        close,
        pack,
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
        // The files of a zip archive: [{name, bytes}].
        zipFiles: (bytes) => client.ask('zipFiles', { bytes }, { transfer: [bytes.buffer] }),
        // A project's zip, edited, built with the game's files ([{path,
        // bytes}]) as torv-project build --patch builds it: {bytes, report}.
        build(project, originals, { nearest = false } = {}) {
            const transfer = [project.buffer, ...originals.map((file) => file.bytes.buffer)];
            return client.ask('build', { project, originals, nearest }, { transfer, job: 'Building what changed' });
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
