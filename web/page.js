
// The page: hands chosen or dropped files to the worker as one batch, shows
// each result as it comes (Japanese and English), and offers every output
// and report.txt for download; or, where the browser lets a page write
// into a folder the user picks, converts that folder in place.
'use strict';

const workerSource = document.getElementById('m2q-worker').textContent;
const worker = new Worker(URL.createObjectURL(new Blob([workerSource], { type: 'text/javascript' })));
const shiftJis = new TextDecoder('shift_jis');

const picker = document.getElementById('files');
const folderButton = document.getElementById('folder');
const statusLine = document.getElementById('status');
const reportLine = document.getElementById('report');
const results = document.getElementById('results');

// The English of each error code's text.
const ERRORS_EN = {
  1: 'Working memory could not be secured.',
  2: 'This is not Melno data.',
  3: 'The directory or the memory could not be secured.',
  4: 'The Quaz file could not be written.',
  5: 'The Melno file could not be read.',
  6: 'The path is too long.',
};
const SUMMARY_EN = ['City', 'Map', 'Date and time', 'Funds'];

// The batch running: { folder, files, handles, names, refused, writes, failures }.
// `failures` are the records that failed after the engine made them: an
// output that could not be written into the folder (code 4), a source that
// moved while it was read (code 5).
let batch = null;

function element(tag, text, attributes = {}) {
  const made = document.createElement(tag);
  if (text !== undefined) made.textContent = text;
  for (const [name, value] of Object.entries(attributes)) made.setAttribute(name, value);
  return made;
}

function bilingual(parent, japanese, english) {
  parent.append(japanese, ' ', element('span', english, { lang: 'en' }));
  return parent;
}

function setBusy(busy) {
  picker.disabled = busy;
  folderButton.disabled = busy;
  document.body.setAttribute('aria-busy', busy ? 'true' : 'false');
}

function pad4(number) {
  return String(number).padStart(4, '0');
}

function downloadLink(blob, name, japanese, english) {
  const url = URL.createObjectURL(blob);
  return bilingual(element('a', undefined, { href: url, download: name }), japanese, english);
}

// Writes `blob` under `name` in the folder without ever opening the old
// file for writing: into a new file under a temporary name, then moved
// over the name.
async function writeInFolder(folder, name, blob) {
  const digits = Array.from(crypto.getRandomValues(new Uint8Array(3)),
                            (byte) => byte.toString(16).padStart(2, '0')).join('').slice(0, 5);
  const temporary = await folder.getFileHandle(`.m2q-${digits}`, { create: true });
  try {
    const stream = await temporary.createWritable();
    await stream.write(blob);
    await stream.close();
    await temporary.move(name);
  } catch (error) {
    await folder.removeEntry(temporary.name).catch(() => {});
    throw error;
  }
}

// Whether the chosen file `file` of the folder is no longer what was read:
// its size or time moved since it was chosen.
async function sourceMoved(handle, file) {
  if (handle === null) return false;
  try {
    const now = await handle.getFile();
    return now.size !== file.size || now.lastModified !== file.lastModified;
  } catch (error) {
    return true;
  }
}

function showFailure(item, japanese, code, english) {
  const failure = element('p', undefined, { class: 'failed' });
  bilingual(failure, `${japanese} (Err:${code})`, `${english} (Err:${code})`);
  item.append(failure);
}

function showFile(message) {
  const item = element('li');
  const code = message.code;
  const text = shiftJis.decode(message.message);
  const head = element('p');
  head.append(element('span', `${pad4(message.index)}/${pad4(message.count)}`, { class: 'counter' }),
              ' ', element('strong', batch.names[message.index - 1]));
  item.append(head);
  if (code === 0) {
    const summary = element('p', undefined, { class: 'summary' });
    summary.append(text.replace(/\r\n$/, '').split('\r\n').map((line) => line.trim()).join('\n'));
    const fields = message.summary;
    const values = [shiftJis.decode(fields.name), String(fields.map), fields.time, fields.funds];
    summary.append(element('span', SUMMARY_EN.map((label, i) => `${label}: ${values[i] ?? ''}`).join('\n'),
                           { lang: 'en' }));
    item.append(summary);
  } else {
    showFailure(item, text.trim(), code, ERRORS_EN[code] ?? 'Not converted.');
  }
  if (batch.refused.includes(message.index)) {
    item.append(bilingual(element('p'), '同じ名前のファイルがほかにあるため、変換しません。',
                          'Not converted: another file has the same name.'));
  }
  if (message.bytes !== null) {
    const line = element('p');
    if (batch.folder === null) {
      line.append(downloadLink(message.bytes, message.output, `${message.output} を保存`,
                               `Save ${message.output}`));
    } else {
      // Written before the record is final: a write that fails makes it code 4.
      const { bytes, index, output } = message;
      const handle = batch.handles[index - 1];
      const file = batch.files[index - 1];
      batch.writes = batch.writes.then(async () => {
        if (await sourceMoved(handle, file)) {
          batch.failures.push({ index, code: 5 });
          showFailure(item, 'Melnoファイルの読み込みに失敗しました。', 5, ERRORS_EN[5]);
          item.append(bilingual(element('p'), '読み込み中にファイルが変わりました。',
                                'The file changed while it was read.'));
          return;
        }
        try {
          await writeInFolder(batch.folder, output, bytes);
          bilingual(line, `${output} に書き込みました。`, `Wrote ${output}.`);
        } catch (error) {
          batch.failures.push({ index, code: 4 });
          bilingual(line, `${output} に書き込めませんでした。`, `Could not write ${output}.`);
          showFailure(item, 'Quazファイルの書き込みに失敗しました。', 4, ERRORS_EN[4]);
        }
      });
    }
    item.append(line);
  }
  results.append(item);
}

// Every output is where it goes: the records are final, the report is made.
async function finishFiles() {
  await batch.writes;
  const failures = batch.failures;
  worker.postMessage({ finish: { failed: failures.map((failure) => failure.index),
                                 codes: failures.map((failure) => failure.code) } });
}

async function finishBatch(message) {
  reportLine.replaceChildren();
  if (message.report === null) {
    bilingual(reportLine, 'report.txt は書けませんでした。', 'report.txt could not be written.');
  } else if (batch.folder === null) {
    reportLine.append(downloadLink(message.report, 'report.txt', 'report.txt を保存', 'Save report.txt'));
  } else {
    await writeInFolder(batch.folder, 'report.txt', message.report).then(
      () => bilingual(reportLine, 'report.txt に書き込みました。', 'Wrote report.txt.'),
      () => bilingual(reportLine, 'report.txt に書き込めませんでした。', 'Could not write report.txt.'));
  }
  // The counts are the records'.
  const converted = message.codes.filter((code) => code === 0).length;
  const failed = message.codes.length - converted;
  statusLine.replaceChildren();
  bilingual(statusLine, `完了: 変換 ${converted}、失敗 ${failed}。`,
            `Done: ${converted} converted, ${failed} failed.`);
  document.body.dataset.memory = String(message.memory);
  document.body.dataset.done = String(Number(document.body.dataset.done ?? 0) + 1);
  batch = null;
  setBusy(false);
}

worker.onmessage = (event) => {
  const message = event.data;
  if (message.kind === 'start') {
    batch.refused = message.refused;
  } else if (message.kind === 'file') {
    showFile(message);
  } else if (message.kind === 'converted') {
    finishFiles();
  } else if (message.kind === 'report') {
    finishBatch(message);
  }
};

// The engine could not start or stopped (a browser without WebAssembly
// SIMD, say): said once, and nothing more is tried.
worker.onerror = (event) => {
  event.preventDefault();
  statusLine.replaceChildren();
  bilingual(statusLine, 'このブラウザーでは変換できません。', 'This browser cannot run the converter.');
  statusLine.classList.add('failed');
  picker.disabled = true;
  folderButton.disabled = true;
};

// Starts a batch of `files` (File objects, in order); `folder` is the
// folder written into, or null for downloads, with `handles` the files'
// own; `folders` the names of the folders beside the files there.
function startBatch(files, folder = null, folders = [], handles = []) {
  if (batch !== null || files.length === 0) return;
  for (const old of document.querySelectorAll('a[href^="blob:"]')) URL.revokeObjectURL(old.href);
  results.replaceChildren();
  reportLine.replaceChildren();
  statusLine.replaceChildren();
  bilingual(statusLine, `${files.length} 個のファイルを変換しています…`, `Converting ${files.length} files…`);
  batch = { folder, files, handles: files.map((file, i) => handles[i] ?? null), refused: [],
            writes: Promise.resolve(), failures: [], names: files.map((file) => file.name) };
  setBusy(true);
  worker.postMessage({ files: files.map((file) => ({ file, convert: true })), folders });
}

picker.addEventListener('change', () => {
  startBatch(Array.from(picker.files));
  picker.value = '';
});

document.addEventListener('dragover', (event) => {
  event.preventDefault();
  document.body.classList.add('dropping');
});
document.addEventListener('dragleave', () => document.body.classList.remove('dropping'));
document.addEventListener('drop', (event) => {
  event.preventDefault();
  document.body.classList.remove('dropping');
  startBatch(Array.from(event.dataTransfer.files));
});

// Every file of the folder, in the order of their names, as one batch.
async function convertFolder(folder) {
  const chosen = [];
  const folders = [];
  for await (const entry of folder.values()) {
    if (entry.kind === 'file') {
      chosen.push({ handle: entry, file: await entry.getFile() });
    } else {
      folders.push(entry.name);
    }
  }
  chosen.sort((a, b) => (a.file.name < b.file.name ? -1 : a.file.name > b.file.name ? 1 : 0));
  startBatch(chosen.map((entry) => entry.file), folder, folders, chosen.map((entry) => entry.handle));
}

if ('showDirectoryPicker' in window && 'move' in FileSystemHandle.prototype) {
  folderButton.hidden = false;
  folderButton.addEventListener('click', async () => {
    let folder;
    try {
      folder = await window.showDirectoryPicker({ mode: 'readwrite' });
    } catch (error) {
      return;  // the user cancelled
    }
    await convertFolder(folder);
  });
}
// For the browser test: a folder given without the picker.
window.m2qConvertFolder = convertFolder;
