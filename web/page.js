
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

let batch = null;   // the batch running: { folder, names, writes, converted, failed }

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
    ++batch.converted;
  } else {
    const failure = element('p', undefined, { class: 'failed' });
    bilingual(failure, `${text.trim()} (Err:${code})`, `${ERRORS_EN[code] ?? 'Not converted.'} (Err:${code})`);
    item.append(failure);
    ++batch.failed;
  }
  if (message.bytes !== null) {
    const line = element('p');
    if (batch.folder === null) {
      line.append(downloadLink(message.bytes, message.output, `${message.output} を保存`,
                               `Save ${message.output}`));
    } else {
      const bytes = message.bytes;
      batch.writes = batch.writes.then(() => writeInFolder(batch.folder, message.output, bytes))
        .then(() => bilingual(line, `${message.output} に書き込みました。`, `Wrote ${message.output}.`),
              () => bilingual(line, `${message.output} に書き込めませんでした。`,
                              `Could not write ${message.output}.`));
    }
    item.append(line);
  }
  results.append(item);
}

async function finishBatch(message) {
  reportLine.replaceChildren();
  if (message.report === null) {
    bilingual(reportLine, 'report.txt は書けませんでした。', 'report.txt could not be written.');
  } else if (batch.folder === null) {
    reportLine.append(downloadLink(message.report, 'report.txt', 'report.txt を保存', 'Save report.txt'));
  } else {
    const report = message.report;
    await batch.writes;
    await writeInFolder(batch.folder, 'report.txt', report).then(
      () => bilingual(reportLine, 'report.txt に書き込みました。', 'Wrote report.txt.'),
      () => bilingual(reportLine, 'report.txt に書き込めませんでした。', 'Could not write report.txt.'));
  }
  await batch.writes;
  statusLine.replaceChildren();
  bilingual(statusLine, `完了: 変換 ${batch.converted}、失敗 ${batch.failed}。`,
            `Done: ${batch.converted} converted, ${batch.failed} failed.`);
  document.body.dataset.memory = String(message.memory);
  document.body.dataset.done = String(Number(document.body.dataset.done ?? 0) + 1);
  batch = null;
  setBusy(false);
}

worker.onmessage = (event) => {
  const message = event.data;
  if (message.kind === 'start') {
    for (const name of message.refused) {
      results.append(bilingual(element('li', undefined, { class: 'failed' }),
                               `${name}: 同じ名前のファイルがほかにあるため、変換しません。`,
                               `${name}: not converted, another file has the same name.`));
    }
    batch.names = batch.names.filter((name, i, all) => all.indexOf(name) === i);
  } else if (message.kind === 'file') {
    showFile(message);
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
// folder written into, or null for downloads; `folders` the names of the
// folders beside the files there.
function startBatch(files, folder = null, folders = []) {
  if (batch !== null || files.length === 0) return;
  for (const old of document.querySelectorAll('a[href^="blob:"]')) URL.revokeObjectURL(old.href);
  results.replaceChildren();
  reportLine.replaceChildren();
  statusLine.replaceChildren();
  bilingual(statusLine, `${files.length} 個のファイルを変換しています…`, `Converting ${files.length} files…`);
  batch = { folder, writes: Promise.resolve(), converted: 0, failed: 0,
            names: files.map((file) => file.name) };
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
  const files = [];
  const folders = [];
  for await (const entry of folder.values()) {
    if (entry.kind === 'file') {
      files.push(await entry.getFile());
    } else {
      folders.push(entry.name);
    }
  }
  files.sort((a, b) => (a.name < b.name ? -1 : a.name > b.name ? 1 : 0));
  startBatch(files, folder, folders);
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
