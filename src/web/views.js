// What the page shows: images with their palettes and the pixel under the
// pointer (or the palette entry chosen with the keyboard), the player of a
// frame sequence and its thumbnails, a section for each file with its own
// messages, the index of open files, the bar of work under way, and the
// put-back panel's lists, report and comparison. Nothing here knows the
// worker; it asks the session.
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

    const colourAt = (palette, index) => [palette[3 * index], palette[3 * index + 1], palette[3 * index + 2]];

    // Draws the pixels at their size times the section's zoom (--zoom),
    // scaled down where the window is narrower.
    function draw(canvas, pixels) {
        canvas.width = pixels.width;
        canvas.height = pixels.height;
        canvas.style.width = `calc(${pixels.width}px * var(--zoom))`;
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

    // ---- Messages ---------------------------------------------------------

    const messagesKept = 50;

    // A message, in the list at the top and, when it is about an open file,
    // by that file's section too.
    function message(text, kind = 'error', about = '') {
        const list = document.getElementById('message');
        const line = element('p', { class: kind, 'data-about': about });
        if (about) line.append(element('span', { class: 'about', text: about + ':' }));
        line.append(element('span', { class: 'text', text }));
        list.prepend(line);
        while (list.childElementCount > messagesKept) list.lastElementChild.remove();
        document.getElementById('messages').hidden = false;
        const entry = about ? session.opened.find((candidate) => candidate.held.name === about) : null;
        const section = entry ? entry.section : sectionOf(about);
        if (section) section.querySelector('.file-messages').prepend(element('p', { class: kind, text }));
    }

    const sectionOf = (name) => [...document.querySelectorAll('section.file')].find((section) => section.dataset.file === name);

    // Runs an action of a control; a failure becomes a message about
    // `about` (a cancel says so quietly).
    function guarded(action, about = '') {
        return async (...args) => {
            try {
                await action(...args);
            } catch (error) {
                message(error.message, error.code === 'cancelled' ? 'note' : 'error', about);
            }
        };
    }

    // ---- Palettes and pixels ------------------------------------------------

    // The palette's 256 entries; the arrow keys move through them, each
    // told in `info` as pointing at a pixel tells it.
    function paletteGrid(imageName, info, currentPalette) {
        const grid = element('div', { class: 'palette', role: 'group', tabindex: 0,
            'aria-label': `palette of ${imageName}: arrow keys move through its 256 entries` });
        for (let k = 0; k < limits.paletteColumns * limits.paletteColumns; k++) grid.append(element('span'));
        let chosen = 0;
        const tell = () => {
            const palette = currentPalette();
            if (!palette) return;
            markEntry(grid, chosen);
            const colour = colourAt(palette, chosen);
            info.textContent = `entry ${chosen}: ${hex(colour)} (${colour.join(', ')})`;
        };
        grid.addEventListener('focus', tell);
        grid.addEventListener('keydown', (event) => {
            const moves = { ArrowRight: 1, ArrowLeft: -1, ArrowDown: limits.paletteColumns, ArrowUp: -limits.paletteColumns, Home: -256, End: 256 };
            if (moves[event.key] === undefined) return;
            event.preventDefault();
            chosen = Math.min(255, Math.max(0, chosen + moves[event.key]));
            tell();
        });
        return grid;
    }

    function markEntry(grid, index) {
        const before = grid.querySelector('.marked');
        if (before) before.classList.remove('marked');
        if (index >= 0) grid.children[index].classList.add('marked');
    }

    function showPalette(grid, palette) {
        [...grid.children].forEach((swatch, k) => {
            const colour = colourAt(palette, k);
            swatch.style.background = hex(colour);
            swatch.title = `${k}: ${hex(colour)}`;
        });
    }

    // Pointing at a pixel of `canvas` tells its place, index and colour in
    // `info`, and marks its entry in `grid`.
    function followPointer(canvas, info, grid, currentPixels) {
        canvas.addEventListener('mousemove', (event) => {
            const pixels = currentPixels();
            if (!pixels) return;
            const box = canvas.getBoundingClientRect();
            const x = Math.floor((event.clientX - box.left) * pixels.width / box.width);
            const y = Math.floor((event.clientY - box.top) * pixels.height / box.height);
            if (x < 0 || y < 0 || x >= pixels.width || y >= pixels.height) return;
            const index = pixels.indices[y * pixels.width + x];
            const colour = colourAt(pixels.palette, index);
            info.textContent = `x ${x}, y ${y}: index ${index}, ${hex(colour)} (${colour.join(', ')})`;
            markEntry(grid, index);
        });
        canvas.addEventListener('mouseleave', () => markEntry(grid, -1));
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

    function downloadButtons(held, indexOf) {
        const nameNow = () => held.images[indexOf()].name;
        const bmp = element('button', { type: 'button', text: 'BMP', onclick: guarded(async () => {
            const image = held.images[indexOf()];
            save(image.name, await image.bmp(), 'image/bmp');
        }, held.name) });
        const png = element('button', { type: 'button', text: 'PNG', onclick: guarded(async () => {
            const image = held.images[indexOf()];
            save(pngName(image.name), await image.png(), 'image/png');
        }, held.name) });
        const name = () => {
            bmp.setAttribute('aria-label', `Download ${nameNow()} as BMP`);
            png.setAttribute('aria-label', `Download ${nameNow()} as PNG`);
        };
        name();
        return { buttons: [bmp, png], name };
    }

    // ---- The images of a file -------------------------------------------------

    // The few images of most layouts, each with its palette beside it.
    function showStill(held, area, firstPixels) {
        held.images.forEach((image, index) => {
            const canvas = element('canvas', { width: image.width, height: image.height });
            canvas.style.width = `calc(${image.width}px * var(--zoom))`;
            const info = element('output', { class: 'pixel-info', text: 'point at a pixel' });
            let pixels = null;
            const grid = paletteGrid(image.name, info, () => pixels && pixels.palette);
            followPointer(canvas, info, grid, () => pixels);
            const shown = (got) => {
                pixels = got;
                draw(canvas, got);
                showPalette(grid, got.palette);
            };
            if (index === 0 && firstPixels) shown(firstPixels);
            else session.pixelsOf(held, index).then(shown, (error) => message(error.message, 'error', held.name));
            const { buttons } = downloadButtons(held, () => index);
            area.append(element('figure', { class: 'image', 'data-name': image.name },
                element('div', { class: 'view' }, canvas,
                    element('figcaption', {}, element('span', { class: 'name', text: `${image.name} · ${image.width}×${image.height}` }), ...buttons)),
                element('div', { class: 'side' }, info, grid)));
        });
    }

    // A frames-per-second value within what the player plays at: the value
    // and whether it had to be clamped.
    function clampedFps(value) {
        const wanted = Number(value);
        if (!Number.isFinite(wanted) || value === '') return { fps: limits.fps.usual, clamped: true };
        const fps = Math.min(limits.fps.most, Math.max(limits.fps.least, Math.round(wanted)));
        return { fps, clamped: fps !== wanted };
    }

    // A frame sequence: a player over one frame at a time, its thumbnails
    // inside it (one stop for Tab), and its animation as a GIF.
    function showFrames(held, area, firstPixels) {
        const count = held.images.length;
        const canvas = element('canvas', { width: held.images[0].width, height: held.images[0].height });
        canvas.style.width = `calc(${held.images[0].width}px * var(--zoom))`;
        const info = element('output', { class: 'pixel-info', text: 'point at a pixel' });
        let pixels = null;
        const grid = paletteGrid(held.name + "'s frame", info, () => pixels && pixels.palette);
        const slider = element('input', { type: 'range', min: 0, max: count - 1, value: 0, 'aria-label': `frame of ${held.name}` });
        const fps = element('input', { type: 'number', min: limits.fps.least, max: limits.fps.most, value: limits.fps.usual, 'aria-label': `frames per second of ${held.name}` });
        const fpsNote = element('output', { class: 'note fps-note' });
        const where = element('output', { class: 'frame-name' });
        const play = element('button', { type: 'button', class: 'play', text: 'Play', 'aria-label': `Play ${held.name}`, 'aria-pressed': 'false' });
        const previous = element('button', { type: 'button', text: '◀', 'aria-label': `previous frame of ${held.name}` });
        const next = element('button', { type: 'button', text: '▶', 'aria-label': `next frame of ${held.name}` });
        const kept = new Map(); // frame -> pixels, the most recent last
        let current = 0;
        let timer = null;
        let wanted = 0; // the frame to show once its pixels come
        const downloads = downloadButtons(held, () => current);
        const gif = element('button', { type: 'button', text: 'GIF', 'aria-label': `Download ${held.name}'s animation as GIF`, onclick: guarded(async () => {
            const stem = held.images[0].name.replace(/000\.bmp$/, '');
            save(stem + '.gif', await session.gif(held), 'image/gif');
        }, held.name) });

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

        const thumbs = element('div', { class: 'thumbs', role: 'group', 'aria-label': `frames of ${held.name}: arrow keys step` });

        async function show(frame) {
            frame = (frame + count) % count;
            wanted = frame;
            slider.value = frame;
            where.textContent = `frame ${frame + 1} of ${count} · ${held.images[frame].name}`;
            const got = await pixelsOf(frame);
            if (wanted !== frame) return;
            const before = thumbs.children[current];
            current = frame;
            pixels = got;
            draw(canvas, got);
            showPalette(grid, got.palette);
            downloads.name();
            player.dataset.image = held.images[frame].name;
            // One thumbnail at a time is reached by Tab: the current one.
            if (before) {
                before.classList.remove('current');
                before.tabIndex = -1;
            }
            const thumb = thumbs.children[frame];
            if (thumb) {
                thumb.classList.add('current');
                thumb.tabIndex = 0;
                if (thumbs.contains(document.activeElement)) thumb.focus();
            }
        }

        function stop() {
            clearTimeout(timer);
            timer = null;
            play.textContent = 'Play';
            play.setAttribute('aria-pressed', 'false');
        }

        function fpsNow() {
            const { fps: value, clamped } = clampedFps(fps.value);
            if (clamped) {
                fps.value = value;
                fpsNote.textContent = `clamped to ${value} (${limits.fps.least} to ${limits.fps.most})`;
            }
            return value;
        }

        function tick() {
            const started = performance.now();
            show(current + 1).then(() => {
                if (timer === null) return;
                timer = setTimeout(tick, Math.max(0, 1000 / fpsNow() - (performance.now() - started)));
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

        const shown = (frame) => show(frame).catch((error) => message(error.message, 'error', held.name));
        const step = (by) => { stop(); shown(current + by); };
        play.addEventListener('click', toggle);
        previous.addEventListener('click', () => step(-1));
        next.addEventListener('click', () => step(1));
        slider.addEventListener('input', () => { stop(); shown(Number(slider.value)); });
        fps.addEventListener('change', () => {
            fpsNote.textContent = '';
            fpsNow();
        });

        const player = element('div', { class: 'player', role: 'group', 'aria-label': `player of ${held.name}: space plays or pauses, arrows step` },
            element('div', { class: 'stage' }, element('div', { class: 'view', role: 'group', tabindex: 0, 'aria-label': `frame of ${held.name}: space plays or pauses, arrows step` }, canvas),
                element('div', { class: 'side' }, info, grid)),
            element('div', { class: 'controls' },
                element('span', { class: 'group' }, play, previous, slider, next),
                element('span', { class: 'group' }, element('label', {}, fps, ' fps'), fpsNote),
                where,
                element('span', { class: 'group' }, ...downloads.buttons, gif)),
            thumbs);
        player.addEventListener('keydown', (event) => {
            const inField = event.target.tagName === 'INPUT';
            const onButton = event.target.tagName === 'BUTTON';
            if (inField || event.target.classList.contains('palette')) return;
            const keys = { ArrowLeft: () => step(-1), ArrowRight: () => step(1), Home: () => step(-current), End: () => step(count - 1 - current) };
            if (!onButton) keys[' '] = toggle;
            if (keys[event.key]) {
                event.preventDefault();
                keys[event.key]();
            }
        });

        // Thumbnails are made when they come into view, one request at a time.
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
                    const canvasOf = thumb.firstChild;
                    canvasOf.width = small.width;
                    canvasOf.height = small.height;
                    canvasOf.getContext('2d').putImageData(new ImageData(new Uint8ClampedArray(small.rgba.buffer), small.width, small.height), 0, 0);
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
        // One listener for every thumbnail, not one each.
        thumbs.addEventListener('click', (event) => {
            const thumb = event.target.closest('.thumb');
            if (thumb) step(Number(thumb.dataset.frame) - current);
        });
        held.images.forEach((image, frame) => {
            const thumb = element('button', { type: 'button', class: 'thumb', 'data-name': image.name, 'data-frame': frame, title: image.name,
                'aria-label': image.name, tabindex: frame === 0 ? 0 : -1 },
            element('canvas', { width: Math.ceil(image.width / limits.thumbnailStep), height: Math.ceil(image.height / limits.thumbnailStep) }));
            thumbs.append(thumb);
            watcher.observe(thumb);
        });
        held.forget = () => { stop(); watcher.disconnect(); queue.length = 0; kept.clear(); };

        area.append(player);
        if (firstPixels) keep(0, firstPixels);
        shown(0);
    }

    // ---- Files ------------------------------------------------------------------

    // A layout's name as a person says it.
    function plainLayout(layout, count) {
        const names = {
            frame_sequence: `animation, ${count} ${count === 1 ? 'frame' : 'frames'}`,
            raw_triple: 'three images, uncompressed',
            three_panel_block: 'three panels, compressed',
            single_picture_block: 'one picture, compressed',
            four_image_block: 'four images, compressed',
        };
        return names[layout] || layout;
    }

    function describeFile(held) {
        const sizesSeen = [...new Set(held.images.map((image) => `${image.width}×${image.height}`))];
        return `${plainLayout(held.layout, held.images.length)}: ${sizesSeen.join(', ')} · ${held.bytes.length.toLocaleString('en')} bytes`;
    }

    let sectionsMade = 0;

    // A file's section: its name, a button that folds it, what it is, its
    // messages, and its body.
    function fileSection(name) {
        sectionsMade += 1;
        const body = element('div', { class: 'body', id: 'file-body-' + sectionsMade });
        const fold = element('button', { type: 'button', class: 'fold', text: 'Fold', 'aria-expanded': 'true',
            'aria-controls': body.id, 'aria-label': `Fold ${name}` });
        fold.addEventListener('click', () => {
            const folding = !body.hidden;
            body.hidden = folding;
            fold.textContent = folding ? 'Unfold' : 'Fold';
            fold.setAttribute('aria-expanded', String(!folding));
            fold.setAttribute('aria-label', `${folding ? 'Unfold' : 'Fold'} ${name}`);
        });
        const section = element('section', { class: 'file', id: 'file-' + sectionsMade, 'data-file': name, 'aria-label': name },
            element('div', { class: 'file-head' }, element('h2', { text: name }), fold),
            element('p', { class: 'what', text: 'opening…' }),
            element('div', { class: 'file-messages', 'aria-live': 'polite' }),
            body);
        document.getElementById('files').prepend(section);
        return section;
    }

    // The index of open files at the top.
    function showIndex() {
        const index = document.getElementById('index');
        index.querySelector('ul').replaceChildren(...session.opened.map((entry) => element('li', {},
            element('a', { href: '#' + entry.section.id, text: entry.held.name }),
            ` · ${plainLayout(entry.held.layout, entry.held.images.length)}`)));
        index.hidden = session.opened.length === 0;
        document.body.classList.toggle('has-files', session.opened.length > 0);
        document.getElementById('put-back').hidden = session.opened.length === 0 && session.edited().length === 0;
    }

    // ---- Work under way -----------------------------------------------------------

    // Long work, shown in the bar at the foot of the window while any runs.
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

    // ---- Putting back -------------------------------------------------------------

    // The list of originals to pack into, with the one chosen.
    function showTargets() {
        const select = document.getElementById('target');
        const target = session.target();
        select.replaceChildren(element('option', { value: '', text: 'no original (layout below)' }),
            ...session.opened.map((entry, k) => element('option', { value: k, text: entry.held.name })));
        select.value = target ? String(session.opened.findIndex((entry) => entry.held === target)) : '';
        document.getElementById('layout-choice').hidden = Boolean(target);
        showIndex();
    }

    const foldedFrom = 6; // edited images listed by name up to this many

    function showEdited() {
        const edited = session.edited();
        const box = document.getElementById('edited-list');
        const counted = `${edited.length} edited ${edited.length === 1 ? 'image' : 'images'}`;
        if (edited.length === 0) box.replaceChildren('no edited images chosen');
        else if (edited.length < foldedFrom) box.replaceChildren(`${counted}: ${edited.map((file) => file.name).join(', ')}`);
        else {
            box.replaceChildren(element('details', {}, element('summary', { text: counted }),
                element('p', { text: edited.map((file) => file.name).join(', ') })));
        }
        showIndex();
    }

    // What a packing did, in view: the file, the room used, the notes.
    function showReport(result, held) {
        const box = document.getElementById('report');
        const lines = [element('p', { class: 'done', text: `${result.name} packed${held ? ' (original: ' + held.name + ')' : ''} and downloaded` })];
        for (const line of result.report) {
            const paragraph = element('p', { text: line });
            const room = result.rooms.find((entry) => line.startsWith(entry.part + ': '));
            if (room) {
                paragraph.append(element('meter', { min: 0, max: room.room, value: room.used, high: room.room * 0.95, 'aria-label': line }));
            }
            lines.push(paragraph);
        }
        for (const note of result.notes) lines.push(element('p', { class: 'note', text: note }));
        box.replaceChildren(...lines);
        box.scrollIntoView({ block: 'nearest' });
        box.focus({ preventScroll: true });
    }

    // Each changed image beside the original's, its changed pixels marked.
    function showComparison(changes) {
        const box = document.getElementById('report');
        for (const { name, before, after } of changes) {
            const marks = element('canvas', { class: 'changes' });
            draw(marks, after);
            const context = marks.getContext('2d');
            const picture = context.getImageData(0, 0, after.width, after.height);
            let changed = 0;
            for (let k = 0; k < after.indices.length; k++) {
                const was = colourAt(before.palette, before.indices[k]);
                const now = colourAt(after.palette, after.indices[k]);
                const same = was[0] === now[0] && was[1] === now[1] && was[2] === now[2];
                if (same) {
                    for (let c = 0; c < 3; c++) picture.data[4 * k + c] = (picture.data[4 * k + c] >> 2) + 96;
                } else {
                    changed += 1;
                    picture.data.set([255, 0, 255, 255], 4 * k);
                }
            }
            context.putImageData(picture, 0, 0);
            const shownAs = (pixels, caption) => {
                const canvas = element('canvas');
                draw(canvas, pixels);
                return element('figure', {}, element('div', { class: 'view' }, canvas), element('figcaption', { text: caption }));
            };
            box.append(element('div', { class: 'compare', 'data-name': name, 'data-changed': changed },
                shownAs(before, `${name}: the original`),
                shownAs(after, `${name}: packed`),
                element('figure', {}, element('div', { class: 'view' }, marks),
                    element('figcaption', { text: `${changed.toLocaleString('en')} ${changed === 1 ? 'pixel' : 'pixels'} changed (marked)` }))));
        }
    }

    return {
        element, draw, save, message, guarded, progress, plainLayout,
        showStill, showFrames, describeFile, fileSection, showIndex, showTargets, showEdited, showReport, showComparison,
    };
})();
