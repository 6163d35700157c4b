// Building a project's changes: the project's zip, edited (chosen, or
// dropped anywhere on the page), with the game folder it was made from
// (chosen, or the folder open already). Only the game files the build
// needs are read: those of the sources whose images changed.
/* global limits, session, views */
/* exported building */
'use strict';

const building = (() => {
    let dropped = null; // a project's zip dropped on the page
    let folderOpen = () => null;

    const input = (id) => document.getElementById(id);
    const within = (file) => session.withinFolder(file.webkitRelativePath || file.name);

    function show() {
        const project = input('project-in').files[0] || dropped;
        const chosen = input('game-in').files.length;
        const folder = folderOpen();
        input('build-chosen').textContent = `${project ? 'project: ' + project.name : 'no project chosen'} · `
            + (chosen ? `the game: ${chosen} files chosen` : folder ? `the game: the folder ${folder.top}/ open already` : 'no game folder chosen');
    }

    async function build() {
        const project = input('project-in').files[0] || dropped;
        const chosen = [...input('game-in').files].map((file) => ({ path: within(file), file }));
        const folder = folderOpen();
        const game = chosen.length ? chosen : folder ? folder.files : [];
        if (!project || game.length === 0) throw new Error('choose the project\'s zip and the game folder it was made from');
        limits.checkSize(project.name, project.size);
        let built;
        try {
            built = await session.build(new Uint8Array(await project.arrayBuffer()), game.filter(({ path }) => /\.bin$/i.test(path)), {
                nearest: input('build-nearest').checked,
                fit: input('build-fit').checked });
        } catch (error) {
            views.messages(error.message.split('\n'), error.code === 'cancelled' ? 'note' : 'error', project.name);
            return;
        }
        views.messages(built.report, 'note', project.name);
        if (!built.bytes) {
            views.message('nothing changed: nothing to build', 'note', project.name);
            return;
        }
        const name = project.name.replace(/(-project)?\.zip$/i, '') + '-build.zip';
        views.save(name, built.bytes, 'application/zip');
        views.message(`the changed files and their patches downloaded as ${name}: put build/'s files in place of the game's (keep the originals), or share patches/`, 'done', project.name);
    }

    return {
        refresh: show,
        setUp(lastFolder) {
            folderOpen = lastFolder;
            input('build').addEventListener('click', views.guarded(build));
            input('project-in').addEventListener('change', () => {
                dropped = null;
                show();
            });
            input('game-in').addEventListener('change', show);
            show();
        },
        // A project's zip dropped on the page: built with the folder open,
        // or with the folder chosen next.
        takeProject(file, folder) {
            dropped = file;
            input('building').open = true;
            show();
            views.message(`${file.name} is a project: press Build to make what changed`
                + (folder ? ` from the folder ${folder.top}/` : ', once the game folder it was made from is chosen'), 'note', file.name);
            input('building').scrollIntoView({ block: 'nearest' });
        },
    };
})();
