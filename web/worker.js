// The page's worker: runs the core (createEngine, the emscripten glue put
// before this file, with ENGINE_WASM, the WebAssembly in base64) on the
// files the page sends, one batch a message. The core asks for each file's
// bytes when it opens it (FileReaderSync: a worker may read a file while
// the WebAssembly waits), and every result goes back to the page as soon as
// the core has it, the output with it as a Blob made straight from the
// engine's memory: no copy of a save is left for the collector, so the
// worker holds about one save at a time.
'use strict';

function decodeBase64(text) {
  const binary = atob(text);
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; ++i) bytes[i] = binary.charCodeAt(i);
  return bytes;
}

const engineReady = createEngine({ wasmBinary: decodeBase64(ENGINE_WASM) });
let engine = null;
let chosen = [];   // the batch's File objects, by the number the core knows
self.m2qFileSize = (number) => chosen[number].size;

// Where read buffers go once copied: a message port whose other end is
// closed. Posting a buffer there hands its memory over and drops it at
// once, where a buffer merely let go waits for the collector, which lets
// some 80 MB of them pile up over a batch.
const discard = new MessageChannel();
discard.port2.close();

// Read whole (the core asks only for a save's bytes), copied into the
// engine's memory at once, and discarded. Reading in pieces measured
// slower, and held no less memory.
self.m2qReadFile = (number, to) => {
  try {
    const bytes = new FileReaderSync().readAsArrayBuffer(chosen[number]);
    engine.HEAPU8.set(new Uint8Array(bytes), to);
    discard.port1.postMessage(null, [bytes]);
    return 1;
  } catch (error) {
    return 0;
  }
};

function bytesAt(address, size) {
  return engine.HEAPU8.slice(address, address + size);
}

function blobAt(address, size) {
  return new Blob([engine.HEAPU8.subarray(address, address + size)]);
}

function textAt(address) {
  let end = address;
  while (engine.HEAPU8[end] !== 0) ++end;
  return bytesAt(address, end - address);
}

self.m2qFileDone = (index, count, code, message, name, map, time, funds, output, bytes, size) => {
  const text = textAt(message);
  const cityName = textAt(name);
  postMessage({ kind: 'file', index, count, code, message: text,
                summary: { name: cityName, map, time: engine.UTF8ToString(time),
                           funds: engine.UTF8ToString(funds) },
                output: engine.UTF8ToString(output), bytes: size > 0 ? blobAt(bytes, size) : null },
              [text.buffer, cityName.buffer]);
};

self.m2qBatchConverted = () => postMessage({ kind: 'converted' });

self.m2qBatchDone = (bytes, size, codes, count) => {
  postMessage({ kind: 'report', report: bytes ? blobAt(bytes, size) : null,
                codes: Array.from(engine.HEAP32.subarray(codes >> 2, (codes >> 2) + count)),
                memory: engine.HEAPU8.length });
};

// Copies `numbers` into the engine's memory as 32-bit integers for `call`.
function withNumbers(numbers, call) {
  const address = engine._malloc(Math.max(1, numbers.length) * 4);
  engine.HEAP32.set(numbers, address >> 2);
  try {
    return call(address);
  } finally {
    engine._free(address);
  }
}

// Calls `call` with `name` as a UTF-8 string in the engine's memory.
function withName(name, call) {
  const size = engine.lengthBytesUTF8(name) + 1;
  const address = engine._malloc(size);
  engine.stringToUTF8(name, address, size);
  try {
    return call(address);
  } finally {
    engine._free(address);
  }
}

// A batch: { files: [{ file, convert }], folders: [name] }. Files whose
// name another file of the batch has already are not converted: their
// places (from 1) are named back, and their records say so. Then, once the
// page has written the outputs: { finish: { failed: [place], codes: [code] } },
// the records that failed there, and the report is made.
onmessage = async (event) => {
  engine = await engineReady;
  if (event.data.finish) {
    const { failed, codes } = event.data.finish;
    withNumbers(failed, (places) => withNumbers(codes, (numbers) =>
      engine._m2q_page_finish(places, numbers, failed.length)));
    chosen = [];
    return;
  }
  const { files, folders } = event.data;
  chosen = files.map((entry) => entry.file);
  engine._m2q_page_begin();
  const refused = [];
  files.forEach((entry, number) => {
    if (withName(entry.file.name,
                 (name) => engine._m2q_page_add_file(name, number, entry.convert ? 1 : 0)) !== 0) {
      refused.push(number + 1);
    }
  });
  for (const name of folders) withName(name, (address) => engine._m2q_page_add_folder(address));
  postMessage({ kind: 'start', refused });
  engine._m2q_page_run();
};
