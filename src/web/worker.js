// The page's worker: runs the WebAssembly module (createTorv, placed before
// this script) so that the page never waits on it. The messages are those
// client.js describes: {type: 'request', id, op, ...} in; 'progress',
// 'first', 'chunk', then 'result' or 'error' out. Long work is cancelled by ending the
// worker: the page starts another.
'use strict';

const modulePromise = createTorv();
// Progress is told at most this often (ms), and always at the end.
const progressInterval = 50;

// The ArrayBuffers of a result, handed over rather than copied.
function transferables(value, found = []) {
    if (value instanceof Uint8Array) {
        found.push(value.buffer);
    } else if (value && typeof value === 'object') {
        for (const key of Object.keys(value)) transferables(value[key], found);
    }
    return found;
}

function progressTeller(id) {
    let last = 0;
    return (done, total) => {
        const now = Date.now();
        if (now - last >= progressInterval || done === total) {
            last = now;
            self.postMessage({ type: 'progress', id, done, total });
        }
    };
}

// What went wrong in the module: its words, its code and its facts. A trap
// (memory out of bounds, an abort) leaves the module unusable.
function describe(error) {
    if (error instanceof WebAssembly.RuntimeError) {
        return { message: 'the page\'s WebAssembly failed: ' + error.message, code: 'broken' };
    }
    const described = { message: error && error.message ? error.message : String(error), code: 'failed' };
    for (const fact of ['code', 'file', 'x', 'y', 'colour', 'needed', 'room']) {
        if (error && error[fact] !== undefined) described[fact] = error[fact];
    }
    return described;
}

const hex = (digest) => [...new Uint8Array(digest)].map((b) => b.toString(16).padStart(2, '0')).join('');

// A Blob's bytes, read at once (as a worker may), or null if the browser
// cannot read it (a file changed or removed since it was chosen).
function readBlob(blob) {
    try {
        return new Uint8Array(new FileReaderSync().readAsArrayBuffer(blob));
    } catch {
        return null;
    }
}

const operations = {
    sizes: (torv) => torv.layoutSizes(),
    open: (torv, request) => {
        const tell = progressTeller(request.id);
        const size = request.bytes.length;
        const opened = torv.openFile(request.bytes, request.name, (index, name, pixels, offset) => {
            if (pixels) self.postMessage({ type: 'first', id: request.id, pixels }, transferables(pixels));
            tell(offset, size);
        });
        tell(size, size);
        return opened;
    },
    close: (torv, request) => torv.closeFile(request.handle),
    image: (torv, request) => torv.imageFile(request.handle, request.index, request.kind),
    thumbnail: (torv, request) => torv.thumbnail(request.handle, request.index, request.step),
    zip: (torv, request) => torv.zipImages(request.handle, request.kind, progressTeller(request.id)),
    packBegin: (torv, request) => torv.packBegin(request.images, request.original, request.options, readBlob),
    packPrepare: (torv, request) => torv.packPrepare(request.job, request.first, request.count, request.read),
    packFinish: (torv, request) => torv.packFinish(request.job, request.batches, request.read, progressTeller(request.id)),
    packEnd: (torv, request) => torv.packEnd(request.job),
    refusal: (torv, request) => torv.refusalOfSize(request.name, request.size),
    gif: (torv, request) => torv.gifOf(request.handle),
    sourcesOf: (torv, request) => torv.sourcesOf(request.files),
    projectBegin: (torv, request) => torv.projectBegin(request.paths),
    // One source of a project, read here (one at a time, whatever the
    // folder's size) and its SHA-256 the browser's where it has it (pages
    // from disk and secure origins), a tenth of the time WebAssembly takes.
    projectAdd: async (torv, request) => {
        const bytes = readBlob(request.file);
        if (!bytes) throw new Error(`cannot read ${request.path}: the browser could not read it (changed or removed since chosen?)`);
        const sha256 = self.crypto && crypto.subtle ? hex(await crypto.subtle.digest('SHA-256', bytes)) : '';
        return torv.projectAdd(request.job, request.path, bytes, sha256, Boolean(request.gif));
    },
    projectFinish: (torv, request) => torv.projectFinish(request.job),
    zipNames: (torv, request) => torv.zipNames(request.bytes, request.most),
    applyPatch: (torv, request) => torv.applyPatch(request.patch, request.source),
    applyPatches: (torv, request) => torv.applyPatches(request.patches, request.files, readBlob,
        (bytes) => self.postMessage({ type: 'chunk', id: request.id, bytes }, [bytes.buffer]), request.most, request.alone),
    paletteFile: (torv, request) => torv.paletteFile(request.colours, request.format, request.name),
    zipFiles: (torv, request) => torv.zipFiles(request.bytes, request.most),
    build: (torv, request) => torv.buildProject(request.project, request.originals,
        { nearest: Boolean(request.nearest), fit: Boolean(request.fit) }, request.most, readBlob),
};

self.onmessage = async (event) => {
    const request = event.data;
    if (request.type !== 'request' || !operations[request.op]) return;
    let torv;
    try {
        torv = await modulePromise;
    } catch (error) {
        const why = describe(error);
        self.postMessage({ type: 'error', id: request.id, error: { message: 'the page could not start its WebAssembly: ' + why.message, code: 'broken' } });
        return;
    }
    try {
        const value = await operations[request.op](torv, request);
        self.postMessage({ type: 'result', id: request.id, value }, transferables(value));
    } catch (error) {
        self.postMessage({ type: 'error', id: request.id, error: describe(error), broken: error instanceof WebAssembly.RuntimeError });
    }
};
