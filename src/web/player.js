// A frame sequence's player: one frame at a time with its palette, played
// at a frames-per-second value kept within what it plays at, stepped by
// the arrow keys, with thumbnails made as they come into view, and the
// animation as a GIF.
/* global limits, palettes, session, views */
/* exported player */
'use strict';

const player = (() => {
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
        const canvas = views.element('canvas', { width: held.images[0].width, height: held.images[0].height });
        canvas.style.width = `calc(${held.images[0].width}px * var(--zoom))`;
        const info = views.element('output', { class: 'pixel-info', text: 'point at a pixel' });
        let pixels = null;
        const grid = palettes.paletteGrid(held.name + "'s frame", info, () => pixels && pixels.palette);
        const slider = views.element('input', { type: 'range', min: 0, max: count - 1, value: 0, 'aria-label': `frame of ${held.name}` });
        const fps = views.element('input', { type: 'number', min: limits.fps.least, max: limits.fps.most, value: limits.fps.usual, 'aria-label': `frames per second of ${held.name}` });
        const fpsNote = views.element('output', { class: 'note fps-note' });
        const where = views.element('output', { class: 'frame-name' });
        // Its name says what it does now, as its text does: Play, or Pause.
        const play = views.element('button', { type: 'button', class: 'play', text: 'Play', 'aria-label': `Play ${held.name}` });
        const previous = views.element('button', { type: 'button', text: '◀', 'aria-label': `previous frame of ${held.name}` });
        const next = views.element('button', { type: 'button', text: '▶', 'aria-label': `next frame of ${held.name}` });
        const kept = new Map(); // frame -> pixels, the most recent last
        let current = 0;
        let timer = null;
        let wanted = 0; // the frame to show once its pixels come
        const downloads = views.downloadButtons(held, () => current);
        const gif = views.element('button', { type: 'button', text: 'GIF', 'aria-label': `Download ${held.name}'s animation as GIF`, onclick: views.guarded(async () => {
            const stem = held.images[0].name.replace(/000\.bmp$/, '');
            views.save(stem + '.gif', await session.gif(held), 'image/gif');
        }, held.name) });

        palettes.followPointer(canvas, info, grid, () => pixels);

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

        const thumbs = views.element('div', { class: 'thumbs', role: 'group', 'aria-label': `frames of ${held.name}: arrow keys step` });

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
            views.draw(canvas, got);
            palettes.showPalette(grid, got.palette);
            downloads.name();
            shell.dataset.image = held.images[frame].name;
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
            play.setAttribute('aria-label', `Play ${held.name}`);
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
            play.setAttribute('aria-label', `Pause ${held.name}`);
            timer = setTimeout(tick, 0);
        }

        const shown = (frame) => show(frame).catch((error) => views.message(error.message, 'error', held.name));
        const step = (by) => { stop(); shown(current + by); };
        play.addEventListener('click', toggle);
        previous.addEventListener('click', () => step(-1));
        next.addEventListener('click', () => step(1));
        slider.addEventListener('input', () => { stop(); shown(Number(slider.value)); });
        fps.addEventListener('change', () => {
            fpsNote.textContent = '';
            fpsNow();
        });

        const shell = views.element('div', { class: 'player', role: 'group', 'aria-label': `player of ${held.name}: space plays or pauses, arrows step` },
            views.element('div', { class: 'stage' }, views.element('div', { class: 'view', role: 'group', tabindex: 0, 'aria-label': `frame of ${held.name}: space plays or pauses, arrows step` }, canvas),
                views.element('div', { class: 'side' }, info, grid,
                    palettes.paletteDownloads(() => held.images[current].name.replace(/\.[^.]*$/, ''), () => pixels && pixels.palette,
                        `${held.name}'s frame`))),
            views.element('div', { class: 'controls' },
                views.element('span', { class: 'group' }, play, previous, slider, next),
                views.element('span', { class: 'group' }, views.element('label', {}, fps, ' fps'), fpsNote),
                where,
                views.element('span', { class: 'group' }, ...downloads.buttons, gif)),
            thumbs);
        shell.addEventListener('keydown', (event) => {
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
            const thumb = views.element('button', { type: 'button', class: 'thumb', 'data-name': image.name, 'data-frame': frame, title: image.name,
                'aria-label': image.name, tabindex: frame === 0 ? 0 : -1 },
            views.element('canvas', { width: Math.ceil(image.width / limits.thumbnailStep), height: Math.ceil(image.height / limits.thumbnailStep) }));
            thumbs.append(thumb);
            watcher.observe(thumb);
        });
        held.forget = () => { stop(); watcher.disconnect(); queue.length = 0; kept.clear(); };

        area.append(shell);
        if (firstPixels) keep(0, firstPixels);
        shown(0);
    }

    return { clampedFps, showFrames };
})();
