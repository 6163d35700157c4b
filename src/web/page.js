// The page: window.torv (the script interface, over the worker) and the
// controls that drive it. Everything the formats need happens in the
// WebAssembly module inside the worker; this script shows what it gives.
'use strict';

(() => {
    // Files larger than this are refused before they are read.
    const maxFileBytes = 64 * 1024 * 1024;
    // Decoded frames the player keeps for stepping back and forth.
    const framesKept = 32;
    // Thumbnails keep every this-many-th pixel of every this-many-th row.
    const thumbnailStep = 4;
    const paletteColumns = 16;

    // ---- The worker ------------------------------------------------------

    let worker = null;
    let generation = 0; // counts workers: a handle belongs to one
    let nextRequest = 1;
    const pending = new Map();

    function startWorker() {
        const source = document.getElementById('worker-code').textContent;
        const url = URL.createObjectURL(new Blob([source], { type: 'text/javascript' }));
        worker = new Worker(url);
        URL.revokeObjectURL(url);
        generation += 1;
        worker.onmessage = (event) => {
            const answer = event.data;
            const waiting = pending.get(answer.id);
            if (!waiting) return;
            if (answer.progress) {
                if (waiting.onProgress) waiting.onProgress(answer.progress.done, answer.progress.total);
            } else if (answer.first) {
                if (waiting.onFirst) waiting.onFirst(answer.first);
            } else {
                pending.delete(answer.id);
                jobEnded(waiting);
                if (answer.error !== undefined) waiting.reject(Object.assign(new Error(answer.error.message), answer.error));
                else waiting.resolve(answer.result);
                if (answer.broken) restartWorker(answer.error.message);
            }
        };
        worker.onerror = (event) => {
            event.preventDefault();
            restartWorker('the page\'s worker stopped: ' + (event.message || 'unknown failure'));
        };
    }

    // Ends the worker and whatever it was doing; every request waiting
    // fails with `why`.
    function restartWorker(why) {
        worker.terminate();
        const failed = [...pending.values()];
        pending.clear();
        startWorker();
        for (const waiting of failed) {
            jobEnded(waiting);
            waiting.reject(new Error(why));
        }
    }

    // Sends a request; `job` (a label) marks long work that shows progress
    // and can be cancelled.
    function ask(op, fields, { transfer = [], onProgress, onFirst, job } = {}) {
        return new Promise((resolve, reject) => {
            const id = nextRequest++;
            const waiting = { resolve, reject, onProgress, onFirst, job };
            if (job) {
                jobStarted(waiting);
                const inner = onProgress;
                waiting.onProgress = (done, total) => {
                    showProgress(waiting, done, total);
                    if (inner) inner(done, total);
                };
            }
            pending.set(id, waiting);
            worker.postMessage({ id, op, ...fields }, transfer);
        });
    }

    // ---- Long work: progress and cancelling --------------------------------

    const jobs = new Set();

    function jobStarted(waiting) {
        jobs.add(waiting);
        showProgress(waiting, 0, 0);
    }

    function jobEnded(waiting) {
        if (!jobs.delete(waiting)) return;
        const bar = document.getElementById('progress');
        if (jobs.size === 0) bar.hidden = true;
    }

    function showProgress(waiting, done, total) {
        const bar = document.getElementById('progress');
        bar.hidden = false;
        document.getElementById('progress-what').textContent = waiting.job;
        const meter = document.getElementById('progress-meter');
        if (total > 0) {
            meter.max = total;
            meter.value = done;
        } else {
            meter.removeAttribute('value');
        }
    }

    // ---- Files held by the worker -------------------------------------------

    const tooLarge = (name, size) =>
        `${name} is ${size.toLocaleString('en')} bytes: files over 64 MB are not read here`;

    // The worker's handle of a file, opening it again in a new worker (after
    // a cancel) when needed.
    async function handleOf(held) {
        if (held.generation !== generation) {
            const copy = held.bytes.slice();
            const again = ask('open', { name: held.name, bytes: copy }, { transfer: [copy.buffer], job: 'Reading ' + held.name + ' again' });
            held.generation = generation;
            held.handlePromise = again.then((opened) => opened.handle);
            held.handlePromise.catch(() => { held.generation = 0; });
        }
        return held.handlePromise;
    }

    function pixelsAsTriples(pixels) {
        const palette = [];
        for (let k = 0; k < 256; k++) palette.push([pixels.palette[3 * k], pixels.palette[3 * k + 1], pixels.palette[3 * k + 2]]);
        return { palette, indices: pixels.indices };
    }

    // Opens a source file: {layout, images, held}. onFirst gets the first
    // image's pixels as soon as they are decoded.
    async function openBytes(name, bytes, { onFirst, onProgress } = {}) {
        if (bytes.length > maxFileBytes) throw new Error(tooLarge(name, bytes.length));
        const copy = bytes.slice();
        const startedIn = generation;
        const opened = await ask('open', { name, bytes: copy }, { transfer: [copy.buffer], onFirst, onProgress, job: 'Opening ' + name });
        const held = {
            name,
            bytes,
            layout: opened.layout,
            generation: startedIn,
            handlePromise: Promise.resolve(opened.handle),
            reason: opened.reason || '',
        };
        held.images = opened.images.map((image, index) => ({
            name: image.name,
            width: image.width,
            height: image.height,
            bmp: async () => ask('image', { handle: await handleOf(held), index, kind: 'bmp' }),
            png: async () => ask('image', { handle: await handleOf(held), index, kind: 'png' }),
            pixels: async () => pixelsAsTriples(await rawPixels(held, index)),
        }));
        return held;
    }

    async function rawPixels(held, index) {
        return ask('image', { handle: await handleOf(held), index, kind: 'pixels' });
    }

    async function closeHeld(held) {
        if (held.generation === generation) {
            const handle = await held.handlePromise;
            await ask('close', { handle });
        }
        held.generation = -1;
    }

    async function packWith(held, images, { nearest = false, layout = '', onProgress } = {}) {
        // A script may say "not given" with null as well as by leaving it out.
        const options = { layout: layout == null ? '' : String(layout), nearest: Boolean(nearest) };
        const named = {};
        const transfer = [];
        for (const image of images) {
            if (image.bytes.length > maxFileBytes) throw new Error(tooLarge(image.name, image.bytes.length));
            const copy = image.bytes.slice();
            named[image.name] = copy;
            transfer.push(copy.buffer);
        }
        const original = held ? await handleOf(held) : 0;
        const result = await ask('pack', { images: named, original, options }, {
            transfer, onProgress, job: 'Packing ' + (held ? held.name : 'the images'),
        });
        return result;
    }

    // ---- The script interface ------------------------------------------------

    const toBytes = (bytes) => (bytes instanceof Uint8Array ? bytes : new Uint8Array(bytes));

    window.torv = {
        // {layout, images: [{name, width, height, bmp(), png(), pixels()}]};
        // layout null for a file of no known size.
        async open(name, bytes) {
            const held = await openBytes(String(name), toBytes(bytes));
            return { layout: held.layout, images: held.images, close: () => closeHeld(held) };
        },
        // {bytes, report, notes, name}; rejects with torv-pack's message.
        async pack(original, images, options = {}) {
            let held = null;
            if (original) held = await openBytes(String(original.name), toBytes(original.bytes));
            try {
                return await packWith(held, images.map((image) => ({ name: String(image.name), bytes: toBytes(image.bytes) })), options);
            } finally {
                if (held) await closeHeld(held);
            }
        },
        // Ends whatever long work is under way.
        cancel() {
            restartWorker('cancelled');
        },
    };

    // ---- Showing images -------------------------------------------------------

    function element(tag, attributes = {}, ...children) {
        const made = document.createElement(tag);
        for (const [key, value] of Object.entries(attributes)) {
            if (key === 'text') made.textContent = value;
            else if (key.startsWith('on')) made.addEventListener(key.slice(2), value);
            else made.setAttribute(key, value);
        }
        for (const child of children) made.append(child);
        return made;
    }

    function hex(colour) {
        return '#' + colour.map((channel) => channel.toString(16).padStart(2, '0')).join('');
    }

    // Draws the pixels at their size times the section's zoom (--zoom).
    function draw(canvas, pixels) {
        canvas.width = pixels.width;
        canvas.height = pixels.height;
        canvas.style.width = `calc(${pixels.width}px * var(--zoom))`;
        canvas.style.height = `calc(${pixels.height}px * var(--zoom))`;
        const context = canvas.getContext('2d');
        const picture = context.createImageData(pixels.width, pixels.height);
        const out = picture.data;
        const { palette, indices } = pixels;
        for (let i = 0, o = 0; i < indices.length; i++, o += 4) {
            const entry = indices[i] * 3;
            out[o] = palette[entry];
            out[o + 1] = palette[entry + 1];
            out[o + 2] = palette[entry + 2];
            out[o + 3] = 255;
        }
        context.putImageData(picture, 0, 0);
    }

    function paletteGrid() {
        const grid = element('div', { class: 'palette', role: 'img', 'aria-label': 'palette, 256 entries' });
        for (let k = 0; k < paletteColumns * paletteColumns; k++) grid.append(element('span'));
        return grid;
    }

    function showPalette(grid, palette) {
        grid.childNodes.forEach((swatch, k) => {
            const colour = [palette[3 * k], palette[3 * k + 1], palette[3 * k + 2]];
            swatch.style.background = hex(colour);
            swatch.title = `${k}: ${hex(colour)}`;
        });
    }

    // Pointing at a pixel of `canvas` tells its place, index and colour in
    // `info`, and marks its entry in `grid`.
    function followPointer(canvas, info, grid, currentPixels) {
        let marked = null;
        canvas.addEventListener('mousemove', (event) => {
            const pixels = currentPixels();
            if (!pixels) return;
            const box = canvas.getBoundingClientRect();
            const x = Math.floor((event.clientX - box.left) * pixels.width / box.width);
            const y = Math.floor((event.clientY - box.top) * pixels.height / box.height);
            if (x < 0 || y < 0 || x >= pixels.width || y >= pixels.height) return;
            const index = pixels.indices[y * pixels.width + x];
            const colour = [pixels.palette[3 * index], pixels.palette[3 * index + 1], pixels.palette[3 * index + 2]];
            info.textContent = `x ${x}, y ${y}: index ${index}, ${hex(colour)} (${colour.join(', ')})`;
            if (marked) marked.classList.remove('marked');
            marked = grid.childNodes[index];
            marked.classList.add('marked');
        });
        canvas.addEventListener('mouseleave', () => {
            if (marked) marked.classList.remove('marked');
            marked = null;
        });
    }

    function save(name, bytes, type) {
        const url = URL.createObjectURL(new Blob([bytes], { type }));
        const link = element('a', { href: url, download: name });
        document.body.append(link);
        link.click();
        link.remove();
        setTimeout(() => URL.revokeObjectURL(url), 10000);
    }

    const pngName = (bmpName) => bmpName.replace(/\.bmp$/, '.png');

    function message(text, kind = 'error') {
        const box = document.getElementById('message');
        box.replaceChildren(element('p', { class: kind, text }));
    }

    // Runs an action of a control; a failure becomes the page's message
    // (a cancel says so quietly).
    function guarded(action) {
        return async (...args) => {
            try {
                await action(...args);
            } catch (error) {
                message(error.message, error.message === 'cancelled' ? 'note' : 'error');
            }
        };
    }

    function downloadButtons(held, indexOf) {
        return [
            element('button', { type: 'button', text: 'BMP', title: 'Download as BMP', onclick: guarded(async () => {
                const image = held.images[indexOf()];
                save(image.name, await image.bmp(), 'image/bmp');
            }) }),
            element('button', { type: 'button', text: 'PNG', title: 'Download as indexed PNG', onclick: guarded(async () => {
                const image = held.images[indexOf()];
                save(pngName(image.name), await image.png(), 'image/png');
            }) }),
        ];
    }

    // The few images of most layouts, each with its palette.
    function showStill(held, area, firstPixels) {
        held.images.forEach((image, index) => {
            const canvas = element('canvas', { width: image.width, height: image.height });
            const grid = paletteGrid();
            const info = element('output', { class: 'pixel-info', text: 'point at a pixel' });
            let pixels = null;
            followPointer(canvas, info, grid, () => pixels);
            const shown = (got) => {
                pixels = got;
                draw(canvas, got);
                showPalette(grid, got.palette);
            };
            if (index === 0 && firstPixels) shown(firstPixels);
            else rawPixels(held, index).then(shown, (error) => message(error.message));
            area.append(element('figure', { class: 'image', 'data-name': image.name },
                element('div', { class: 'view' }, canvas),
                element('figcaption', {},
                    element('span', { class: 'name', text: `${image.name} · ${image.width}×${image.height}` }),
                    ...downloadButtons(held, () => index)),
                info, grid));
        });
    }

    // A frame sequence: a player over one frame at a time, and thumbnails.
    function showFrames(held, area, firstPixels) {
        const count = held.images.length;
        const canvas = element('canvas', { width: held.images[0].width, height: held.images[0].height });
        const grid = paletteGrid();
        const info = element('output', { class: 'pixel-info', text: 'point at a pixel' });
        const slider = element('input', { type: 'range', min: 0, max: count - 1, value: 0, 'aria-label': 'frame' });
        const fps = element('input', { type: 'number', min: 1, max: 60, value: 12, 'aria-label': 'frames per second' });
        const where = element('output', { class: 'frame-name' });
        const play = element('button', { type: 'button', class: 'play', text: 'Play' });
        const previous = element('button', { type: 'button', text: '◀', 'aria-label': 'previous frame' });
        const next = element('button', { type: 'button', text: '▶', 'aria-label': 'next frame' });
        const kept = new Map(); // frame -> pixels, the most recent last
        let current = 0;
        let pixels = null;
        let timer = null;
        let wanted = 0; // the frame to show once its pixels come

        followPointer(canvas, info, grid, () => pixels);

        function keep(frame, got) {
            kept.delete(frame);
            kept.set(frame, got);
            if (kept.size > framesKept) kept.delete(kept.keys().next().value);
        }

        async function pixelsOf(frame) {
            if (kept.has(frame)) return kept.get(frame);
            const got = await rawPixels(held, frame);
            keep(frame, got);
            return got;
        }

        async function show(frame) {
            frame = (frame + count) % count;
            wanted = frame;
            slider.value = frame;
            where.textContent = `frame ${frame + 1} of ${count} · ${held.images[frame].name}`;
            const got = await pixelsOf(frame);
            if (wanted !== frame) return;
            current = frame;
            pixels = got;
            draw(canvas, got);
            showPalette(grid, got.palette);
            area.querySelectorAll('.thumb.current').forEach((thumb) => thumb.classList.remove('current'));
            const thumb = thumbs.children[frame];
            if (thumb) thumb.classList.add('current');
        }

        function stop() {
            clearTimeout(timer);
            timer = null;
            play.textContent = 'Play';
            play.setAttribute('aria-pressed', 'false');
        }

        function tick() {
            const started = performance.now();
            show(current + 1).then(() => {
                if (timer === null) return;
                const period = 1000 / Math.min(60, Math.max(1, Number(fps.value) || 12));
                timer = setTimeout(tick, Math.max(0, period - (performance.now() - started)));
            }, stop);
        }

        function toggle() {
            if (timer !== null) {
                stop();
                return;
            }
            play.textContent = 'Pause';
            play.setAttribute('aria-pressed', 'true');
            timer = setTimeout(tick, 0);
        }

        const step = (by) => { stop(); show(current + by).catch((error) => message(error.message)); };
        play.addEventListener('click', toggle);
        previous.addEventListener('click', () => step(-1));
        next.addEventListener('click', () => step(1));
        slider.addEventListener('input', () => { stop(); show(Number(slider.value)).catch((error) => message(error.message)); });

        const player = element('div', { class: 'player', tabindex: 0, 'aria-label': 'frame player: space plays or pauses, arrows step' },
            element('div', { class: 'stage' }, element('div', { class: 'view' }, canvas), element('div', { class: 'side' }, info, grid)),
            element('div', { class: 'controls' }, play, previous, slider, next,
                element('label', {}, fps, ' fps'), where, ...downloadButtons(held, () => current)));
        player.addEventListener('keydown', (event) => {
            if (event.target.tagName === 'INPUT' || event.target.tagName === 'BUTTON') {
                if (event.key !== ' ' || event.target.tagName === 'INPUT') return;
            }
            const keys = { ' ': toggle, ArrowLeft: () => step(-1), ArrowRight: () => step(1), Home: () => step(-current), End: () => step(count - 1 - current) };
            if (keys[event.key]) {
                event.preventDefault();
                keys[event.key]();
            }
        });

        // Thumbnails are made when they come into view, one request at a time.
        const thumbs = element('div', { class: 'thumbs' });
        const queue = [];
        let making = false;
        async function makeThumbnails() {
            if (making) return;
            making = true;
            while (queue.length > 0) {
                const thumb = queue.shift();
                const frame = Number(thumb.dataset.frame);
                try {
                    const small = await ask('thumbnail', { handle: await handleOf(held), index: frame, step: thumbnailStep });
                    const canvas = thumb.firstChild;
                    canvas.width = small.width;
                    canvas.height = small.height;
                    canvas.getContext('2d').putImageData(new ImageData(new Uint8ClampedArray(small.rgba.buffer), small.width, small.height), 0, 0);
                } catch (error) {
                    thumb.dataset.seen = '';
                }
            }
            making = false;
        }
        const watcher = new IntersectionObserver((entries) => {
            for (const entry of entries) {
                if (entry.isIntersecting && !entry.target.dataset.seen) {
                    entry.target.dataset.seen = '1';
                    queue.push(entry.target);
                }
            }
            makeThumbnails();
        }, { rootMargin: '200px' });
        held.images.forEach((image, frame) => {
            const thumb = element('button', { type: 'button', class: 'thumb', 'data-name': image.name, 'data-frame': frame, title: image.name },
                element('canvas', { width: Math.ceil(image.width / thumbnailStep), height: Math.ceil(image.height / thumbnailStep) }));
            thumb.addEventListener('click', () => { stop(); show(frame).catch((error) => message(error.message)); });
            thumbs.append(thumb);
            watcher.observe(thumb);
        });
        held.forget = () => { stop(); watcher.disconnect(); kept.clear(); };

        area.append(player, thumbs);
        if (firstPixels) keep(0, firstPixels);
        show(0).catch((error) => message(error.message));
    }

    // ---- Opening files ------------------------------------------------------

    const opened = []; // {held, section}

    function describeFile(held) {
        const count = held.images.length;
        const sizesSeen = [...new Set(held.images.map((image) => `${image.width}×${image.height}`))];
        return `${held.layout}: ${count} ${count === 1 ? 'image' : 'images'}, ${sizesSeen.join(', ')} · ${held.bytes.length.toLocaleString('en')} bytes`;
    }

    function fileSection(name) {
        const section = element('section', { class: 'file' }, element('h2', { text: name }), element('p', { class: 'what', text: 'opening…' }));
        document.getElementById('files').prepend(section);
        return section;
    }

    async function openInPage(file) {
        if (file.size > maxFileBytes) {
            message(tooLarge(file.name, file.size));
            return;
        }
        // Marks for measuring what a person waits for (see bench/page_bench.js).
        performance.mark('open:' + file.name);
        const section = fileSection(file.name);
        const area = element('div', { class: 'images' });
        let first = null;
        let held;
        try {
            const bytes = new Uint8Array(await file.arrayBuffer());
            held = await openBytes(file.name, bytes, {
                onFirst: (pixels) => {
                    first = pixels;
                    // The first image at once, before the rest is decoded.
                    const early = element('canvas', { class: 'early' });
                    draw(early, pixels);
                    area.replaceChildren(element('div', { class: 'view' }, early));
                    section.append(area);
                    performance.mark('first-image:' + file.name);
                },
            });
        } catch (error) {
            section.remove();
            message(error.message === 'cancelled' ? `Opening ${file.name} was cancelled` : error.message,
                error.message === 'cancelled' ? 'note' : 'error');
            return;
        }
        performance.mark('opened:' + file.name);
        const what = section.querySelector('.what');
        if (!held.layout) {
            what.textContent = held.reason;
            what.classList.add('error');
            message(held.reason);
            await closeHeld(held);
            return;
        }
        section.dataset.layout = held.layout;
        what.textContent = describeFile(held);
        const zoom = element('select', { 'aria-label': 'zoom' }, ...[1, 2, 3, 4].map((z) => element('option', { value: z, text: z + '×' })));
        zoom.addEventListener('change', () => section.style.setProperty('--zoom', zoom.value));
        const base = file.name.replace(/\..*$/, '');
        const zipOf = (kind) => guarded(async () => {
            const zip = await ask('zip', { handle: await handleOf(held), kind }, { job: `Making ${base}-${kind}.zip` });
            save(`${base}-${kind}.zip`, zip, 'application/zip');
        });
        section.append(element('div', { class: 'actions' },
            element('label', {}, 'Zoom ', zoom),
            element('button', { type: 'button', text: 'All as BMP (zip)', onclick: zipOf('bmp') }),
            element('button', { type: 'button', text: 'All as PNG (zip)', onclick: zipOf('png') }),
            element('button', { type: 'button', text: 'Close', onclick: guarded(async () => {
                if (held.forget) held.forget();
                section.remove();
                const at = opened.findIndex((entry) => entry.held === held);
                if (at >= 0) opened.splice(at, 1);
                updateTargets();
                await closeHeld(held);
            }) })));
        area.replaceChildren();
        section.append(area);
        if (held.layout === 'frame_sequence') showFrames(held, area, first);
        else showStill(held, area, first);
        opened.push({ held, section });
        updateTargets(held);
        section.addEventListener('click', () => chooseTarget(held));
    }

    // ---- Putting edited images back -------------------------------------------

    let edited = []; // File objects
    let target = null;

    function updateTargets(chosen) {
        const select = document.getElementById('target');
        if (chosen !== undefined) target = chosen;
        if (target && !opened.some((entry) => entry.held === target)) {
            target = opened.length ? opened[opened.length - 1].held : null;
        }
        select.replaceChildren(element('option', { value: '', text: 'no original (layout below)' }),
            ...opened.map((entry, k) => element('option', { value: k, text: entry.held.name })));
        select.value = target ? String(opened.findIndex((entry) => entry.held === target)) : '';
        document.getElementById('layout-choice').hidden = Boolean(target);
    }

    function chooseTarget(held) {
        if (target !== held) updateTargets(held);
    }

    function showEdited() {
        document.getElementById('edited-list').textContent = edited.length
            ? `${edited.length} edited ${edited.length === 1 ? 'image' : 'images'}: ${edited.map((file) => file.name).join(', ')}`
            : 'no edited images chosen';
    }

    function addEdited(files) {
        const byName = new Map(edited.map((file) => [file.name, file]));
        for (const file of files) byName.set(file.name, file);
        edited = [...byName.values()];
        showEdited();
    }

    function showReport(result, held) {
        const box = document.getElementById('message');
        const lines = [element('p', { class: 'done', text: `${result.name} packed${held ? ' (original: ' + held.name + ')' : ''} and downloaded` })];
        for (const line of result.report) {
            const paragraph = element('p', { text: line });
            const room = result.rooms.find((entry) => line.startsWith(entry.part + ': '));
            if (room) {
                paragraph.append(element('meter', { min: 0, max: room.room, value: room.used, high: room.room * 0.95, title: line }));
            }
            lines.push(paragraph);
        }
        for (const note of result.notes) lines.push(element('p', { class: 'note', text: note }));
        box.replaceChildren(...lines);
    }

    async function packInPage() {
        if (edited.length === 0 && !target) {
            message('choose the edited images first (BMP or PNG, named as they were downloaded)');
            return;
        }
        for (const file of edited) {
            if (file.size > maxFileBytes) throw new Error(tooLarge(file.name, file.size));
        }
        performance.mark('pack:start');
        const images = await Promise.all(edited.map(async (file) => ({ name: file.name, bytes: new Uint8Array(await file.arrayBuffer()) })));
        const held = target;
        const result = await packWith(held, images, {
            nearest: document.getElementById('nearest').checked,
            layout: held ? '' : document.getElementById('layout').value,
        });
        performance.mark('pack:done');
        save(held ? held.name : result.name, result.bytes, 'application/octet-stream');
        showReport(result, held);
    }

    // ---- Controls -------------------------------------------------------------

    const isImageFile = (file) => /\.(bmp|png)$/i.test(file.name);

    async function take(files, into) {
        const images = files.filter(isImageFile);
        const sources = files.filter((file) => !isImageFile(file));
        for (const file of sources) await openInPage(file);
        // After the openings, each of which becomes the original to pack
        // with: images dropped on a file's section are for that file.
        if (images.length) {
            if (into) chooseTarget(into);
            addEdited(images);
        }
    }

    function setUp() {
        startWorker();
        const open = document.getElementById('open');
        open.addEventListener('change', guarded(async () => {
            const files = [...open.files];
            open.value = '';
            for (const file of files) await openInPage(file);
        }));
        const imagesIn = document.getElementById('images-in');
        imagesIn.addEventListener('change', () => {
            addEdited([...imagesIn.files]);
            imagesIn.value = '';
        });
        document.getElementById('clear-edited').addEventListener('click', () => { edited = []; showEdited(); });
        document.getElementById('target').addEventListener('change', (event) => {
            const k = event.target.value;
            updateTargets(k === '' ? null : opened[Number(k)].held);
        });
        document.getElementById('pack').addEventListener('click', guarded(packInPage));
        document.getElementById('cancel').addEventListener('click', () => window.torv.cancel());
        document.addEventListener('dragover', (event) => {
            event.preventDefault();
            document.body.classList.add('dragging');
        });
        document.addEventListener('dragleave', (event) => {
            if (!event.relatedTarget) document.body.classList.remove('dragging');
        });
        document.addEventListener('drop', guarded(async (event) => {
            event.preventDefault();
            document.body.classList.remove('dragging');
            const section = event.target.closest && event.target.closest('section.file');
            const entry = opened.find((candidate) => candidate.section === section);
            await take([...event.dataTransfer.files], entry ? entry.held : null);
        }));
        updateTargets();
        showEdited();
    }

    setUp();
})();
