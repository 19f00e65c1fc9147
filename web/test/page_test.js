// Drives the page in Debian's chromium (headless) from file:// as a user
// would: chooses the files, waits for the batch, downloads every link and
// compares it byte for byte with what the Linux program wrote for the same
// files. Then converts a folder in place (the origin's private file system
// stands in for the folder a user picks) and compares every name and byte
// of it with the folder the Linux program converted. Run by
// scripts/test_web.sh:
//   node page_test.js PAGE.html WORK SCREENSHOT.png FILE...
// FILE... are names in WORK/in, chosen in this order; WORK/expected holds
// the Linux program's outputs and report.txt for them; WORK/folder-before
// and WORK/folder-after a folder before and after the Linux program's batch
// over all its files in the order of their names. Prints one line per
// check and exits 1 when any failed.
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');
const { chromium } = require('playwright-core');

const [pagePath, work, screenshot, ...names] = process.argv.slice(2);
const inputDir = path.join(work, 'in');
const expectedDir = path.join(work, 'expected');

const CHROMIUM_FLAGS = ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
                        '--disable-component-update', '--disable-sync', '--no-first-run'];

let failures = 0;
function check(what, ok, detail = '') {
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}${ok || !detail ? '' : `: ${detail}`}`);
  if (!ok) failures += 1;
}

// Every file and folder under `folder` on the disk: name -> bytes in
// base64, or null for a folder.
function diskFolder(folder) {
  const entries = {};
  for (const entry of fs.readdirSync(folder, { withFileTypes: true })) {
    entries[entry.name] = entry.isDirectory() ? null
      : fs.readFileSync(path.join(folder, entry.name)).toString('base64');
  }
  return entries;
}

// The folder conversion, in a page served from a secure origin (the route
// answers without any network) whose private file system holds the folder.
async function convertFolder(context) {
  await context.route('http://localhost/**', (route) => route.fulfill({
    body: fs.readFileSync(pagePath), contentType: 'text/html; charset=utf-8' }));
  const page = await context.newPage();
  await page.goto('http://localhost/melno2quaz.html');
  const before = diskFolder(path.join(work, 'folder-before'));
  const after = await page.evaluate(async (entries) => {
    const root = await navigator.storage.getDirectory();
    const folder = await root.getDirectoryHandle('saves', { create: true });
    for (const [name, data] of Object.entries(entries)) {
      if (data === null) {
        await folder.getDirectoryHandle(name, { create: true });
      } else {
        const stream = await (await folder.getFileHandle(name, { create: true })).createWritable();
        await stream.write(Uint8Array.from(atob(data), (c) => c.charCodeAt(0)));
        await stream.close();
      }
    }
    await window.m2qConvertFolder(folder);
    while (document.body.dataset.done !== '1') await new Promise((wake) => setTimeout(wake, 50));
    const seen = {};
    for await (const entry of folder.values()) {
      if (entry.kind === 'directory') {
        seen[entry.name] = null;
      } else {
        const bytes = new Uint8Array(await (await entry.getFile()).arrayBuffer());
        let binary = '';
        for (let i = 0; i < bytes.length; i += 0x8000) {
          binary += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
        }
        seen[entry.name] = btoa(binary);
      }
    }
    return seen;
  }, before);
  const expected = diskFolder(path.join(work, 'folder-after'));
  const names = (entries) => JSON.stringify(Object.keys(entries).sort());
  check('a converted folder holds the names the Linux program leaves', names(after) === names(expected),
        `page ${names(after)}, Linux ${names(expected)}`);
  const differing = Object.keys(expected).filter((name) => after[name] !== expected[name]);
  check('every file of the folder byte for byte as the Linux program leaves it',
        differing.length === 0, differing.join(' '));
  await page.close();
}

async function main() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'm2q-chromium-'));
  const downloads = fs.mkdtempSync(path.join(os.tmpdir(), 'm2q-downloads-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium', headless: true, args: CHROMIUM_FLAGS,
    acceptDownloads: true, viewport: { width: 900, height: 1000 },
  });
  try {
    const page = context.pages()[0] ?? await context.newPage();
    const pageUrl = new URL(`file://${path.resolve(pagePath)}`).href;
    const requests = [];
    const problems = [];
    context.on('request', (request) => requests.push(request.url()));
    page.on('console', (message) => { if (message.type() === 'error') problems.push(message.text()); });
    page.on('pageerror', (error) => problems.push(String(error)));
    await page.goto(pageUrl);

    // The file button is the first stop of the Tab key.
    await page.keyboard.press('Tab');
    check('Tab reaches the file button first',
          await page.evaluate(() => document.activeElement.id === 'files'));

    await page.setInputFiles('#files', names.map((name) => path.join(inputDir, name)));
    await page.waitForSelector('body[data-done="1"]', { timeout: 60000 });

    // Every download link, saved as the browser saves it.
    const links = await page.locator('a[download]').all();
    const got = [];
    for (const link of links) {
      const [download] = await Promise.all([page.waitForEvent('download'), link.click()]);
      const name = download.suggestedFilename();
      await download.saveAs(path.join(downloads, name));
      got.push(name);
    }
    const expected = fs.readdirSync(expectedDir).sort();
    check('one link for each file the Linux program wrote, report.txt too',
          JSON.stringify([...got].sort()) === JSON.stringify(expected),
          `page ${JSON.stringify(got)}, Linux ${JSON.stringify(expected)}`);
    for (const name of expected) {
      const mine = path.join(downloads, name);
      const same = fs.existsSync(mine) &&
                   fs.readFileSync(mine).equals(fs.readFileSync(path.join(expectedDir, name)));
      check(`${name} byte for byte as the Linux program's`, same);
    }

    // Each record shows in Japanese and English: a converted city's name,
    // a refused file's error.
    const items = await page.locator('#results li').allInnerTexts();
    check('one result per chosen file', items.length === names.length, `${items.length} results`);
    const refused = items.filter((text) => text.includes('Melnoのデータではありません。') &&
                                           text.includes('This is not Melno data. (Err:2)'));
    const converted = items.filter((text) => /都市名:/.test(text) && /City: /.test(text));
    check('converted and refused files shown in both languages',
          converted.length === expected.length - 1 && refused.length === names.length - converted.length,
          items.join(' | '));
    // The English lines show the summary's fields as the engine gave them.
    const shows = (fields) => items.some((text) => fields.every((field) => text.includes(field)));
    check('each converted city\'s name, map and funds in English',
          shows(['City: 東京', 'Map: 3', 'Funds: 1,234,567']) && shows(['City: Harbor', 'Map: 1', 'Funds: -5']),
          items.join(' | '));

    // Readable on a phone's width and at 200 % zoom: nothing wider than
    // the window.
    for (const width of [360, 450]) {
      await page.setViewportSize({ width, height: 800 });
      const fits = await page.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth);
      check(`nothing wider than a ${width} px window`, fits);
    }
    await page.setViewportSize({ width: 900, height: 1000 });
    await page.screenshot({ path: screenshot, fullPage: true });

    // The page's policy refuses a request even when asked for one.
    const violated = await page.evaluate(() => new Promise((resolve) => {
      document.addEventListener('securitypolicyviolation',
                                (event) => resolve(event.effectiveDirective), { once: true });
      fetch('http://127.0.0.1:9/').catch(() => {});
    }));
    check('the page\'s policy refuses a request', violated === 'connect-src', violated);
    problems.splice(0, problems.length, ...problems.filter((text) => !text.includes('127.0.0.1:9')));

    const others = requests.filter((url) => url !== pageUrl && !url.startsWith('blob:'));
    check('no request but the page', others.length === 0, others.join(' '));
    check('no error on the console', problems.length === 0, problems.join(' | '));
    await convertFolder(context);
  } finally {
    await context.close();
    fs.rmSync(profile, { recursive: true, force: true });
    fs.rmSync(downloads, { recursive: true, force: true });
  }
}

main().then(() => {
  console.log(failures === 0 ? 'web page: every check passed' : `web page: ${failures} checks failed`);
  process.exit(failures === 0 ? 0 : 1);
}, (error) => {
  console.error(error);
  process.exit(1);
});
