// A real browser uploads through the example site: headless Chromium opens the upload form,
// fills a Korean title, attaches a binary file and a file with a Korean name, submits, and
// reads what the upload object reports back; every download is saved under the name it was
// uploaded with. A Korean-named file is downloaded from a host in UTF-8 and from one in code
// page 949 and saved under its Korean name. The form's progress bar is followed from the
// browser's upload events, from the host's progress reports on a slowed upload, and the form
// is sent once without script.
// Usage: node upload_browser.mjs URL WORKDIR SHOT URL_949 SITE_949 [PROGRESS_SHOT]
import { chromium } from 'playwright-core';
import fs from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';
import assert from 'node:assert/strict';

const [base, work, screenshot, base949, site949, progressShot] = process.argv.slice(2);

// Downloads a file that the site holds in files/, and its compressed copy in zfiles/, through
// download.asp, and checks the name the browser saves each under and the bytes.
async function downloadPlaced(page, url, site, label) {
  const name = '내려받기 한글 (1).txt';
  const content = Buffer.from('내려받은 한글 파일\n');
  for (const folder of ['files', 'zfiles']) fs.mkdirSync(path.join(site, folder), { recursive: true });
  fs.writeFileSync(path.join(site, 'files', name), content);
  fs.writeFileSync(path.join(site, 'zfiles', `${name}.gz`), zlib.gzipSync(content));
  for (const [query, saved] of [[`name=${encodeURIComponent(name)}`, name],
    [`zip=1&name=${encodeURIComponent(`${name}.gz`)}`, `${name}.gz`]]) {
    await page.goto(`${url}/index.asp`);
    const [download] = await Promise.all([
      page.waitForEvent('download'),
      page.evaluate((href) => {
        const a = document.createElement('a');
        a.href = href;
        document.body.appendChild(a);
        a.click();
      }, `${url}/download.asp?${query}`),
    ]);
    assert.equal(download.suggestedFilename(), saved, `${label}: name of ${query}`);
    assert.ok(fs.readFileSync(await download.path()).equals(content), `${label}: bytes of ${query}`);
  }
}

// A binary file with every byte value, zero bytes and CR LF pairs, and a Korean-named text file.
const binary = Buffer.alloc(300000);
for (let i = 0; i < binary.length; i++) binary[i] = (i * 131 + (i >> 8)) & 0xff;
binary.write('\r\n--', 1000, 'latin1');
const binaryPath = path.join(work, 'sample.bin');
fs.writeFileSync(binaryPath, binary);
const koreanPath = path.join(work, '사진 메모.txt');
fs.writeFileSync(koreanPath, '한글 내용\n');

// The rows of the files table of the page that answered an upload.
function fileRows(page) {
  return page.$$eval('table:nth-of-type(2) tr', (trs) => trs.slice(1).map((tr) =>
    [...tr.querySelectorAll('td')].slice(0, 3).map((td) => td.textContent.trim())));
}

// Sends one file through the upload form in a fresh tab and gives every value the progress bar
// took, how many progress reports the page asked for, and the files the answer lists. Without
// events the browser lacks upload events and its upload is slowed to about 1 MB/s; `shot`
// then takes a screenshot with the bar part way.
async function uploadWithBar(browser, file, { events, shot }) {
  const context = await browser.newContext();
  try {
    // Every value the bar takes, kept in the tab's session storage, which outlives the
    // document that the answer replaces.
    await context.addInitScript((withEvents) => {
      const value = Object.getOwnPropertyDescriptor(HTMLProgressElement.prototype, 'value');
      Object.defineProperty(HTMLProgressElement.prototype, 'value', {
        configurable: true,
        get: value.get,
        set(v) {
          value.set.call(this, v);
          const seen = JSON.parse(sessionStorage.getItem('bar') || '[]');
          seen.push(this.value);
          sessionStorage.setItem('bar', JSON.stringify(seen));
        },
      });
      if (!withEvents)
        Object.defineProperty(XMLHttpRequest.prototype, 'upload', { get: () => undefined });
    }, events);
    const page = await context.newPage();
    let reports = 0;
    page.on('request', (r) => { if (r.url().includes('/.progress?X-Progress-ID=')) reports++; });
    if (!events) {
      const cdp = await context.newCDPSession(page);
      await cdp.send('Network.enable');
      await cdp.send('Network.emulateNetworkConditions', {
        offline: false, latency: 0, downloadThroughput: -1, uploadThroughput: 1024 * 1024,
      });
    }
    await page.goto(`${base}/upload.asp`);
    await page.setInputFiles('input[name=upfile]', [file]);
    const done = page.waitForURL(/upload_done\.asp/, { timeout: 60000 });
    await page.click('button[type=submit]');
    if (shot) {
      await page.waitForFunction(() => {
        const bar = document.getElementById('bar');
        return bar && bar.value >= 25 && bar.value <= 75;
      }, null, { timeout: 60000 });
      await page.screenshot({ path: shot });
    }
    await done;
    const bar = await page.evaluate(() => JSON.parse(sessionStorage.getItem('bar') || '[]'));
    return { bar, reports, files: await fileRows(page) };
  } finally {
    await context.close();
  }
}

const browser = await chromium.launch({
  executablePath: '/usr/bin/chromium',
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
         '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
try {
  const page = await browser.newPage();
  await page.goto(`${base}/upload.asp`);
  await page.fill('input[name=title]', '한글 제목');
  await page.fill('textarea[name=comment]', 'line one\nline two');
  await page.setInputFiles('input[name=upfile]', [binaryPath, koreanPath]);
  await Promise.all([page.waitForURL(/upload_done\.asp/), page.click('button[type=submit]')]);

  const rows = await page.$$eval('table:nth-of-type(2) tr', (trs) =>
    trs.slice(1).map((tr) => [...tr.querySelectorAll('td')].map((td) => td.textContent.trim())));
  assert.deepEqual(rows.map((r) => [r[0], r[1], r[2]]), [
    ['upfile', 'sample.bin', String(binary.length)],
    ['upfile', '사진 메모.txt', String(Buffer.byteLength('한글 내용\n'))],
  ]);
  assert.match(await page.textContent('body'), /Title: 한글 제목/);
  // The file input left empty arrives as a field with an empty value.
  const fields = await page.$$eval('table:nth-of-type(1) tr', (trs) =>
    trs.slice(1).map((tr) => [...tr.querySelectorAll('td')].map((td) => td.textContent)));
  assert.ok(fields.some((f) => f[1] === 'other' && f[2] === ''));
  // The browser sends the textarea's line feed as CR LF; HTML text shows it as a line feed.
  assert.ok(fields.some((f) => f[1] === 'comment' && f[2] === 'line one\nline two'));
  if (screenshot) await page.screenshot({ path: screenshot, fullPage: true });

  // Both files come back byte for byte under their names: as saved, and from their
  // compressed copies (named as those are).
  const expected = [binary, Buffer.from('한글 내용\n')];
  const names = { plain: ['sample.bin', '사진 메모.txt'], unzip: ['sample.bin.gz', '사진 메모.txt.gz'] };
  for (const kind of ['plain', 'unzip']) {
    const links = await page.$$(`a.${kind}`);
    assert.equal(links.length, 2, `${kind} links`);
    for (let i = 0; i < links.length; i++) {
      const [download] = await Promise.all([page.waitForEvent('download'), links[i].click()]);
      const bytes = fs.readFileSync(await download.path());
      assert.ok(bytes.equals(expected[i]), `${kind} download ${i} differs`);
      assert.equal(download.suggestedFilename(), names[kind][i], `${kind} download ${i} name`);
    }
  }
  // What was uploaded into the site's data folders goes out as data, not as a page.
  const uploaded = await page.request.get(`${base}/files/${encodeURIComponent('사진 메모.txt')}`);
  assert.equal(uploaded.headers()['x-content-type-options'], 'nosniff');

  // The same files through the database: stored as sent and compressed, listed, sent back.
  await page.goto(`${base}/db_upload.asp`);
  await page.setInputFiles('input[name=upfile]', [binaryPath, koreanPath]);
  await Promise.all([page.waitForURL(/db_list\.asp/), page.click('button[type=submit]')]);
  const stored = await page.$$eval('table tr', (trs) =>
    trs.slice(1).map((tr) => [...tr.querySelectorAll('td')].map((td) => td.textContent.trim())));
  assert.deepEqual(stored.map((r) => [r[1], r[2], r[3]]), [
    ['sample.bin', String(binary.length), 'as sent'],
    ['sample.bin', String(binary.length), 'compressed'],
    ['사진 메모.txt', String(expected[1].length), 'as sent'],
    ['사진 메모.txt', String(expected[1].length), 'compressed'],
  ]);
  const rowLinks = await page.$$('table a');
  for (let i = 0; i < rowLinks.length; i++) {
    const [download] = await Promise.all([page.waitForEvent('download'), rowLinks[i].click()]);
    const bytes = fs.readFileSync(await download.path());
    assert.ok(bytes.equals(expected[i >> 1]), `database download ${i} differs`);
    assert.equal(download.suggestedFilename(), names.plain[i >> 1], `database download ${i} name`);
  }

  // A Korean name reaches the browser whole from a host in UTF-8 and from one in code page 949.
  await downloadPlaced(page, base, path.join(work, 'site'), 'UTF-8 host');
  await downloadPlaced(page, base949, site949, 'code page 949 host');
  console.log('browser upload: 2 files and the fields arrived as sent and came back byte for byte');
  console.log('under their names, from files on disk and from database rows, plain and compressed;');
  console.log('a Korean-named file came down under its name from hosts in UTF-8 and code page 949');

  // The progress bar over a post of a few MB: from upload events, then, in a browser made to
  // lack them, from the host's reports while the upload is slowed down.
  const big = Buffer.concat(Array(10).fill(binary));
  const bigPath = path.join(work, 'big.bin'), slowPath = path.join(work, 'slow.bin');
  fs.writeFileSync(bigPath, big);
  fs.writeFileSync(slowPath, big);
  const bigSize = big.length;
  const events = await uploadWithBar(browser, bigPath, { events: true });
  assert.equal(events.bar.at(-1), 100, `the bar ended at ${events.bar.at(-1)}`);
  assert.ok(events.bar.every((v, i) => i === 0 || v >= events.bar[i - 1]), `${events.bar}`);
  assert.deepEqual(events.files, [['upfile', 'big.bin', String(bigSize)]]);

  const polled = await uploadWithBar(browser, slowPath, { events: false, shot: progressShot });
  assert.equal(polled.bar.at(-1), 100, `the bar ended at ${polled.bar.at(-1)}`);
  const between = new Set(polled.bar.filter((v) => v > 0 && v < 100));
  assert.ok(between.size >= 2, `the reports moved the bar only through ${[...between]}`);
  assert.ok(polled.bar.every((v, i) => i === 0 || v >= polled.bar[i - 1]), `${polled.bar}`);
  assert.ok(polled.reports >= 2, `${polled.reports} progress reports`);
  assert.deepEqual(polled.files, [['upfile', 'slow.bin', String(bigSize)]]);
  console.log(`progress bar: ${events.bar.length} steps to 100% from upload events; ` +
              `${polled.reports} host reports moved it through ${between.size} values to 100%`);

  // Without script the form is an ordinary post.
  const plain = await browser.newContext({ javaScriptEnabled: false });
  try {
    const page = await plain.newPage();
    await page.goto(`${base}/upload.asp`);
    const plainPath = path.join(work, 'no script.txt');
    fs.writeFileSync(plainPath, '스크립트 없이\n');
    await page.setInputFiles('input[name=upfile]', [plainPath]);
    await Promise.all([page.waitForURL(/upload_done\.asp/), page.click('button[type=submit]')]);
    assert.deepEqual(await fileRows(page),
                     [['upfile', 'no script.txt', String(fs.statSync(plainPath).size)]]);
    console.log('without script: the form posted as a plain form');
  } finally {
    await plain.close();
  }
} finally {
  await browser.close();
}
