// The page's benchmark (not a test), run by scripts/bench_web.sh:
//   node page_bench.js PAGE.html SEAL_BENCH.js NATIVE_MS SAVE...
// In Debian's chromium, headless: the WebAssembly build and seal of one
// image (seal_bench built by emscripten, in a blank page, the median of
// five runs), then the page
// converting the SAVE files as one batch (after a batch of one to warm it
// up). Prints each time against NATIVE_MS, the native build and seal of
// the same image, and the batch's peak memory: the engine's WebAssembly
// heap and the growth of the page's renderer process over its size before
// the batch (Linux: its peak resident memory, reset before the batch).
'use strict';
const fs = require('fs');
const path = require('path');
const { chromium } = require('playwright-core');

const [pagePath, sealBench, nativeText, ...saves] = process.argv.slice(2);
const nativeMs = Number(nativeText);
const MIB = 1024 * 1024;

// The renderer processes among the descendants of `browserPid`.
function renderers(browserPid) {
  const found = {};
  const walk = (pid) => {
    for (const task of fs.readdirSync(`/proc/${pid}/task`)) {
      const children = fs.readFileSync(`/proc/${pid}/task/${task}/children`, 'utf8').trim();
      for (const child of children ? children.split(' ') : []) {
        const command = fs.readFileSync(`/proc/${child}/cmdline`, 'utf8');
        if (command.includes('--type=renderer')) found[child] = true;
        walk(child);
      }
    }
  };
  walk(browserPid);
  return Object.keys(found);
}

function statusKib(pid, field) {
  const status = fs.readFileSync(`/proc/${pid}/status`, 'utf8');
  return Number(new RegExp(`^${field}:\\s+(\\d+)`, 'm').exec(status)[1]);
}

async function main() {
  const browser = await chromium.launch({
    executablePath: '/usr/bin/chromium', headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
           '--disable-component-update', '--disable-sync', '--no-first-run'],
  });
  try {
    const context = await browser.newContext();

    // The median of five runs, each in a fresh blank page, as for the
    // native figure.
    const runs = [];
    for (let run = 0; run < 5; ++run) {
      const blank = await context.newPage();
      const printed = new Promise((resolve) => blank.on('console', (message) => {
        const match = /build\+seal ([\d.]+) ms\/image/.exec(message.text());
        if (match) resolve(Number(match[1]));
      }));
      await blank.addScriptTag({ content: fs.readFileSync(sealBench, 'utf8') });
      runs.push(await printed);
      await blank.close();
    }
    runs.sort((a, b) => a - b);
    const wasmMs = runs[2];

    const page = await context.newPage();
    await page.goto(new URL(`file://${path.resolve(pagePath)}`).href);
    await page.setInputFiles('#files', saves.slice(0, 1));
    await page.waitForSelector('body[data-done="1"]', { timeout: 60000 });

    const pids = renderers(process.pid);  // the browser is a child of this process
    const before = {};
    for (const pid of pids) {
      before[pid] = statusKib(pid, 'VmRSS');
      fs.writeFileSync(`/proc/${pid}/clear_refs`, '5');  // resets the peak
    }
    const start = performance.now();
    await page.setInputFiles('#files', saves);
    await page.waitForSelector('body[data-done="2"]', { timeout: 600000 });
    const pageMs = (performance.now() - start) / saves.length;
    let growth = 0;
    let peak = 0;
    for (const pid of pids) {
      const hwm = statusKib(pid, 'VmHWM');
      if (hwm - before[pid] > growth) {
        growth = hwm - before[pid];
        peak = hwm;
      }
    }
    const engine = Number(await page.evaluate(() => document.body.dataset.memory));
    const converted = await page.locator('a[download^="gamedata_"]').count();

    console.log(`native build+seal:           ${nativeMs.toFixed(4)} ms/image`);
    console.log(`WebAssembly build+seal:      ${wasmMs.toFixed(4)} ms/image   ratio ${(wasmMs / nativeMs).toFixed(2)}`
                + ' (goal at most 2)');
    console.log(`page, time per save:         ${pageMs.toFixed(2)} ms/save    ratio ${(pageMs / nativeMs).toFixed(1)}`
                + ` (${saves.length} saves, ${converted} converted: chosen to every link shown)`);
    console.log(`peak memory of the batch:    engine heap ${(engine / MIB).toFixed(1)} MiB, renderer`
                + ` +${(growth / 1024).toFixed(1)} MiB over the page before it (peak ${(peak / 1024).toFixed(1)} MiB)`
                + ' (goal under 64 MB)');
  } finally {
    await browser.close();
  }
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
