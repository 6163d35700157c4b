// The page's side of the worker (worker.js), which runs the WebAssembly
// module. Every message either way has a `type`:
//   page -> worker: {type: 'request', id, op, ...fields}
//   worker -> page: {type: 'progress', id, done, total}
//                   {type: 'first', id, pixels}      (the first image of a file being opened)
//                   {type: 'result', id, value}
//                   {type: 'error', id, error: {message, code, ...facts}, broken}
// An error is the one way a request fails: it rejects with an Error that has
// the message and the facts as fields. Long work is cancelled by ending the
// worker; a fresh one starts, and every request waiting rejects.
/* exported client */
'use strict';

const client = (() => {
    let worker = null;
    let generation = 0; // counts workers: a handle belongs to one
    let nextRequest = 1;
    const pending = new Map();
    // What the page shows of long work (see views.progress).
    let jobs = { started() {}, progressed() {}, ended() {} };

    const failure = (error) => Object.assign(new Error(error.message), error);

    function settle(id, settled) {
        const waiting = pending.get(id);
        if (!waiting) return;
        pending.delete(id);
        if (waiting.job) jobs.ended(waiting);
        settled(waiting);
    }

    const answers = {
        progress(message, waiting) {
            if (waiting.job) jobs.progressed(waiting, message.done, message.total);
            if (waiting.onProgress) waiting.onProgress(message.done, message.total);
        },
        first(message, waiting) {
            if (waiting.onFirst) waiting.onFirst(message.pixels);
        },
        result(message) {
            settle(message.id, (waiting) => waiting.resolve(message.value));
        },
        error(message) {
            settle(message.id, (waiting) => waiting.reject(failure(message.error)));
            if (message.broken) restart(message.error.message, 'broken');
        },
    };

    function start() {
        const source = document.getElementById('worker-code').textContent;
        const url = URL.createObjectURL(new Blob([source], { type: 'text/javascript' }));
        worker = new Worker(url);
        URL.revokeObjectURL(url);
        generation += 1;
        worker.onmessage = (event) => {
            const message = event.data;
            const waiting = pending.get(message.id);
            const answer = answers[message.type];
            if (waiting && answer) answer(message, waiting);
        };
        worker.onerror = (event) => {
            event.preventDefault();
            restart('the page\'s worker stopped: ' + (event.message || 'unknown failure'), 'broken');
        };
    }

    // Ends the worker and whatever it was doing; every request waiting
    // fails with `why`.
    function restart(why, code = 'cancelled') {
        worker.terminate();
        const failed = [...pending.keys()];
        start();
        for (const id of failed) settle(id, (waiting) => waiting.reject(failure({ message: why, code })));
    }

    // Sends a request; `job` (a label) marks long work that shows progress
    // and can be cancelled.
    function ask(op, fields, { transfer = [], onProgress, onFirst, job } = {}) {
        return new Promise((resolve, reject) => {
            const id = nextRequest++;
            const waiting = { resolve, reject, onProgress, onFirst, job };
            pending.set(id, waiting);
            if (job) jobs.started(waiting);
            worker.postMessage({ type: 'request', id, op, ...fields }, transfer);
        });
    }

    return {
        start,
        restart,
        ask,
        generation: () => generation,
        showJobsWith(shown) { jobs = shown; },
    };
})();
