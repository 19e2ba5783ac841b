// The JavaScript reference for the parse benchmark: busboy cutting the same bodies, each part
// collected into one buffer, as the upload object collects it. Prints MB/s per body.
'use strict';
const fs = require('fs');
const path = require('path');
const busboy = require('busboy');

const dir = process.argv[2];
const boundary = fs.readFileSync(path.join(dir, 'boundary'), 'utf8');

function parseOnce(body) {
  return new Promise((resolve, reject) => {
    const bb = busboy({
      headers: { 'content-type': `multipart/form-data; boundary=${boundary}` },
      limits: { fieldSize: Infinity, fields: Infinity, files: Infinity, parts: Infinity },
    });
    let parts = 0;
    bb.on('file', (name, stream) => {
      const chunks = [];
      stream.on('data', (c) => chunks.push(c));
      stream.on('end', () => { Buffer.concat(chunks); parts++; });
    });
    bb.on('field', () => { parts++; });
    bb.on('close', () => resolve(parts));
    bb.on('error', reject);
    // The whole body arrives at once, as the upload object reads it.
    bb.end(body);
  });
}

async function measure(file) {
  const body = fs.readFileSync(path.join(dir, file));
  await parseOnce(body);  // warm-up
  let runs = 0;
  const start = process.hrtime.bigint();
  let elapsed = 0;
  while (runs < 3 || elapsed < 2e9) {
    await parseOnce(body);
    runs++;
    elapsed = Number(process.hrtime.bigint() - start);
  }
  const mbs = (body.length * runs) / (elapsed / 1e9) / 1e6;
  console.log(`${file} ${mbs.toFixed(1)}`);
}

(async () => {
  await measure('big.body');
  await measure('fields.body');
})();
