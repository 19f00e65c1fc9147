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

// The folder again, with what the disk may do: the output of a.psu cannot
// be moved into place (a full disk), and b.psu has moved since it was
// chosen. Both are failed records (codes 4 and 5) on the screen, in the
// counts and in the folder's report.txt, and neither has an output.
async function convertFolderThatFails(context, save) {
  const page = await context.newPage();
  await page.goto('http://localhost/melno2quaz.html');
  const result = await page.evaluate(async (data) => {
    const root = await navigator.storage.getDirectory();
    const folder = await root.getDirectoryHandle('failing', { create: true });
    const bytes = Uint8Array.from(atob(data), (c) => c.charCodeAt(0));
    for (const name of ['a.psu', 'b.psu']) {
      const stream = await (await folder.getFileHandle(name, { create: true })).createWritable();
      await stream.write(bytes);
      await stream.close();
    }
    const move = FileSystemFileHandle.prototype.move;
    FileSystemFileHandle.prototype.move = function (name) {
      return name === 'gamedata_a.dat' ? Promise.reject(new DOMException('full', 'QuotaExceededError'))
        : move.call(this, name);
    };
    const getFile = FileSystemFileHandle.prototype.getFile;
    const asked = {};
    FileSystemFileHandle.prototype.getFile = async function () {
      const file = await getFile.call(this);
      asked[this.name] = (asked[this.name] ?? 0) + 1;
      return this.name === 'b.psu' && asked[this.name] > 1
        ? new File([file], file.name, { lastModified: file.lastModified + 2000 }) : file;
    };
    await window.m2qConvertFolder(folder);
    while (document.body.dataset.done !== '1') await new Promise((wake) => setTimeout(wake, 50));
    const names = [];
    for await (const entry of folder.values()) names.push(entry.name);
    const report = names.includes('report.txt')
      ? new Uint8Array(await (await (await folder.getFileHandle('report.txt')).getFile()).arrayBuffer()) : [];
    return { names: names.sort(), status: document.getElementById('status').textContent,
             report: Array.from(report) };
  }, save.toString('base64'));
  const report = Buffer.from(result.report).toString('latin1');
  check('a failed folder write and a moved source leave no output and no temporary file',
        JSON.stringify(result.names) === JSON.stringify(['a.psu', 'b.psu', 'report.txt']),
        JSON.stringify(result.names));
  check('they count as failed', result.status.includes('Done: 0 converted, 2 failed.'), result.status);
  check('the folder\'s report records them with codes 4 and 5',
        /^0001\/0002\r\n  \S+:a\.psu\r\n  Quaz.*\(Err:4\)\r\n\r\n0002\/0002\r\n  \S+:b\.psu\r\n  Melno.*\(Err:5\)\r\n\r\n$/s
          .test(report), JSON.stringify(report));
  await page.close();
}

// Two files of one name chosen together, as the `batch`-th batch of the
// page: the second is not converted, and has its record (code 2) on screen
// and in a report of this batch's two records alone; the save is whole,
// whatever the earlier batches left in the page's memory.
async function chooseTwoOfOneName(page, first, second, batch) {
  await page.setInputFiles('#files', [first, second]);
  await page.waitForSelector(`body[data-done="${batch}"]`, { timeout: 60000 });
  const items = await page.locator('#results li').allInnerTexts();
  const [download] = await Promise.all([page.waitForEvent('download'),
                                        page.locator('#report a[download]').click()]);
  const report = fs.readFileSync(await download.path()).toString('latin1');
  const [save] = await Promise.all([page.waitForEvent('download'),
                                    page.locator('#results a[download]').first().click()]);
  check(`batch ${batch}: the save byte for byte as the Linux program's`,
        fs.readFileSync(await save.path()).equals(fs.readFileSync(path.join(expectedDir, 'gamedata_city.dat'))));
  check('a second file of the same name is refused on screen and in the report',
        items.length === 2 && items[1].includes('another file has the same name') &&
          /^0001\/0002\r\n  \S+:zz\.psu\r\n.*\r\n0002\/0002\r\n  \S+:zz\.psu\r\n  Melno[^\r]*\(Err:2\)\r\n\r\n$/s
            .test(report),
        `${items.join(' | ')} ${JSON.stringify(report)}`);
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

    const licence = await page.locator('footer pre').textContent();
    check('the licence in the footer', licence === fs.readFileSync(path.join(__dirname, '../../LICENSE'), 'utf8'));

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
    const heads = await page.locator('#results li strong').allInnerTexts();
    check('each result under its own file\'s name', JSON.stringify(heads) === JSON.stringify(names),
          JSON.stringify(heads));
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
    // Named to sort after report.txt, whose bytes the page's memory then
    // keeps among its spare ones for the next batch.
    const twins = [0, 1].map(() => fs.mkdtempSync(path.join(os.tmpdir(), 'm2q-same-name-')));
    for (const twin of twins) fs.copyFileSync(path.join(inputDir, 'city.psu'), path.join(twin, 'zz.psu'));
    for (const batch of [2, 3]) {
      await chooseTwoOfOneName(page, path.join(twins[0], 'zz.psu'), path.join(twins[1], 'zz.psu'), batch);
    }
    for (const twin of twins) fs.rmSync(twin, { recursive: true, force: true });
    check('no error on the console', problems.length === 0, problems.join(' | '));
    await convertFolder(context);
    await convertFolderThatFails(context, fs.readFileSync(path.join(inputDir, 'city.psu')));
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
