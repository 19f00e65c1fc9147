// The page's worker: runs the core (createEngine, the emscripten glue put
// before this file, with ENGINE_WASM, the WebAssembly in base64) on the
// files the page sends, one batch a message. The core asks for each file's
// bytes when it opens it (FileReaderSync: a worker may read a file while
// the WebAssembly waits), and every result goes back to the page as soon as
// the core has it, the output's bytes with it.
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
let held = null;   // the bytes of the file being read

self.m2qReadFile = (number) => {
  try {
    held = new Uint8Array(new FileReaderSync().readAsArrayBuffer(chosen[number]));
    return held.length;
  } catch (error) {
    held = null;
    return -1;
  }
};

self.m2qTakeFile = (to) => {
  engine.HEAPU8.set(held, to);
  held = null;
};

function bytesAt(address, size) {
  return engine.HEAPU8.slice(address, address + size);
}

function textAt(address) {
  let end = address;
  while (engine.HEAPU8[end] !== 0) ++end;
  return bytesAt(address, end - address);
}

self.m2qFileDone = (index, count, code, message, output, bytes, size) => {
  const text = textAt(message);
  const saved = size > 0 ? bytesAt(bytes, size) : null;
  postMessage({ kind: 'file', index, count, code, message: text,
                output: engine.UTF8ToString(output), bytes: saved },
              saved ? [text.buffer, saved.buffer] : [text.buffer]);
};

self.m2qBatchDone = (bytes, size) => {
  const report = bytes ? bytesAt(bytes, size) : null;
  postMessage({ kind: 'report', report, memory: engine.HEAPU8.length },
              report ? [report.buffer] : []);
};

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
// name another file of the batch has already are left out and named back.
onmessage = async (event) => {
  engine = await engineReady;
  const { files, folders } = event.data;
  chosen = files.map((entry) => entry.file);
  engine._m2q_page_begin();
  const refused = [];
  files.forEach((entry, number) => {
    if (withName(entry.file.name,
                 (name) => engine._m2q_page_add_file(name, number, entry.convert ? 1 : 0)) !== 0) {
      refused.push(entry.file.name);
    }
  });
  for (const name of folders) withName(name, (address) => engine._m2q_page_add_folder(address));
  postMessage({ kind: 'start', refused });
  engine._m2q_page_run();
  chosen = [];
};
