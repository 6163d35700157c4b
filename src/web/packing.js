// Packing on every core: worker 0 finds what packing takes; a frame
// sequence's frames are prepared in batches by whichever worker is free
// (worker 0 and a helper a further core), while the page reads the files of
// the batches to come; worker 0 packs with every batch.
/* global client, limits */
/* exported packing */
'use strict';

const packing = (() => {
    // Packs `images` ([{name, file}], each file a Blob) with `held` (or null)
    // as the original, opened in a worker by handleOf(held, worker): {bytes,
    // report, notes, rooms, kept, fits, name}. A frame
    // sequence's frames are prepared in batches by `jobs` workers (at most
    // one a core), while the page reads the files of the batches to come.
    async function pack(held, images, { nearest = false, fit = false, layout = '', jobs = limits.packingWorkers(), onProgress } = {},
        handleOf) {
        // A script may say "not given" with null as well as by leaving it out.
        const options = { layout: layout == null ? '' : String(layout), nearest: Boolean(nearest), fit: Boolean(fit) };
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

    return { pack };
})();
