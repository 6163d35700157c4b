// Where each file given to the page belongs, by what it is rather than by
// the control it came through: a source, an edited image, a zip of images,
// a patch or a zip of them, a project's zip; a picture of another kind is
// named with what to do. Every size is checked before anything is read.
/* global limits, session */
/* exported routing */
'use strict';

const routing = (() => {
    // First bytes of the kinds told apart.
    const starts = (bytes, text) => [...text].every((c, k) => bytes[k] === c.charCodeAt(0));
    const isZipStart = (bytes) => starts(bytes, 'PK') && (bytes[2] === 3 || bytes[2] === 5);

    // Pictures the page does not read, and what to do with each.
    const otherPictures = [
        { is: (bytes, name) => (bytes[0] === 0xFF && bytes[1] === 0xD8) || /\.jpe?g$/i.test(name), what: 'a JPEG picture',
            todo: 'open it in an image editor and save it as PNG or BMP (keep its size and, for the best result, the image\'s own colours)' },
        { is: (bytes, name) => starts(bytes, 'GIF8') || /\.gif$/i.test(name), what: 'a GIF picture',
            todo: 'save it as PNG or BMP in an image editor (an animation frame by frame, named as the frames were)' },
        { is: (bytes, name) => starts(bytes, 'gimp xcf') || /\.xcf$/i.test(name), what: 'a GIMP picture (.xcf)',
            todo: 'in GIMP, flatten it (Image › Flatten Image) and export it as PNG (File › Export As)' },
        { is: (bytes, name) => starts(bytes, '8BPS') || /\.psd$/i.test(name), what: 'a Photoshop picture (.psd)',
            todo: 'flatten it and save a copy as PNG or BMP' },
        { is: (bytes, name) => (starts(bytes, 'RIFF') && starts(bytes.subarray(8), 'WEBP')) || /\.webp$/i.test(name), what: 'a WebP picture',
            todo: 'save it as PNG in an image editor' },
        { is: (bytes, name) => /\.tiff?$/i.test(name) || starts(bytes, 'II*\0') || starts(bytes, 'MM\0*'), what: 'a TIFF picture',
            todo: 'save it as PNG or BMP in an image editor' },
    ];

    async function firstBytes(file) {
        return new Uint8Array(await file.slice(0, 16).arrayBuffer());
    }

    // What a zip holds, by its names: 'project' (it has torv-project.json),
    // 'patches', 'images' or null.
    async function kindOfZip(file) {
        const names = await session.zipNames(new Uint8Array(await file.arrayBuffer()));
        if (names.some((name) => name === 'torv-project.json' || name.endsWith('/torv-project.json'))) return { kind: 'project', names };
        if (names.some((name) => /\.bps$/i.test(name))) return { kind: 'patches', names };
        if (names.some((name) => /\.(bmp|png)$/i.test(name))) return { kind: 'images', names };
        return { kind: null, names };
    }

    // The files sorted: {sources, images, imageZips, patches, projects,
    // refused: [{file, why}]}.
    async function sort(files) {
        const sorted = { sources: [], images: [], imageZips: [], patches: [], projects: [], refused: [] };
        for (const file of files) {
            // By name first, with nothing read: a game's file may begin with
            // any bytes, and images chosen are many.
            if (/\.bin$/i.test(file.name)) {
                sorted.sources.push(file);
                continue;
            }
            if (/\.(bmp|png)$/i.test(file.name)) {
                sorted.images.push(file);
                continue;
            }
            if (/\.bps$/i.test(file.name)) {
                sorted.patches.push(file);
                continue;
            }
            const bytes = await firstBytes(file);
            const other = otherPictures.find((kind) => kind.is(bytes, file.name));
            if (starts(bytes, 'BM') || starts(bytes, '\x89PNG')) {
                sorted.images.push(file);
            } else if (starts(bytes, 'BPS1')) {
                sorted.patches.push(file);
            } else if (isZipStart(bytes) || /\.zip$/i.test(file.name)) {
                if (file.size > limits.maxFileBytes) {
                    sorted.refused.push({ file, why: limits.tooLarge(file.name, file.size) });
                    continue;
                }
                const { kind, names } = await kindOfZip(file);
                if (kind === 'project') sorted.projects.push(file);
                else if (kind === 'patches') sorted.patches.push(file);
                else if (kind === 'images') sorted.imageZips.push(file);
                else sorted.refused.push({ file, why: `${file.name} holds no image, patch or project (${names.length.toLocaleString('en')} ${names.length === 1 ? 'file' : 'files'}, none BMP, PNG, .bps or torv-project.json)` });
            } else if (other) {
                sorted.refused.push({ file, why: `${file.name} is ${other.what}, which torv does not read: ${other.todo}` });
            } else {
                sorted.sources.push(file);
            }
        }
        return sorted;
    }

    return { sort };
})();
