#!/usr/bin/env node
// The local stand-in of the update download host: the update feed and the
// archives it names, over HTTPS on free loopback ports, with a certificate
// chain of its own made by the openssl tool at every start (TEST-ONLY keys):
// a root CA, a pinned intermediate and a server certificate for 127.0.0.1 and
// localhost. Prints one line of JSON saying where:
//
//   {"event":"ready","url":"https://127.0.0.1:40500","feed":"https://127.0.0.1:40500/feed.json",
//    "unpinned":"https://127.0.0.1:40501","http":"http://127.0.0.1:40502","ca":"/tmp/…/root.pem",
//    "pins":["…intermediate's pin…"],"sha256":"…of /archives/update.tar…","requests":"/tmp/…/requests.jsonl"}
//
// "unpinned" serves the same paths with a chain from the same root through
// another intermediate (trusted, never pinned); "http" serves them in plain
// HTTP. Every request reaching any of the three is appended to requests.jsonl
// as {"server":"pinned"|"unpinned"|"http","path":"/…"}, so tests can tell that
// nothing was sent.
//
// Paths:
//   /feed.json                 build 999999, the good archive and its digest
//   /feeds/tampered.json       the good archive with another digest
//   /feeds/no-digest.json      the good archive without "sha256"
//   /feeds/small.json          an archive of 511,999 bytes
//   /feeds/missing.json        an archive that answers 404
//   /archives/update.tar       600,000 bytes; /archives/small.tar 511,999;
//   /archives/exact.tar        512,000; any other /archives/… is 404
//   /redirect/http/PATH        302 to PATH on the plain-HTTP server
//   /redirect/foreign/PATH     302 to PATH on https://localhost (a host not allowed)
//   /redirect/same/PATH        302 to PATH on this server
//
// Options: --dir DIR (state folder, default a new temp folder), --build B
// (the feed's build number, default 999999), --version V (its version, default
// 9.9.9), --archive FILE (a release's signed update archive, made by
// tools/release/make-update-archive.mjs, served as /archives/update.tar in
// place of the made-up bytes; "sha256" and the feeds name its digest).
// Only Node's built-in modules.
'use strict';

const crypto = require('crypto');
const fs = require('fs');
const http = require('http');
const https = require('https');
const os = require('os');
const path = require('path');
const { execFileSync } = require('child_process');

function option(name, fallback) {
  const index = process.argv.indexOf(name);
  return index >= 0 && index + 1 < process.argv.length ? process.argv[index + 1] : fallback;
}
const dir = path.resolve(option('--dir', fs.mkdtempSync(path.join(os.tmpdir(), 'orvik-update-feed-'))));
const build = option('--build', '999999');
const version = option('--version', '9.9.9');
const releaseArchive = option('--archive', '');
fs.mkdirSync(dir, { recursive: true });
const file = (name) => path.join(dir, name);

function openssl(...args) {
  execFileSync('openssl', args, { stdio: ['ignore', 'ignore', 'pipe'] });
}

function makeKey(name, curve) {
  openssl('genpkey', '-algorithm', 'EC', '-pkeyopt', `ec_paramgen_curve:${curve}`, '-out', file(`${name}.key`));
}

function sign(name, subject, issuer, extensions) {
  fs.writeFileSync(file(`${name}.ext`), extensions);
  openssl('req', '-new', '-key', file(`${name}.key`), '-subj', subject, '-out', file(`${name}.csr`));
  openssl('x509', '-req', '-in', file(`${name}.csr`), '-CA', file(`${issuer}.pem`), '-CAkey', file(`${issuer}.key`),
    '-CAcreateserial', '-days', '7', '-extfile', file(`${name}.ext`), '-out', file(`${name}.pem`));
}

function makeChain() {
  makeKey('root', 'P-384');
  openssl('req', '-x509', '-new', '-key', file('root.key'), '-subj', '/CN=TEST-ONLY Orvik update root', '-days', '7',
    '-addext', 'basicConstraints=critical,CA:TRUE', '-addext', 'keyUsage=critical,keyCertSign,cRLSign',
    '-out', file('root.pem'));
  const caExtensions = 'basicConstraints=critical,CA:TRUE,pathlen:0\nkeyUsage=critical,keyCertSign,cRLSign\n';
  const serverExtensions =
    'basicConstraints=critical,CA:FALSE\nextendedKeyUsage=serverAuth\nsubjectAltName=IP:127.0.0.1,DNS:localhost\n';
  for (const kind of ['pinned', 'unpinned']) {
    makeKey(`${kind}-intermediate`, 'P-384');
    sign(`${kind}-intermediate`, `/CN=TEST-ONLY Orvik update ${kind} intermediate`, 'root', caExtensions);
    makeKey(`${kind}-server`, 'P-256');
    sign(`${kind}-server`, '/CN=127.0.0.1', `${kind}-intermediate`, serverExtensions);
  }
}

// pin-sha256: base64 SHA-256 of the DER SubjectPublicKeyInfo.
function pinOf(pemFile) {
  const spki = new crypto.X509Certificate(fs.readFileSync(pemFile)).publicKey.export({ type: 'spki', format: 'der' });
  return crypto.createHash('sha256').update(spki).digest('base64');
}

makeChain();
const requestsFile = file('requests.jsonl');
fs.writeFileSync(requestsFile, '');

function archive(size) {
  const bytes = Buffer.alloc(size);
  for (let i = 0; i < size; i++) bytes[i] = (i * 31 + 7) % 251;
  return bytes;
}
const archives = { 'update.tar': releaseArchive ? fs.readFileSync(releaseArchive) : archive(600000), 'small.tar': archive(511999), 'exact.tar': archive(512000) };
const sha256 = (bytes) => crypto.createHash('sha256').update(bytes).digest('hex');
const goodDigest = sha256(archives['update.tar']);

let base = '';
let localhostBase = '';
let httpBase = '';

function feed(archiveName, digest) {
  const entry = { version, buildVersion: build, downloadUrl: `${base}/archives/${archiveName}`,
    releaseNotes: 'TEST-ONLY update' };
  if (digest !== undefined) entry.sha256 = digest;
  return JSON.stringify(entry);
}

function handler(server) {
  return (request, response) => {
    const url = new URL(request.url, 'https://127.0.0.1');
    fs.appendFileSync(requestsFile, JSON.stringify({ server, path: url.pathname }) + '\n');
    const send = (status, type, body, headers = {}) => {
      response.writeHead(status, { 'Content-Type': type, 'Content-Length': Buffer.byteLength(body),
        'Cache-Control': 'no-store', ...headers });
      response.end(body);
    };
    const redirect = url.pathname.match(/^\/redirect\/(http|foreign|same)(\/.*)$/);
    if (redirect) {
      const target = { http: httpBase, foreign: localhostBase, same: base }[redirect[1]] + redirect[2];
      send(302, 'text/plain', 'moved', { Location: target });
      return;
    }
    const feeds = {
      '/feed.json': () => feed('update.tar', goodDigest),
      '/feeds/tampered.json': () => feed('update.tar', sha256(Buffer.from('another file'))),
      '/feeds/no-digest.json': () => feed('update.tar', undefined),
      '/feeds/small.json': () => feed('small.tar', sha256(archives['small.tar'])),
      '/feeds/missing.json': () => feed('gone.tar', goodDigest),
    };
    if (feeds[url.pathname]) {
      send(200, 'application/json', feeds[url.pathname]());
      return;
    }
    const name = url.pathname.startsWith('/archives/') ? url.pathname.slice('/archives/'.length) : '';
    if (archives[name]) {
      send(200, 'application/x-tar', archives[name]);
      return;
    }
    send(404, 'text/html', '<html><body>Not Found</body></html>');
  };
}

const chain = (kind) => Buffer.concat([fs.readFileSync(file(`${kind}-server.pem`)),
  fs.readFileSync(file(`${kind}-intermediate.pem`))]);
const pinned = https.createServer({ cert: chain('pinned'), key: fs.readFileSync(file('pinned-server.key')) },
  handler('pinned'));
const unpinned = https.createServer({ cert: chain('unpinned'), key: fs.readFileSync(file('unpinned-server.key')) },
  handler('unpinned'));
const plain = http.createServer(handler('http'));

const listen = (server) => new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
Promise.all([listen(pinned), listen(unpinned), listen(plain)]).then(() => {
  base = `https://127.0.0.1:${pinned.address().port}`;
  localhostBase = `https://localhost:${pinned.address().port}`;
  httpBase = `http://127.0.0.1:${plain.address().port}`;
  process.stdout.write(JSON.stringify({
    event: 'ready', url: base, feed: `${base}/feed.json`, unpinned: `https://127.0.0.1:${unpinned.address().port}`,
    http: httpBase, ca: file('root.pem'), pins: [pinOf(file('pinned-intermediate.pem'))], sha256: goodDigest,
    requests: requestsFile, dir,
  }) + '\n');
});

for (const signal of ['SIGINT', 'SIGTERM']) {
  process.on(signal, () => {
    for (const server of [pinned, unpinned, plain]) server.close();
    process.exit(0);
  });
}
