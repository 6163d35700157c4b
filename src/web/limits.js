// What the page stands by, stated once: the largest file it reads, how much
// it keeps in hand, and the words for a file too large.
/* exported limits */
'use strict';

const limits = Object.freeze({
    // Files larger than this are refused before they are read.
    maxFileBytes: 64 * 1024 * 1024,
    // Decoded frames the player keeps for stepping back and forth.
    framesKept: 32,
    // Thumbnails keep every this-many-th pixel of every this-many-th row.
    thumbnailStep: 4,
    paletteColumns: 16,
    // Frames per second the player plays at.
    fps: Object.freeze({ least: 1, most: 60, usual: 12 }),

    tooLarge(name, size) {
        return `${name} is ${size.toLocaleString('en')} bytes: files over 64 MB are not read here`;
    },
    // Throws for a file over the limit, before anything of it is read.
    checkSize(name, size) {
        if (size > this.maxFileBytes) throw Object.assign(new Error(this.tooLarge(name, size)), { code: 'file_too_large' });
    },
});
