// A real browser uploads through the example site: headless Chromium opens the upload form,
// fills a Korean title, attaches a binary file and a file with a Korean name, submits, and
// reads what the upload object reports back; every download is saved under the name it was
// uploaded with. A Korean-named file is downloaded from a host in UTF-8 and from one in code
// page 949 and saved under its Korean name.
// Usage: node upload_browser.mjs URL WORKDIR SHOT URL_949 SITE_949
import { chromium } from 'playwright-core';
import fs from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';
import assert from 'node:assert/strict';

const [base, work, screenshot, base949, site949] = process.argv.slice(2);

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
} finally {
  await browser.close();
}
