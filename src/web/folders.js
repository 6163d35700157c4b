// A game folder opened: a section that lists its sources with their paths,
// each opened when asked, and a button that makes the folder's project.
// Nothing of a source is read until it is opened or the project is made.
/* global views */
/* exported folders */
'use strict';

const folders = (() => {
    const { element } = views;

    // `sources`: [{path, file}]; `other`: paths of .bin files of no
    // layout's size; actions: {open(source), project()}.
    function show(top, sources, other, actions) {
        const name = top + '/';
        const old = [...document.querySelectorAll('section.folder')].find((section) => section.dataset.folder === top);
        if (old) old.remove();
        const total = sources.reduce((sum, source) => sum + source.file.size, 0);
        const rows = sources.map((source) => element('li', {},
            element('span', { class: 'path', text: source.path }),
            ` · ${source.file.size.toLocaleString('en')} bytes `,
            element('button', { type: 'button', text: 'Open', 'aria-label': `Open ${source.path}`, onclick: views.guarded(() => actions.open(source), source.path) })));
        const project = element('button', { type: 'button', class: 'project', text: 'Download the project (zip)',
            'aria-label': `Download the project of ${top} (zip)`, onclick: views.guarded(actions.project, top) });
        const section = element('section', { class: 'folder', 'data-folder': top, 'aria-label': `folder ${top}` },
            element('h2', { text: name }),
            element('p', { class: 'what', text: `${sources.length} ${sources.length === 1 ? 'source' : 'sources'}, ${total.toLocaleString('en')} bytes`
                + (other.length ? ` · ${other.length} .bin ${other.length === 1 ? 'file' : 'files'} of no layout's size left alone` : '') }),
            element('p', {}, project, ' gives every image of every source as PNG, as ', element('code', { text: 'torv-project unpack' }),
                ' writes them; edit them, then “Build a project\'s changes” below.'),
            element('ul', { class: 'sources' }, ...rows));
        document.getElementById('files').prepend(section);
        return section;
    }

    return { show };
})();
