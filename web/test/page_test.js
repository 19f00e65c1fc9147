// Drives the page in Debian's chromium (headless) from file:// as a user
// would: chooses the files, waits for the batch, downloads every link and
// compares it byte for byte with what the Linux program wrote for the same
// files. Run by scripts/test_web.sh:
//   node page_test.js PAGE.html INPUT_DIR EXPECTED_DIR SCREENSHOT.png FILE...
// FILE... are names in INPUT_DIR, chosen in this order; EXPECTED_DIR holds
// the Linux program's outputs and report.txt for them. Prints one line per
// check and exits 1 on the first failure.
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');
const { chromium } = require('playwright-core');

const [pagePath, inputDir, expectedDir, screenshot, ...names] = process.argv.slice(2);

const CHROMIUM_FLAGS = ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
                        '--disable-component-update', '--disable-sync', '--no-first-run'];

let failures = 0;
function check(what, ok, detail = '') {
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}${ok || !detail ? '' : `: ${detail}`}`);
  if (!ok) failures += 1;
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
