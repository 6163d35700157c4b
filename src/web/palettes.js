// The images of a file with their palettes beside them: a palette of 256
// entries that the arrow keys move through, the pixel under the pointer
// told, and the few images of most layouts each with its own. The player
// of a frame sequence (player.js) uses the same palette and pointer.
/* global limits, session, views */
/* exported palettes */
'use strict';

const palettes = (() => {
    // ---- Palettes and pixels ------------------------------------------------

    // The palette's 256 entries; the arrow keys move through them, each
    // told in `info` as pointing at a pixel tells it.
    function paletteGrid(imageName, info, currentPalette) {
        const grid = views.element('div', { class: 'palette', role: 'group', tabindex: 0,
            'aria-label': `palette of ${imageName}: arrow keys move through its 256 entries` });
        for (let k = 0; k < limits.paletteColumns * limits.paletteColumns; k++) grid.append(views.element('span'));
        let chosen = 0;
        const tell = () => {
            const palette = currentPalette();
            if (!palette) return;
            markEntry(grid, chosen);
            const colour = views.colourAt(palette, chosen);
            info.textContent = `entry ${chosen}: ${views.hex(colour)} (${colour.join(', ')})`;
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

    // "Palette: .gpl .pal .act": the palette shown, as the files GIMP, JASC
    // programs (Paint Shop Pro, GraphicsGale, Aseprite) and Adobe's load,
    // named after the image (`stem`-palette.gpl), colours as torv writes them.
    function paletteDownloads(stemNow, currentPalette, label) {
        const buttons = ['gpl', 'pal', 'act'].map((format) => views.element('button', {
            type: 'button', text: '.' + format, 'aria-label': `Download the palette of ${label} as .${format}`,
            onclick: views.guarded(async () => {
                const palette = currentPalette();
                if (!palette) throw new Error('the palette is not shown yet');
                const name = `${stemNow()}-palette`;
                views.save(`${name}.${format}`, await session.paletteFile(palette, format, name), 'application/octet-stream');
            }, label),
        }));
        return views.element('div', { class: 'palette-files' }, views.element('span', { text: 'Palette:' }), ...buttons);
    }

    function markEntry(grid, index) {
        const before = grid.querySelector('.marked');
        if (before) before.classList.remove('marked');
        if (index >= 0) grid.children[index].classList.add('marked');
    }

    function showPalette(grid, palette) {
        [...grid.children].forEach((swatch, k) => {
            const colour = views.colourAt(palette, k);
            swatch.style.background = views.hex(colour);
            swatch.title = `${k}: ${views.hex(colour)}`;
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
            const colour = views.colourAt(pixels.palette, index);
            info.textContent = `x ${x}, y ${y}: index ${index}, ${views.hex(colour)} (${colour.join(', ')})`;
            markEntry(grid, index);
        });
        canvas.addEventListener('mouseleave', () => markEntry(grid, -1));
    }

    // ---- The images of a file -------------------------------------------------

    // The few images of most layouts, each with its palette beside it.
    function showStill(held, area, firstPixels) {
        held.images.forEach((image, index) => {
            const canvas = views.element('canvas', { width: image.width, height: image.height });
            canvas.style.width = `calc(${image.width}px * var(--zoom))`;
            const info = views.element('output', { class: 'pixel-info', text: 'point at a pixel' });
            let pixels = null;
            const grid = paletteGrid(image.name, info, () => pixels && pixels.palette);
            followPointer(canvas, info, grid, () => pixels);
            const shown = (got) => {
                pixels = got;
                views.draw(canvas, got);
                showPalette(grid, got.palette);
            };
            if (index === 0 && firstPixels) shown(firstPixels);
            else session.pixelsOf(held, index).then(shown, (error) => views.message(error.message, 'error', held.name));
            const { buttons } = views.downloadButtons(held, () => index);
            area.append(views.element('figure', { class: 'image', 'data-name': image.name },
                views.element('div', { class: 'view' }, canvas,
                    views.element('figcaption', {}, views.element('span', { class: 'name', text: `${image.name} · ${image.width}×${image.height}` }), ...buttons)),
                views.element('div', { class: 'side' }, info, grid,
                    paletteDownloads(() => image.name.replace(/\.[^.]*$/, ''), () => pixels && pixels.palette, image.name))));
        });
    }

    return { paletteGrid, paletteDownloads, showPalette, followPointer, showStill };
})();
