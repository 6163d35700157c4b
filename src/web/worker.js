// The page's worker: runs the WebAssembly module (createTorv, placed before
// this script) so that the page never waits on it. Each request is
// {id, op, ...}; each answer {id, result} or {id, error: {message, code,
// ...facts}}, with {id, progress: {done, total}} and {id, first: pixels} on
// the way. Long work is cancelled by ending the worker: the page starts
// another.
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
            self.postMessage({ id, progress: { done, total } });
        }
    };
}

// What went wrong in the module: its words, its code and its facts.
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

const operations = {
    sizes: (torv) => torv.layoutSizes(),
    open: (torv, request) => {
        const tell = progressTeller(request.id);
        const size = request.bytes.length;
        const opened = torv.openFile(request.bytes, request.name, (index, name, pixels, offset) => {
            if (pixels) self.postMessage({ id: request.id, first: pixels }, transferables(pixels));
            tell(offset, size);
        });
        tell(size, size);
        return opened;
    },
    close: (torv, request) => torv.closeFile(request.handle),
    image: (torv, request) => torv.imageFile(request.handle, request.index, request.kind),
    thumbnail: (torv, request) => torv.thumbnail(request.handle, request.index, request.step),
    zip: (torv, request) => torv.zipImages(request.handle, request.kind, progressTeller(request.id)),
    pack: (torv, request) =>
        torv.packFiles(request.images, request.original, request.options, progressTeller(request.id)),
};

self.onmessage = async (event) => {
    const request = event.data;
    let torv;
    try {
        torv = await modulePromise;
    } catch (error) {
        const why = describe(error);
        self.postMessage({ id: request.id, error: { message: 'the page could not start its WebAssembly: ' + why.message, code: 'broken' } });
        return;
    }
    try {
        const result = operations[request.op](torv, request);
        self.postMessage({ id: request.id, result }, transferables(result));
    } catch (error) {
        // A trap (memory out of bounds, an abort) leaves the module unusable:
        // the page is told to start another worker.
        const broken = error instanceof WebAssembly.RuntimeError;
        self.postMessage({ id: request.id, error: describe(error), broken });
    }
};
