// Puts the page together into one self-contained HTML file:
//   node assemble_page.js WEB_DIR ENGINE.js ENGINE.wasm VERSION OUT.html
// (the licence is WEB_DIR/../LICENSE)
// The worker (the engine's glue, the WebAssembly in base64, worker.js) goes
// into a script block the browser does not run; page.js and page.css go
// inline, allowed by their SHA-256 in the Content-Security-Policy, which
// allows nothing else: no request of any kind leaves the page.
'use strict';
const crypto = require('crypto');
const fs = require('fs');
const path = require('path');

const [webDir, glue, wasm, version, out] = process.argv.slice(2);
const read = (name) => fs.readFileSync(path.join(webDir, name), 'utf8');

const style = read('page.css');
const script = read('page.js');
const worker = `${fs.readFileSync(glue, 'utf8')}\nconst ENGINE_WASM = "${
  fs.readFileSync(wasm).toString('base64')}";\n${read('worker.js')}`;

for (const [name, text] of [['page.css', style], ['page.js', script], ['worker', worker]]) {
  if (/<\/(script|style)|<!--/i.test(text)) {
    console.error(`assemble_page: ${name} holds a sequence that would end its element`);
    process.exit(1);
  }
}

const hash = (text) => `'sha256-${crypto.createHash('sha256').update(text, 'utf8').digest('base64')}'`;
const csp = [
  "default-src 'none'",
  `script-src ${hash(script)} 'wasm-unsafe-eval'`,
  `style-src ${hash(style)}`,
  'worker-src blob:',
  "connect-src 'none'",
  "img-src 'none'",
  "font-src 'none'",
  "media-src 'none'",
  "object-src 'none'",
  "frame-src 'none'",
  "manifest-src 'none'",
  "form-action 'none'",
  "base-uri 'none'",
].join('; ');

// The licence, whole, as the page's footer shows it.
const licence = fs.readFileSync(path.join(webDir, '..', 'LICENSE'), 'utf8')
  .replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');

const parts = { CSP: csp, STYLE: style, SCRIPT: script, WORKER: worker, VERSION: version, LICENSE: licence };
const page = read('page.html').replace(/@(CSP|STYLE|SCRIPT|WORKER|VERSION|LICENSE)@/g,
                                       (all, name) => parts[name]);
fs.writeFileSync(out, page);
