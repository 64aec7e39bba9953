#!/usr/bin/env node
// The local call server: a Socket.IO server that speaks the 2.x wire format
// (Engine.IO 3) at the path "/calling", on 127.0.0.1 only.
//
//   node call_server.js [--port N] [--tls-cert FILE --tls-key FILE]
//                       [--ping-interval MS] [--ping-timeout MS]
//                       [--ice-servers JSON]
//
// Port 0 (the default, or env ORVIK_CALL_SERVER_PORT) picks a free port. The
// first line on standard output is {"listening": PORT, "url": "..."}; after it
// one JSON line per thing a test may want to see (connections with their
// query parameters, relayed frames, notices). Nothing else goes to stdout.
//
// What it does, as the real call server does:
// - reads "token", "userNumber", "deviceUdid", "pushToken", "isFreeUser" from
//   the connection's query; the token "invalid" gets "invalid_token";
// - sends "getToken" with an ICE configuration right after the connection;
// - relays "call" frames to the user (every device) or to "user_device";
//   an acknowledged "offer" is answered with {"id": <call-record id>};
//   an offer for a user with no connected device is kept as a pending call
//   until the caller ends it or the callee answers, declines or ends it;
// - sends "getPendingCall" with the user's pending calls on every connection;
// - "sendToMyDevices" goes to the sender's other devices, acknowledged;
// - "getUserDevices" answers with the addressed user's connected devices.
// For the fixture web application, which learns of calls the way the
// service's web application does: GET /fixture/watch?user=N is an event
// stream (text/event-stream) with one event per "call" frame addressed to
// user N or one of its devices: {"frame": …, "recordId": …, "fromUser": …}.
// POST /fixture/send with {"to": address, "frame": {…}} delivers a "call"
// frame to that user or device as if a peer had sent it (tests play a
// misbehaving or late peer this way).
// POST /fixture/hold with {"type": T, "from": user number} holds back every
// later "call" frame of type T that user sends: it is reported (with
// "held": true) but reaches nobody, as when a frame is lost on its way
// (tests prove that something else, the peers' data channel, carried the
// news). {"type": T, "from": N, "release": true} lets them through again.
// POST /fixture/reject-token with {"address": "<user>_<device>"} sends
// "invalid_token" to that connected device, as when its token expires
// mid-call; the connection stays open.
// Test helpers: "seedPendingCall" stores a pending-call record of a chosen
// age; "rejectToken" sends "invalid_token" to one connected device; "echo"
// acknowledges with its own arguments; "echoBack" sends its
// arguments back as the event "echo" asking the client for an ack, then
// reports that ack as the event "echoAcked".
'use strict';

const fs = require('fs');
const http = require('http');
const https = require('https');
const { Server } = require('socket.io');

function option(name, fallback) {
  const index = process.argv.indexOf(`--${name}`);
  return index > 0 && index + 1 < process.argv.length ? process.argv[index + 1] : fallback;
}

const port = Number(option('port', process.env.ORVIK_CALL_SERVER_PORT || 0));
const tlsCert = option('tls-cert', '');
const tlsKey = option('tls-key', '');
const pingInterval = Number(option('ping-interval', 25000));
const pingTimeout = Number(option('ping-timeout', 20000));

function report(entry) {
  process.stdout.write(JSON.stringify(entry) + '\n');
}

const httpServer = tlsCert
  ? https.createServer({ cert: fs.readFileSync(tlsCert), key: fs.readFileSync(tlsKey) })
  : http.createServer();

const io = new Server(httpServer, {
  path: '/calling',
  allowEIO3: true,
  transports: ['websocket'],
  pingInterval,
  pingTimeout,
  maxHttpBufferSize: 16 * 1024 * 1024,
});

// --ice-servers replaces the list (a JSON array of {urls, username,
// credential}), for calls through a relay started elsewhere.
const iceServersOption = option('ice-servers', '');
const iceConfig = {
  iceServers: iceServersOption ? JSON.parse(iceServersOption) : [
    { urls: 'stun:127.0.0.1:3478' },
    { urls: ['turn:127.0.0.1:3478?transport=udp'], username: 'devuser', credential: 'devpass' },
  ],
  iceTransportPolicy: 'all',
};

let nextRecordId = 1000;
const heldFrames = new Set();  // "<from user> <type>" of frames held back
const watchers = new Map();  // user number -> set of open event-stream responses

function tellWatchers(userNumber, event) {
  for (const response of watchers.get(userNumber) || []) {
    response.write(`data: ${JSON.stringify(event)}\n\n`);
  }
}

// What a test can make the server do, by the POST path it asks on.
const fixtureActions = {
  '/fixture/send': ({ to, frame }) => {
    report({ event: 'sent', to, frame });
    io.to(roomFor(String(to))).emit('call', frame);
  },
  '/fixture/hold': ({ type, from, release }) => {
    const key = `${from} ${type}`;
    if (release) heldFrames.delete(key); else heldFrames.add(key);
    report({ event: release ? 'released' : 'hold', type, from });
  },
  '/fixture/reject-token': ({ address }) => rejectToken(String(address)),
};

// The server rejects the token of a connected device ("<user>_<device>") as
// it does when a token expires mid-call; the connection stays open.
function rejectToken(address) {
  io.to(deviceRoom(address)).emit('invalid_token', { message: 'token rejected' });
  report({ event: 'rejectToken', address });
}

httpServer.on('request', (request, response) => {
  const url = new URL(request.url, 'http://127.0.0.1');
  // Socket.IO answers its own path; everything else is ours.
  if (url.pathname.startsWith('/calling')) return;
  const fixture = request.method === 'POST' && fixtureActions[url.pathname];
  if (fixture) {
    let body = '';
    request.on('data', (chunk) => { body += chunk; });
    request.on('end', () => {
      try {
        fixture(JSON.parse(body));
        response.writeHead(204).end();
      } catch {
        response.writeHead(400).end();
      }
    });
    return;
  }
  if (url.pathname !== '/fixture/watch') {
    response.writeHead(404).end();
    return;
  }
  const userNumber = url.searchParams.get('user') || '';
  response.writeHead(200, { 'Content-Type': 'text/event-stream', 'Cache-Control': 'no-store' });
  response.write(': watching\n\n');
  if (!watchers.has(userNumber)) watchers.set(userNumber, new Set());
  watchers.get(userNumber).add(response);
  request.on('close', () => watchers.get(userNumber).delete(response));
});
const pendingCalls = new Map();  // user number -> list of pending-call records

// Drops the pending calls of `caller` to `callee`.
function dropPending(callee, caller) {
  const left = (pendingCalls.get(callee) || []).filter((record) => record.caller !== caller);
  if (left.length) pendingCalls.set(callee, left); else pendingCalls.delete(callee);
}

function userRoom(userNumber) { return `user:${userNumber}`; }
function deviceRoom(address) { return `device:${address}`; }

// "4711" reaches every device of user 4711, "4711_abc" only device abc.
function roomFor(address) {
  return address.includes('_') ? deviceRoom(address) : userRoom(address);
}

function devicesOf(userNumber) {
  const devices = [];
  for (const socket of io.of('/').sockets.values()) {
    if (socket.data.userNumber === userNumber) {
      devices.push({ deviceUdid: socket.data.deviceUdid, deviceToken: socket.data.pushToken });
    }
  }
  return devices;
}

io.on('connection', (socket) => {
  const query = socket.handshake.query;
  const identity = {
    token: String(query.token ?? ''),
    userNumber: String(query.userNumber ?? ''),
    deviceUdid: String(query.deviceUdid ?? ''),
    pushToken: String(query.pushToken ?? ''),
    isFreeUser: String(query.isFreeUser ?? ''),
  };
  socket.data = identity;
  report({ event: 'connection', id: socket.id, eio: socket.conn.protocol, transport: socket.conn.transport.name,
           query: Object.fromEntries(Object.entries(query).filter(([key]) => key !== 'EIO' && key !== 'transport')) });

  if (identity.token === 'invalid') {
    socket.emit('invalid_token', { message: 'token rejected' });
    return;
  }
  socket.join(userRoom(identity.userNumber));
  socket.join(deviceRoom(`${identity.userNumber}_${identity.deviceUdid}`));

  socket.emit('getToken', { token: iceConfig });
  const pending = pendingCalls.get(identity.userNumber) || [];
  socket.emit('getPendingCall', { data: pending, currentTime: Date.now() });

  socket.on('call', (frame, ack) => {
    const to = frame && typeof frame.to === 'string' ? frame.to : '';
    const type = frame && typeof frame.type === 'string' ? frame.type : '';
    let recordId = null;
    if (type === 'offer') {
      recordId = nextRecordId++;
      const callee = to.split('_')[0];
      if (devicesOf(callee).length === 0) {
        const list = pendingCalls.get(callee) || [];
        list.push({ id: recordId, dateAdded: Date.now(), from: frame.from, caller: identity.userNumber,
                    deviceUDID: identity.deviceUdid, isAudioCall: frame.isAudio === true,
                    callerOffer: frame.sdp });
        pendingCalls.set(callee, list);
      }
    } else {
      const target = to.split('_')[0];
      // The caller gave up: its call no longer waits for the callee.
      if (type === 'endCall' || type === 'StopRinging') dropPending(target, identity.userNumber);
      // The callee answered, declined or hung up: nor does it wait any more.
      if (type === 'answer' || type === 'userBusy' || type === 'endCall') dropPending(identity.userNumber, target);
    }
    const held = heldFrames.has(`${identity.userNumber} ${type}`);
    report({ event: 'call', from: identity.userNumber, frame, ...(recordId === null ? {} : { recordId }),
             ...(held ? { held } : {}) });
    if (!held) {
      socket.to(roomFor(to)).emit('call', frame);
      tellWatchers(to.split('_')[0], { frame, recordId, fromUser: identity.userNumber });
    }
    if (typeof ack === 'function') ack(recordId === null ? { ok: true } : { id: recordId });
  });

  socket.on('sendToMyDevices', (notice, ack) => {
    report({ event: 'sendToMyDevices', from: identity.userNumber, notice });
    socket.to(userRoom(identity.userNumber)).emit('sendToMyDevices', notice);
    if (typeof ack === 'function') ack({ ok: true });
  });

  socket.on('getUserDevices', (request, ack) => {
    const userNumber = request && typeof request.userNumber === 'string' ? request.userNumber : '';
    report({ event: 'getUserDevices', userNumber });
    if (typeof ack === 'function') ack(devicesOf(userNumber));
  });

  socket.on('echo', (...args) => {
    const ack = typeof args[args.length - 1] === 'function' ? args.pop() : null;
    report({ event: 'echo', count: args.length });
    if (ack) ack(...args);
  });

  socket.on('echoBack', (...args) => {
    if (typeof args[args.length - 1] === 'function') args.pop();
    socket.emit('echo', ...args, (...reply) => socket.emit('echoAcked', ...reply));
  });

  // Test helper: stores a pending-call record for a user, dated `ageSeconds`
  // before now, so tests can exercise fresh and stale records.
  socket.on('seedPendingCall', (request, ack) => {
    const userNumber = request && typeof request.userNumber === 'string' ? request.userNumber : '';
    const record = { ...(request && request.record), dateAdded: Date.now() - 1000 * Number(request && request.ageSeconds || 0) };
    pendingCalls.set(userNumber, [record]);
    report({ event: 'seedPendingCall', userNumber });
    if (typeof ack === 'function') ack({ ok: true });
  });

  // Test helper: rejectToken above, asked over the socket.
  socket.on('rejectToken', (request, ack) => {
    rejectToken(request && typeof request.address === 'string' ? request.address : '');
    if (typeof ack === 'function') ack({ ok: true });
  });

  socket.on('disconnect', (reason) => report({ event: 'disconnect', id: socket.id, reason }));
});

httpServer.listen(port, '127.0.0.1', () => {
  const actual = httpServer.address().port;
  report({ listening: actual, url: `${tlsCert ? 'https' : 'http'}://127.0.0.1:${actual}` });
});

for (const signal of ['SIGTERM', 'SIGINT']) process.on(signal, () => process.exit(0));
