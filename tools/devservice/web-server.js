#!/usr/bin/env node
// The local stand-in of the service's web application: a fixture page served
// over HTTPS on a free loopback port, with a throwaway CA and a P-384 leaf for
// 127.0.0.1 made by the openssl tool at every start (TEST-ONLY keys, never
// trusted outside this run). It writes the service-override JSON that points
// the program at itself and prints one line of JSON saying where:
//
//   {"event":"ready","url":"https://127.0.0.1:40443/","config":"/tmp/…/service.json","reports":"/tmp/…/reports.jsonl"}
//
// The fixture page reports what it sees (globals, replies, console lines) to
// POST /report; each report is appended to reports.jsonl as one JSON line.
// TLS handshakes for host names other than 127.0.0.1 are reported too
// ({"kind":"tlsHello","data":"localhost"}), so tests can tell that a request
// never left the program.
//
// A second, plain-HTTP server on 127.0.0.2 (a host the program does not
// trust) serves foreign.html, for pages that send the top frame elsewhere;
// its address is "foreign" in the ready line. A third, HTTPS on another port
// (another origin), serves frame.html to be framed: /foreign-frame leads there;
// and capture-frame.html, a frame that asks for the camera: /foreign-capture-frame.
//
// Options: --dir DIR (state folder, default a new temp folder), --page PATH
// (the start page, default /), --wrong-pin (pin a key the server does not
// have), --call-server URL (written as callServerURL), --update-ready LINE
// (the ready line of update-feed.js: its feed, pins and CA are written as
// the update host's; without it the update keys point at this server, which
// serves no feed).
// Only Node's built-in modules: no npm package is needed.
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
const dir = path.resolve(option('--dir', fs.mkdtempSync(path.join(os.tmpdir(), 'orvik-devservice-'))));
const startPage = option('--page', '/');
const wrongPin = process.argv.includes('--wrong-pin');
const callServerURL = option('--call-server', 'http://127.0.0.1:9');
const updateReady = JSON.parse(option('--update-ready', 'null'));
fs.mkdirSync(dir, { recursive: true });

function openssl(...args) {
  execFileSync('openssl', args, { stdio: ['ignore', 'ignore', 'pipe'] });
}

function makeCertificates() {
  const file = (name) => path.join(dir, name);
  fs.writeFileSync(file('leaf.ext'),
    'basicConstraints=critical,CA:FALSE\nextendedKeyUsage=serverAuth\nsubjectAltName=IP:127.0.0.1,DNS:localhost\n');
  openssl('genpkey', '-algorithm', 'EC', '-pkeyopt', 'ec_paramgen_curve:P-384', '-out', file('ca.key'));
  openssl('req', '-x509', '-new', '-key', file('ca.key'), '-subj', '/CN=TEST-ONLY Orvik devservice CA', '-days', '7',
    '-addext', 'basicConstraints=critical,CA:TRUE', '-addext', 'keyUsage=critical,keyCertSign,cRLSign',
    '-out', file('ca.pem'));
  openssl('genpkey', '-algorithm', 'EC', '-pkeyopt', 'ec_paramgen_curve:P-384', '-out', file('leaf.key'));
  openssl('req', '-new', '-key', file('leaf.key'), '-subj', '/CN=127.0.0.1', '-out', file('leaf.csr'));
  openssl('x509', '-req', '-in', file('leaf.csr'), '-CA', file('ca.pem'), '-CAkey', file('ca.key'),
    '-CAcreateserial', '-days', '7', '-extfile', file('leaf.ext'), '-out', file('leaf.pem'));
  return { ca: file('ca.pem'), cert: fs.readFileSync(file('leaf.pem')), key: fs.readFileSync(file('leaf.key')) };
}

// pin-sha256: base64 SHA-256 of the DER SubjectPublicKeyInfo.
function pinOf(pem) {
  const spki = new crypto.X509Certificate(pem).publicKey.export({ type: 'spki', format: 'der' });
  return crypto.createHash('sha256').update(spki).digest('base64');
}

const certificates = makeCertificates();
const reportsFile = path.join(dir, 'reports.jsonl');
fs.writeFileSync(reportsFile, '');
function report(kind, data) {
  fs.appendFileSync(reportsFile, JSON.stringify({ kind, data, at: Date.now() }) + '\n');
}

const webapp = path.join(__dirname, 'webapp');
const types = { '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.css': 'text/css' };

const server = https.createServer({
  cert: certificates.cert,
  key: certificates.key,
  SNICallback(servername, done) {
    if (servername !== '127.0.0.1') report('tlsHello', servername);
    done(null, null);
  },
}, (request, response) => {
  const url = new URL(request.url, 'https://127.0.0.1');
  if (request.method === 'POST' && url.pathname === '/report') {
    let body = '';
    request.on('data', (chunk) => { body += chunk; });
    request.on('end', () => {
      try {
        const parsed = JSON.parse(body);
        report(String(parsed.kind), parsed.data);
      } catch (error) {
        report('badReport', body.slice(0, 200));
      }
      response.writeHead(204).end();
    });
    return;
  }
  if (url.pathname === '/probe') {
    report('probe', url.searchParams.get('from') || '');
    response.writeHead(200, { 'Content-Type': 'text/plain', 'Cache-Control': 'no-store' }).end('ok');
    return;
  }
  if (url.pathname === '/foreign-frame') {
    const { port } = server.address();
    response.writeHead(302, { Location: `https://127.0.0.1:${frames.address().port}/frame.html?report=${port}` }).end();
    return;
  }
  if (url.pathname === '/foreign-capture-frame') {
    response.writeHead(302, { Location: `https://127.0.0.1:${frames.address().port}/capture-frame.html` }).end();
    return;
  }
  if (url.pathname === '/go-foreign') {
    response.writeHead(302, { Location: `http://127.0.0.2:${foreign.address().port}/foreign.html` }).end();
    return;
  }
  const name = url.pathname === '/' ? 'index.html' : path.basename(url.pathname);
  const file = path.join(webapp, name);
  if (!fs.existsSync(file)) {
    response.writeHead(404).end();
    return;
  }
  response.writeHead(200, {
    'Content-Type': types[path.extname(file)] || 'application/octet-stream',
    'Cache-Control': 'no-store',
    // The bridge trusts the top document of our origin: it must never be framed.
    'Content-Security-Policy': "frame-ancestors 'none'",
  });
  response.end(fs.readFileSync(file));
});

// Another origin (same host, another port) whose page may be framed.
const frames = https.createServer({ cert: certificates.cert, key: certificates.key }, (request, response) => {
  const page = new URL(request.url, 'https://127.0.0.1').pathname === '/capture-frame.html' ? 'capture-frame.html'
    : 'frame.html';
  response.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8', 'Cache-Control': 'no-store' });
  response.end(fs.readFileSync(path.join(webapp, page)));
});

const foreign = http.createServer((request, response) => {
  response.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8', 'Cache-Control': 'no-store' });
  response.end(fs.readFileSync(path.join(webapp, 'foreign.html')));
});

const foreignReady = Promise.all([new Promise((resolve) => foreign.listen(0, '127.0.0.2', resolve)),
  new Promise((resolve) => frames.listen(0, '127.0.0.1', resolve))]);

server.listen(0, '127.0.0.1', async () => {
  await foreignReady;
  const { port } = server.address();
  const foreignURL = `http://127.0.0.2:${foreign.address().port}/foreign.html`;
  const url = `https://127.0.0.1:${port}${startPage}`;
  const config = path.join(dir, 'service.json');
  const pin = wrongPin ? crypto.createHash('sha256').update('not this key').digest('base64') : pinOf(certificates.cert);
  // One CA file for both hosts: this server's CA and the update host's.
  let extraCAFile = certificates.ca;
  if (updateReady) {
    extraCAFile = path.join(dir, 'ca-bundle.pem');
    fs.writeFileSync(extraCAFile, Buffer.concat([fs.readFileSync(certificates.ca), fs.readFileSync(updateReady.ca)]));
  }
  fs.writeFileSync(config, JSON.stringify({
    webAppURL: url,
    webHosts: ['127.0.0.1'],
    pinnedWebHost: '127.0.0.1',
    webPins: [pin],
    callServerURL,
    updateFeedURL: updateReady ? updateReady.feed : `https://127.0.0.1:${port}/update-feed.json`,
    updateHosts: ['127.0.0.1'],
    updatePins: updateReady ? updateReady.pins : [pinOf(certificates.cert)],
    extraCAFile,
  }, null, 2));
  process.stdout.write(JSON.stringify({ event: 'ready', url, config, reports: reportsFile, dir, foreign: foreignURL }) +
    '\n');
});

for (const signal of ['SIGINT', 'SIGTERM']) {
  process.on(signal, () => {
    foreign.close();
    frames.close();
    server.close(() => process.exit(0));
  });
}
