// Applying a mod: the patches chosen (.bps files, a folder of them, a zip
// of them) and the game's files (its folder, or some of its files), each
// patch matched to its file by path, then by size and CRC32, every match
// checked before anything is patched. Applied as soon as both are there;
// the patched files download under the game's own names, one alone or
// several as a zip laid out as the game folder.
/* global session, views */
/* exported patching */
'use strict';

const patching = (() => {
    // {path, file}: patches from the patch controls or dropped; the game's
    // files by where they came from: the controls here ('folder' and
    // 'files'), which are used if chosen, else the game folder opened on
    // the page ('open').
    let patches = [];
    let patchesFrom = ''; // a name to call the result by
    const game = { folder: [], files: [], open: [] };
    const gameNames = { folder: '', files: '', open: '' };

    const chosenHere = () => game.folder.length + game.files.length > 0;
    const gameFiles = () => (chosenHere() ? [...game.folder, ...game.files] : game.open);
    const gameName = () => (chosenHere() ? gameNames.folder : gameNames.open);
    const count = (n, one, many) => `${n} ${n === 1 ? one : many}`;

    function show() {
        const chosen = document.getElementById('patch-chosen');
        const files = gameFiles();
        chosen.textContent = (patches.length ? `${count(patches.length, 'patch file', 'patch files')}: ${patches.map((patch) => patch.path).join(', ')}` : 'no patch chosen')
            + ' · ' + (files.length ? `the game: ${gameName() || count(files.length, 'file', 'files')}` : 'no game files chosen');
    }

    function open() {
        document.getElementById('patching').open = true;
        show();
    }

    // The result's name: the mod's zip's, the folder's, or plain.
    function madeName() {
        if (patchesFrom) return patchesFrom.replace(/\/$/, '').replace(/\.zip$/i, '') + '-patched.zip';
        return (gameName() ? gameName().replace(/\/$/, '') : 'game') + '-patched.zip';
    }

    async function apply() {
        if (patches.length === 0) throw new Error('choose the patches: .bps files, a folder of them or the mod\'s zip');
        if (gameFiles().length === 0) throw new Error('choose the game\'s folder (or its files) the patches are for');
        const about = patchesFrom || 'patches';
        let made;
        try {
            // A single .bps gives its file alone; a mod's zip or folder a zip.
            const alone = patches.length === 1 && !/\.zip$/i.test(patches[0].path) && !patchesFrom.endsWith('/');
            made = await session.applyPatches(patches, gameFiles(), { alone });
        } catch (error) {
            views.messages(error.message.split('\n'), error.code === 'cancelled' ? 'note' : 'error', about);
            return;
        }
        views.messages(made.report, 'note', about);
        if (made.bytes) {
            const name = session.baseName(made.path);
            views.save(name, made.bytes, 'application/octet-stream');
            views.message(`${made.path} downloaded: put it in place of the game's ${made.path}, and keep the original elsewhere`, 'done', about);
            return;
        }
        const name = madeName();
        views.save(name, made.zip, 'application/zip');
        views.message(`the patched files downloaded as ${name}: unzip it over the game folder (keep the originals elsewhere)`, 'done', about);
    }

    // Applies once both patches and the game are there.
    async function applyWhenReady() {
        show();
        if (patches.length && gameFiles().length) await apply();
    }

    return {
        // Patches given ([{path, file}]); `from` names where they came from.
        async addPatches(given, from) {
            const byPath = new Map(patches.map((patch) => [patch.path, patch]));
            for (const patch of given) byPath.set(patch.path, patch);
            patches = [...byPath.values()];
            patchesFrom = given.length === 1 && /\.zip$/i.test(given[0].path) ? given[0].path : from;
            open();
            views.message(`took ${count(given.length, 'patch file', 'patch files')}`
                + (gameFiles().length ? '' : ': now choose the game\'s folder they are for'), 'note', from || 'patches');
            await applyWhenReady();
        },
        // The game's files ([{path, file}]) from a folder or as files here,
        // or from the folder opened on the page (`from`: 'open').
        async setGame(files, name, from) {
            game[from] = files;
            gameNames[from] = name;
            // A folder opened on the page is the game only if none is chosen here.
            const changed = from !== 'open' || !chosenHere();
            if (patches.length && changed) await applyWhenReady();
            else show();
        },
        setUp() {
            const input = (id) => document.getElementById(id);
            const within = (file) => session.withinFolder(file.webkitRelativePath || file.name);
            input('patch-in').addEventListener('change', views.guarded(async () => {
                const files = [...input('patch-in').files];
                patches = [];
                await this.addPatches(files.map((file) => ({ path: file.name, file })), files.length === 1 ? files[0].name : '');
            }));
            input('patch-folder').addEventListener('change', views.guarded(async () => {
                const files = [...input('patch-folder').files].filter((file) => /\.bps$/i.test(file.name));
                const top = files.length ? files[0].webkitRelativePath.split('/')[0] : '';
                patches = [];
                await this.addPatches(files.map((file) => ({ path: within(file), file })), top + '/');
            }));
            input('patch-game').addEventListener('change', views.guarded(async () => {
                const files = [...input('patch-game').files];
                const top = files.length ? files[0].webkitRelativePath.split('/')[0] + '/' : '';
                await this.setGame(files.map((file) => ({ path: within(file), file })), top, 'folder');
            }));
            input('patch-source').addEventListener('change', views.guarded(async () => {
                const files = [...input('patch-source').files];
                await this.setGame(files.map((file) => ({ path: file.name, file })), '', 'files');
            }));
            input('apply-patch').addEventListener('click', views.guarded(apply));
            show();
        },
    };
})();
