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
// serves no feed), --page-config NAME=PATH (repeatable: one more override
// file, service-NAME.json, whose start page is PATH; the ready line lists
// them under "configs").
//
// Calls (phone.html): GET /call-events?user=N passes on the call server's
// event stream of the call frames addressed to user N (the fixture web
// application learns of incoming calls there). A page may take commands:
// it polls GET /next-command?copy=NAME, and POST /command with
// {"copy": NAME, "command": {…}} queues one for it (tests and tools drive a
// page this way; see phone.html for the commands).
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
const pageConfigs = [];
process.argv.forEach((arg, index) => {
  if (arg !== '--page-config' || index + 1 >= process.argv.length) return;
  const value = process.argv[index + 1];
  const cut = value.indexOf('=');
  if (cut > 0) pageConfigs.push({ name: value.slice(0, cut), page: value.slice(cut + 1) });
});
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

// Commands waiting for a page, and pages waiting for a command, per copy name.
const commandQueues = new Map();
const commandWaiters = new Map();
const kCommandPollMs = 20000;

function queueCommand(copy, command) {
  const waiting = commandWaiters.get(copy);
  if (waiting && waiting.length) {
    const response = waiting.shift();
    response.writeHead(200, { 'Content-Type': 'application/json', 'Cache-Control': 'no-store' })
      .end(JSON.stringify(command));
    return;
  }
  if (!commandQueues.has(copy)) commandQueues.set(copy, []);
  commandQueues.get(copy).push(command);
}

function awaitCommand(copy, request, response) {
  const queued = commandQueues.get(copy);
  if (queued && queued.length) {
    response.writeHead(200, { 'Content-Type': 'application/json', 'Cache-Control': 'no-store' })
      .end(JSON.stringify(queued.shift()));
    return;
  }
  if (!commandWaiters.has(copy)) commandWaiters.set(copy, []);
  const waiting = commandWaiters.get(copy);
  waiting.push(response);
  const timer = setTimeout(() => {
    const at = waiting.indexOf(response);
    if (at >= 0) waiting.splice(at, 1);
    response.writeHead(204, { 'Cache-Control': 'no-store' }).end();
  }, kCommandPollMs);
  request.on('close', () => {
    clearTimeout(timer);
    const at = waiting.indexOf(response);
    if (at >= 0) waiting.splice(at, 1);
  });
}

// The call server's event stream of one user, passed on unchanged.
function passCallEvents(userNumber, request, response) {
  let upstream;
  try {
    upstream = new URL(`/fixture/watch?user=${encodeURIComponent(userNumber)}`, callServerURL);
  } catch {
    response.writeHead(503).end();
    return;
  }
  const client = upstream.protocol === 'https:' ? https : http;
  const outgoing = client.get(upstream, { rejectUnauthorized: false }, (incoming) => {
    response.writeHead(incoming.statusCode || 502, { 'Content-Type': 'text/event-stream', 'Cache-Control': 'no-store' });
    incoming.pipe(response);
  });
  outgoing.on('error', () => {
    if (!response.headersSent) response.writeHead(502);
    response.end();
  });
  request.on('close', () => outgoing.destroy());
}
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
  if (request.method === 'POST' && url.pathname === '/command') {
    let body = '';
    request.on('data', (chunk) => { body += chunk; });
    request.on('end', () => {
      try {
        const parsed = JSON.parse(body);
        queueCommand(String(parsed.copy), parsed.command);
        response.writeHead(204).end();
      } catch {
        response.writeHead(400).end();
      }
    });
    return;
  }
  if (url.pathname === '/next-command') {
    awaitCommand(url.searchParams.get('copy') || '', request, response);
    return;
  }
  if (url.pathname === '/call-events') {
    passCallEvents(url.searchParams.get('user') || '', request, response);
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
  const settings = {
    webAppURL: url,
    webHosts: ['127.0.0.1'],
    pinnedWebHost: '127.0.0.1',
    webPins: [pin],
    callServerURL,
    updateFeedURL: updateReady ? updateReady.feed : `https://127.0.0.1:${port}/update-feed.json`,
    updateHosts: ['127.0.0.1'],
    updatePins: updateReady ? updateReady.pins : [pinOf(certificates.cert)],
    extraCAFile,
  };
  fs.writeFileSync(config, JSON.stringify(settings, null, 2));
  const configs = {};
  for (const { name, page } of pageConfigs) {
    configs[name] = path.join(dir, `service-${name}.json`);
    fs.writeFileSync(configs[name],
      JSON.stringify({ ...settings, webAppURL: `https://127.0.0.1:${port}${page}` }, null, 2));
  }
  process.stdout.write(JSON.stringify({ event: 'ready', url, config, configs, reports: reportsFile, dir,
    foreign: foreignURL }) + '\n');
});

for (const signal of ['SIGINT', 'SIGTERM']) {
  process.on(signal, () => {
    foreign.close();
    frames.close();
    server.close(() => process.exit(0));
  });
}
