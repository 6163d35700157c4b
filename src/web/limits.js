// What the page stands by, stated once: the largest file it reads, how much
// it keeps in hand, and the words for a file too large.
/* exported limits */
'use strict';

const limits = Object.freeze({
    // Files larger than this are refused before they are read: a source, an
    // edited image, a patch, a zip, and each file in a zip (the module is
    // told it with each zip).
    maxFileBytes: 64 * 1024 * 1024,
    // Decoded frames the player keeps for stepping back and forth.
    framesKept: 32,
    // Thumbnails keep every this-many-th pixel of every this-many-th row.
    thumbnailStep: 4,
    paletteColumns: 16,
    // Frames per second the player plays at.
    fps: Object.freeze({ least: 1, most: 60, usual: 12 }),

    // Workers that pack: one a core, as torv-pack uses every core, but no
    // more than this many.
    maxPackingWorkers: 8,
    packingWorkers() {
        return Math.max(1, Math.min(navigator.hardwareConcurrency || 1, this.maxPackingWorkers));
    },
    // Frames a worker prepares at a time: a dozen batches each, so that the
    // workers end together, but not so few frames that handing them out
    // costs more than preparing them.
    framesPerBatch(frames, workers) {
        return Math.max(4, Math.min(32, Math.ceil(frames / (12 * workers))));
    },
    // Batches whose files are read ahead of the workers (the first touch of
    // a file chosen costs the browser a look at it, on this thread).
    batchesReadAhead: 4,

    tooLarge(name, size) {
        return `${name} is ${size.toLocaleString('en')} bytes: files over ${this.maxFileBytes / (1024 * 1024)} MB are not read here`;
    },
    // Throws for a file over the limit, before anything of it is read.
    checkSize(name, size) {
        if (size > this.maxFileBytes) throw Object.assign(new Error(this.tooLarge(name, size)), { code: 'file_too_large' });
    },
});
