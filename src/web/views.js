// What the page shows: elements and pictures drawn, a section for each file
// with its own messages, the index of open files, the bar of work under way,
// and the put-back panel's lists, report and comparison (the images of a
// file with their palettes: palettes.js; a frame sequence's player:
// player.js). Nothing here knows the worker; it asks the session.
/* global session */
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
        if (section && section.querySelector('.file-messages')) section.querySelector('.file-messages').prepend(element('p', { class: kind, text }));
    }

    // Lines of one failure or report, each a message; lines alike (the same
    // words but for names and numbers) beyond the first few fold into one
    // that counts them.
    const alikeShown = 3;
    function messages(lines, kind = 'error', about = '') {
        const shapeOf = (line) => line.replace(/[^\s:]*[\d/.][^\s:]*/g, '…');
        const groups = new Map();
        for (const line of lines) {
            const shape = shapeOf(line);
            if (!groups.has(shape)) groups.set(shape, []);
            groups.get(shape).push(line);
        }
        const shown = [];
        for (const group of groups.values()) {
            shown.push(...group.slice(0, alikeShown));
            if (group.length > alikeShown) {
                shown.push(`… and ${(group.length - alikeShown).toLocaleString('en')} more like these (${group.length.toLocaleString('en')} in all)`);
            }
        }
        // The first line on top.
        for (const line of shown.reverse()) message(line, kind, about);
    }

    // The errors about a file are marked as past once it has worked.
    function markPast(about) {
        const entry = session.opened.find((candidate) => candidate.held.name === about);
        const section = entry ? entry.section : sectionOf(about);
        const old = [...document.querySelectorAll(`#message p.error`)].filter((line) => line.dataset.about === about);
        if (section) old.push(...section.querySelectorAll('.file-messages p.error'));
        for (const line of old) {
            line.classList.replace('error', 'past');
            line.prepend(element('span', { class: 'when', text: 'before: ' }));
        }
    }

    // What to do about a failure, where the words alone do not say it.
    function advice(error) {
        const said = {
            not_opaque: ': flatten the image (remove its transparency, in GIMP: Image › Flatten Image) and save it again',
        };
        return said[error.code] || '';
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
        element, hex, colourAt, draw, save, message, messages, markPast, advice, guarded, downloadButtons, progress, plainLayout,
        describeFile, fileSection, showIndex, showTargets, showEdited, showReport, showComparison,
    };
})();
