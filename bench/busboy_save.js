// The peer of bench/host.sh: an http server that saves every file of a multipart post with
// busboy, each file stream piped to fs.createWriteStream, and answers "saved N" once the
// body is parsed and every file is on disk. Its files' names start with "busboy-".
//   node bench/busboy_save.js DIR   (listens on a free port of 127.0.0.1 and prints it)
'use strict';
const http = require('http');
const fs = require('fs');
const path = require('path');
const busboy = require('busboy');

const dir = process.argv[2];
let counter = 0;

function fail(res, status, text) {
  if (res.headersSent) return;
  res.writeHead(status, { 'Content-Type': 'text/plain', 'Content-Length': Buffer.byteLength(text) });
  res.end(text);
}

const server = http.createServer((req, res) => {
  if (req.method !== 'POST') return fail(res, 405, 'POST only');
  let bb;
  try {
    bb = busboy({ headers: req.headers });
  } catch (err) {
    return fail(res, 400, err.message);
  }
  const writes = [];
  let saved = 0;
  bb.on('file', (name, file, info) => {
    if (!info.filename) return file.resume();
    // A unique name per upload: the client's name, never its folders, after a counter.
    const target = path.join(dir, `busboy-${++counter}-${path.basename(info.filename)}`);
    const out = fs.createWriteStream(target);
    writes.push(new Promise((resolve, reject) => {
      out.on('finish', () => { saved++; resolve(); });
      out.on('error', reject);
    }));
    file.pipe(out);
  });
  bb.on('field', () => {});
  bb.on('error', (err) => { req.unpipe(bb); fail(res, 400, err.message); });
  bb.on('close', () => {
    Promise.all(writes).then(() => {
      const text = `saved ${saved}`;
      res.writeHead(200, { 'Content-Type': 'text/plain', 'Content-Length': Buffer.byteLength(text) });
      res.end(text);
    }, (err) => fail(res, 500, err.message));
  });
  req.pipe(bb);
});
// Keep-alive connections of the load client stay open between its phases.
server.keepAliveTimeout = 60000;
server.headersTimeout = 65000;
server.requestTimeout = 0;
server.listen(0, '127.0.0.1', () => console.log(`listening ${server.address().port}`));
process.on('SIGTERM', () => server.close(() => process.exit(0)));
