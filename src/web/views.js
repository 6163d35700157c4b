// What the page shows: images with their palettes and the pixel under the
// pointer, the player of a frame sequence and its thumbnails, a section for
// each file, progress of long work, messages, and the put-back panel's lists.
// Nothing here knows the worker; it asks the session.
/* global limits, session */
/* exported views */
'use strict';

const views = (() => {
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
        for (let k = 0; k < limits.paletteColumns * limits.paletteColumns; k++) grid.append(element('span'));
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
                message(error.message, error.code === 'cancelled' ? 'note' : 'error');
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
            else session.pixelsOf(held, index).then(shown, (error) => message(error.message));
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
        const fps = element('input', { type: 'number', min: limits.fps.least, max: limits.fps.most, value: limits.fps.usual, 'aria-label': 'frames per second' });
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
            if (kept.size > limits.framesKept) kept.delete(kept.keys().next().value);
        }

        async function pixelsOf(frame) {
            if (kept.has(frame)) return kept.get(frame);
            const got = await session.pixelsOf(held, frame);
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
                const period = 1000 / Math.min(limits.fps.most, Math.max(limits.fps.least, Number(fps.value) || limits.fps.usual));
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
                    const small = await session.thumbnail(held, frame, limits.thumbnailStep);
                    const canvas = thumb.firstChild;
                    canvas.width = small.width;
                    canvas.height = small.height;
                    canvas.getContext('2d').putImageData(new ImageData(new Uint8ClampedArray(small.rgba.buffer), small.width, small.height), 0, 0);
                } catch {
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
                element('canvas', { width: Math.ceil(image.width / limits.thumbnailStep), height: Math.ceil(image.height / limits.thumbnailStep) }));
            thumb.addEventListener('click', () => { stop(); show(frame).catch((error) => message(error.message)); });
            thumbs.append(thumb);
            watcher.observe(thumb);
        });
        held.forget = () => { stop(); watcher.disconnect(); kept.clear(); };

        area.append(player, thumbs);
        if (firstPixels) keep(0, firstPixels);
        show(0).catch((error) => message(error.message));
    }

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


    // Long work, shown in the progress bar while any runs.
    const running = new Set();
    const progress = {
        started(job) {
            running.add(job);
            progress.progressed(job, 0, 0);
        },
        progressed(job, done, total) {
            document.getElementById('progress').hidden = false;
            document.getElementById('progress-what').textContent = job.job;
            const meter = document.getElementById('progress-meter');
            if (total > 0) {
                meter.max = total;
                meter.value = done;
            } else {
                meter.removeAttribute('value');
            }
        },
        ended(job) {
            if (running.delete(job) && running.size === 0) document.getElementById('progress').hidden = true;
        },
    };

    // The list of originals to pack into, with the one chosen.
    function showTargets() {
        const select = document.getElementById('target');
        const target = session.target();
        select.replaceChildren(element('option', { value: '', text: 'no original (layout below)' }),
            ...session.opened.map((entry, k) => element('option', { value: k, text: entry.held.name })));
        select.value = target ? String(session.opened.findIndex((entry) => entry.held === target)) : '';
        document.getElementById('layout-choice').hidden = Boolean(target);
    }

    function showEdited() {
        const edited = session.edited();
        document.getElementById('edited-list').textContent = edited.length
            ? `${edited.length} edited ${edited.length === 1 ? 'image' : 'images'}: ${edited.map((file) => file.name).join(', ')}`
            : 'no edited images chosen';
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

    return {
        element, draw, save, message, guarded, progress,
        showStill, showFrames, describeFile, fileSection, showTargets, showEdited, showReport,
    };
})();
