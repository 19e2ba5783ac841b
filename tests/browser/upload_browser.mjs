// A real browser uploads through the example site: headless Chromium opens the upload form,
// fills a Korean title, attaches a binary file and a file with a Korean name, submits, and
// reads what the upload object reports back. Usage: node upload_browser.mjs URL WORKDIR SHOT
import { chromium } from 'playwright-core';
import fs from 'node:fs';
import path from 'node:path';
import assert from 'node:assert/strict';

const [base, work, screenshot] = process.argv.slice(2);

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

  // Both files come back byte for byte: as saved, and from their compressed copies.
  const expected = [binary, Buffer.from('한글 내용\n')];
  for (const kind of ['plain', 'unzip']) {
    const links = await page.$$(`a.${kind}`);
    assert.equal(links.length, 2, `${kind} links`);
    for (let i = 0; i < links.length; i++) {
      const [download] = await Promise.all([page.waitForEvent('download'), links[i].click()]);
      const bytes = fs.readFileSync(await download.path());
      assert.ok(bytes.equals(expected[i]), `${kind} download ${i} differs`);
    }
  }

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
  }
  console.log('browser upload: 2 files and the fields arrived as sent and came back byte for byte,');
  console.log('from files on disk and from database rows, plain and compressed');
} finally {
  await browser.close();
}
