// The page's side of the worker (worker.js), which runs the WebAssembly
// module. Every message either way has a `type`:
//   page -> worker: {type: 'request', id, op, ...fields}
//   worker -> page: {type: 'progress', id, done, total}
//                   {type: 'first', id, pixels}      (the first image of a file being opened)
//                   {type: 'chunk', id, bytes}       (the next piece of a file made piece by piece)
//                   {type: 'result', id, value}
//                   {type: 'error', id, error: {message, code, ...facts}, broken}
// An error is the one way a request fails: it rejects with an Error that has
// the message and the facts as fields. Long work is cancelled by ending the
// workers; a fresh one starts, and every request waiting rejects.
//
// Worker 0 does the page's work; packing also has helpers, one worker for
// each further core, started when asked for (workers(count)) and kept.
/* exported client */
'use strict';

const client = (() => {
    const running = []; // [{worker, generation}], by number
    let generation = 0; // counts workers started: a handle belongs to one
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
        chunk(message, waiting) {
            if (waiting.onChunk) waiting.onChunk(message.bytes);
        },
        result(message) {
            settle(message.id, (waiting) => waiting.resolve(message.value));
        },
        error(message) {
            settle(message.id, (waiting) => waiting.reject(failure(message.error)));
            if (message.broken) restart(message.error.message, 'broken');
        },
    };

    function startWorker(number) {
        const source = document.getElementById('worker-code').textContent;
        const url = URL.createObjectURL(new Blob([source], { type: 'text/javascript' }));
        const worker = new Worker(url);
        URL.revokeObjectURL(url);
        generation += 1;
        running[number] = { worker, generation };
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

    const start = () => startWorker(0);

    // Ends the workers and whatever they were doing; every request waiting
    // fails with `why`. Worker 0 starts again at once, helpers when asked for.
    function restart(why, code = 'cancelled') {
        for (const { worker } of running) worker.terminate();
        running.length = 0;
        const failed = [...pending.keys()];
        start();
        for (const id of failed) settle(id, (waiting) => waiting.reject(failure({ message: why, code })));
    }

    // Makes sure `count` workers run (at least one); gives how many do.
    function workers(count) {
        for (let number = running.length; number < count; number++) startWorker(number);
        return running.length;
    }

    // Sends a request to worker `worker`; `job` (a label) marks long work
    // that shows progress and can be cancelled.
    function ask(op, fields, { worker = 0, transfer = [], onProgress, onFirst, onChunk, job } = {}) {
        return new Promise((resolve, reject) => {
            if (!running[worker]) {
                reject(failure({ message: 'cancelled', code: 'cancelled' })); // ended by a restart
                return;
            }
            const id = nextRequest++;
            const waiting = { resolve, reject, onProgress, onFirst, onChunk, job };
            pending.set(id, waiting);
            if (job) jobs.started(waiting);
            running[worker].worker.postMessage({ type: 'request', id, op, ...fields }, transfer);
        });
    }

    // Long work of several requests, shown as one: {progressed(done,
    // total), ended()}.
    function work(label) {
        const shown = { job: label };
        jobs.started(shown);
        return { progressed: (done, total) => jobs.progressed(shown, done, total), ended: () => jobs.ended(shown) };
    }

    return {
        start,
        restart,
        ask,
        workers,
        work,
        // The generation of worker `worker`, 0 if it does not run: a handle
        // it gave holds while this stays the same.
        generation: (worker = 0) => (running[worker] ? running[worker].generation : 0),
        showJobsWith(shown) { jobs = shown; },
    };
})();
