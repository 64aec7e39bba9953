// Calls between copies of the built program through the local service. A
// test starts the call server and the fixture web application
// (startCallService), then one copy per device (startCopy). Every copy owns
// its processes: a virtual display of its own (so its incoming-call panel
// is never covered by another copy's), a PulseAudio daemon with two null
// sinks ("speaker", the default output, and "mic", whose monitor is the
// default input and carries a tone), and the program on its own session bus
// with its own HOME. Everything is ended by process id.
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import https from 'node:https';
import path from 'node:path';
import readline from 'node:readline';
import { fileURLToPath } from 'node:url';

import { makeHome, startProgram, tempDir, waitFor } from './harness.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const devservice = path.resolve(here, '..', '..', 'tools', 'devservice');

export function callToolsAvailable() {
  const tools = ['Xvfb', 'xdotool', 'import', 'pulseaudio', 'pactl', 'parec', 'gst-launch-1.0', 'turnserver'];
  const missing = tools.filter((tool) => spawnSync('sh', ['-c', `command -v ${tool}`]).status !== 0);
  return missing.length ? `missing ${missing.join(', ')}` : '';
}

function firstLine(child) {
  const lines = readline.createInterface({ input: child.stdout });
  return new Promise((resolve, reject) => {
    lines.once('line', (line) => resolve({ line: JSON.parse(line), lines }));
    child.once('exit', (code) => reject(new Error(`${child.spawnargs[1]} exited with ${code}`)));
  });
}

async function stopChild(child, signal = 'SIGTERM') {
  if (child.exitCode !== null || child.signalCode !== null) return;
  const exited = new Promise((resolve) => child.once('exit', resolve));
  try { process.kill(child.pid, signal); } catch {}
  const timer = setTimeout(() => { try { process.kill(child.pid, 'SIGKILL'); } catch {} }, 5000);
  await exited;
  clearTimeout(timer);
}

// A free UDP port on loopback (for the relay's listening port).
async function freeUdpPort() {
  const dgram = await import('node:dgram');
  const socket = dgram.createSocket('udp4');
  await new Promise((resolve) => socket.bind(0, '127.0.0.1', resolve));
  const { port } = socket.address();
  await new Promise((resolve) => socket.close(resolve));
  return port;
}

// A TURN relay (coturn) on loopback: the program relays every call through
// the TURN server it is given, as it does against the real service.
export async function startTurn() {
  const port = await freeUdpPort();
  const dir = tempDir('orvik-e2e-turn-');
  const child = spawn('turnserver', ['-n', '--listening-ip=127.0.0.1', '--relay-ip=127.0.0.1',
    `--listening-port=${port}`, '--lt-cred-mech', '--user=devuser:devpass', '--realm=orvik.test',
    '--allow-loopback-peers', '--no-tls', '--no-dtls', '--no-cli', '--log-file=stdout',
    `--pidfile=${path.join(dir, 'turn.pid')}`, `--userdb=${path.join(dir, 'turn.db')}`],
  { stdio: ['ignore', 'pipe', 'ignore'] });
  const lines = readline.createInterface({ input: child.stdout });
  await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error('turnserver did not start')), 15000);
    lines.on('line', (line) => {
      if (line.includes('Total General servers')) {
        clearTimeout(timer);
        resolve();
      }
    });
    child.once('exit', (code) => reject(new Error(`turnserver exited with ${code}`)));
  });
  return {
    child,
    iceServers: [{ urls: [`turn:127.0.0.1:${port}?transport=udp`], username: 'devuser', credential: 'devpass' }],
    async stop() {
      await stopChild(child);
      fs.rmSync(dir, { recursive: true, force: true });
    },
  };
}

// The call server and the fixture web application. `pages` names the
// override files to write: {name: '/phone.html?…'}.
// `ice` is what the call server hands out: "turn" (the relay: the program
// then takes relay candidates only) or "stun" (the same coturn as a STUN
// server only: server-reflexive candidates, no relay).
export async function startCallService({ pages = {}, ice = 'turn' } = {}) {
  const turn = await startTurn();
  const iceServers = ice === 'stun' ? [{ urls: turn.iceServers[0].urls[0].replace(/^turn:/, 'stun:').replace(/\?.*$/, '') }]
    : turn.iceServers;
  const callArgs = [path.join(devservice, 'call_server.js'), '--ice-servers', JSON.stringify(iceServers)];
  const calls = spawn(process.execPath, callArgs, { stdio: ['ignore', 'pipe', 'inherit'] });
  let listening, callLines;
  try {
    ({ line: listening, lines: callLines } = await firstLine(calls));
  } catch (error) {
    await turn.stop();
    throw error;
  }
  // Everything the call server saw, in order.
  const seen = [];
  callLines.on('line', (line) => {
    try {
      seen.push({ ...JSON.parse(line), at: Date.now() });
    } catch {}
  });
  const dir = tempDir('orvik-e2e-calls-');
  const webArgs = [path.join(devservice, 'web-server.js'), '--dir', dir, '--call-server', listening.url];
  for (const [name, page] of Object.entries(pages)) webArgs.push('--page-config', `${name}=${page}`);
  const web = spawn(process.execPath, webArgs, { stdio: ['ignore', 'pipe', 'inherit'] });
  let ready;
  try {
    ({ line: ready } = await firstLine(web));
  } catch (error) {
    await stopChild(calls);
    await turn.stop();
    throw error;
  }
  return {
    turn,
    ...ready,
    callServerURL: listening.url,
    seen,
    // The "call" frames relayed, optionally of one type.
    frames(type) {
      return seen.filter((entry) => entry.event === 'call' && (!type || entry.frame.type === type));
    },
    reports(kind) {
      const text = fs.readFileSync(ready.reports, 'utf8');
      const all = text.split('\n').filter(Boolean).map((line) => JSON.parse(line));
      return kind ? all.filter((entry) => entry.kind === kind) : all;
    },
    // Page-function calls the native side made in one copy's page.
    pageCalls(copy, fn) {
      return this.reports('pageCall').filter((entry) => entry.data.copy === copy && (!fn || entry.data.fn === fn));
    },
    phoneEvents(copy, event) {
      return this.reports('phone').filter((entry) => entry.data.copy === copy && (!event || entry.data.event === event));
    },
    // Queues a command for a page (phone.html lists them).
    command(copy, command) {
      const body = JSON.stringify({ copy, command });
      return new Promise((resolve, reject) => {
        const request = https.request(new URL('/command', ready.url), {
          method: 'POST', rejectUnauthorized: false,
          headers: { 'Content-Type': 'application/json', 'Content-Length': Buffer.byteLength(body) },
        }, (response) => {
          response.resume();
          response.on('end', () => (response.statusCode === 204 ? resolve() : reject(new Error(`command ${response.statusCode}`))));
        });
        request.on('error', reject);
        request.end(body);
      });
    },
    // Delivers a "call" frame to a user or device as if a peer sent it.
    async send(to, frame) {
      const response = await fetch(new URL('/fixture/send', listening.url), {
        method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify({ to, frame }) });
      if (response.status !== 204) throw new Error(`send ${response.status}`);
    },
    // Holds back the "call" frames of `type` that user `from` sends from now
    // on (they are seen, with `held`, but reach nobody); `release` ends it.
    async hold(type, from, { release = false } = {}) {
      const response = await fetch(new URL('/fixture/hold', listening.url), {
        method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify({ type, from, release }) });
      if (response.status !== 204) throw new Error(`hold ${response.status}`);
    },
    async stop() {
      await stopChild(web);
      await stopChild(calls);
      await turn.stop();
    },
  };
}

// A virtual display of its own; resolves with its name (":N").
async function startDisplay() {
  const child = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', '1280x800x24', '-nolisten', 'tcp'],
    { stdio: ['ignore', 'ignore', 'ignore', 'pipe'] });
  const name = await new Promise((resolve, reject) => {
    let text = '';
    child.stdio[3].on('data', (chunk) => {
      text += chunk;
      if (text.includes('\n')) resolve(`:${text.trim()}`);
    });
    child.once('exit', (code) => reject(new Error(`Xvfb exited with ${code}`)));
  });
  return { child, name };
}

// A PulseAudio daemon for one copy, reached through the copy's runtime folder.
async function startPulse(runtime) {
  const env = { ...process.env, XDG_RUNTIME_DIR: runtime };
  delete env.DBUS_SESSION_BUS_ADDRESS;
  delete env.PULSE_SERVER;
  const child = spawn('pulseaudio', ['--daemonize=no', '--exit-idle-time=-1', '-n', '--use-pid-file=no',
    '--load=module-native-protocol-unix auth-anonymous=1',
    '--load=module-null-sink sink_name=speaker sink_properties=device.description=speaker',
    '--load=module-null-sink sink_name=mic sink_properties=device.description=mic'],
  { env, stdio: ['ignore', 'ignore', 'ignore'] });
  const pactl = (...args) => spawnSync('pactl', args, { env, encoding: 'utf8' });
  await waitFor(() => child.exitCode === null && pactl('info').status === 0, { what: 'pulseaudio', timeoutMs: 20000 });
  pactl('set-default-sink', 'speaker');
  pactl('set-default-source', 'mic.monitor');
  return { child, env, pactl };
}

const kTonePitches = [440, 620, 830];
let startedCopies = 0;

// One device: display, sound, and the program signed in through `config`.
// `tone`: the frequency (Hz) its microphone hears; by default each copy gets
// a pitch of its own. With the same pitch on both sides, a side's echo
// canceller takes its microphone's tone for the echo of the far side's and
// silences it after a few seconds, and the far side then hears nothing.
// `env` adds to the program's environment (a synthetic camera, a faster call
// clock).
export async function startCopy({ config, name, tone: toneHz, env = {} }) {
  const home = makeHome();
  const display = await startDisplay();
  const pulse = await startPulse(path.join(home, 'runtime'));
  const freq = toneHz ?? kTonePitches[startedCopies++ % kTonePitches.length];
  const tone = spawn('gst-launch-1.0', ['-q', 'audiotestsrc', 'is-live=true', 'wave=sine', `freq=${freq}`,
    'volume=0.4', '!', 'audioconvert', '!', 'pulsesink', 'device=mic'], { env: pulse.env, stdio: 'ignore' });
  const programEnv = { DISPLAY: display.name, ...env };
  const run = startProgram({ home, config, env: programEnv });
  const copy = {
    name,
    home,
    display: display.name,
    run,
    lines: run.lines,
    printed(text) {
      return this.lines.some((line) => line.includes(text));
    },
    // Ends the program and starts it again on the same home (its defaults,
    // keyring and page storage), display and sound; `lines` starts afresh.
    async restartProgram() {
      await this.run.stop();
      this.run = startProgram({ home, config, env: programEnv });
      this.lines = this.run.lines;
    },
    x(args) {
      return spawnSync(args[0], args.slice(1), { env: { ...process.env, DISPLAY: display.name }, encoding: 'buffer',
        maxBuffer: 64 * 1024 * 1024 });
    },
    // Visible windows of this program whose title is exactly `title`.
    windows(title) {
      const result = this.x(['xdotool', 'search', '--onlyvisible', '--name', `^${title.replace(/[.*+?^${}()|[\]\\]/g, '\\$&')}$`]);
      return String(result.stdout).split('\n').filter(Boolean);
    },
    // Its visible audio call windows: the caller's "Orvik – Audio Call" and
    // the callee's "Orvik – Incoming Audio Call" (its title stays after Accept).
    audioWindows() {
      const result = this.x(['xdotool', 'search', '--onlyvisible', '--name', '^Orvik – (Incoming )?Audio Call$']);
      return String(result.stdout).split('\n').filter(Boolean);
    },
    visibleTitles() {
      const result = this.x(['xdotool', 'search', '--onlyvisible', '--name', '.']);
      return String(result.stdout).split('\n').filter(Boolean)
        .map((id) => String(this.x(['xdotool', 'getwindowname', id]).stdout).trim());
    },
    // Clicks the centre of the largest patch of `rgb` (within `tolerance`
    // per channel) in the window: the call buttons are discs of one colour.
    clickColour(windowId, rgb, tolerance = 40) {
      const geometry = String(this.x(['xdotool', 'getwindowgeometry', '--shell', windowId]).stdout);
      const width = Number(/WIDTH=(\d+)/.exec(geometry)?.[1]);
      const height = Number(/HEIGHT=(\d+)/.exec(geometry)?.[1]);
      const shot = this.x(['import', '-window', windowId, '-depth', '8', 'rgb:-']).stdout;
      if (!width || !height || shot.length < width * height * 3) return false;
      let sumX = 0, sumY = 0, count = 0;
      for (let y = 0; y < height; y++) {
        for (let x = 0; x < width; x++) {
          const at = (y * width + x) * 3;
          if (Math.abs(shot[at] - rgb[0]) <= tolerance && Math.abs(shot[at + 1] - rgb[1]) <= tolerance &&
              Math.abs(shot[at + 2] - rgb[2]) <= tolerance) {
            sumX += x; sumY += y; count++;
          }
        }
      }
      if (count < 200) return false;
      const x = Math.round(sumX / count), y = Math.round(sumY / count);
      this.x(['xdotool', 'mousemove', '--window', windowId, String(x), String(y)]);
      this.x(['xdotool', 'click', '1']);
      return true;
    },
    // The loudest 100 ms (RMS, 0…1) of what this device played in `ms`,
    // read from the speaker sink's monitor (tones come in bursts).
    async playedLevel(ms = 1500) {
      const rate = 16000;
      const rec = spawn('parec', ['--device=speaker.monitor', '--format=s16le', `--rate=${rate}`, '--channels=1', '--raw'],
        { env: pulse.env, stdio: ['ignore', 'pipe', 'ignore'] });
      const chunks = [];
      rec.stdout.on('data', (chunk) => chunks.push(chunk));
      await new Promise((resolve) => setTimeout(resolve, ms));
      await stopChild(rec);
      const data = Buffer.concat(chunks);
      const samples = Math.floor(data.length / 2);
      const block = rate / 10;
      let loudest = 0;
      for (let start = 0; start + block <= samples; start += block) {
        let sum = 0;
        for (let i = start; i < start + block; i++) sum += (data.readInt16LE(i * 2) / 32768) ** 2;
        loudest = Math.max(loudest, Math.sqrt(sum / block));
      }
      return loudest;
    },
    async stop() {
      await this.run.stop();
      await stopChild(tone);
      await stopChild(pulse.child);
      await stopChild(display.child);
      fs.rmSync(home, { recursive: true, force: true });
    },
  };
  return copy;
}

// The incoming-call panel's buttons (incoming_call_panel_gtk.cpp): accept
// green and decline red, at 88 % over the panel's dark backdrop.
export const kAcceptGreen = [38, 160, 95];
export const kDeclineRed = [197, 58, 60];

export const kPanelTitle = 'Orvik';

// Clicks Accept (or Decline) on the copy's incoming-call panel once it shows,
// again while the panel stays (a press that came before the panel could take
// it), until the panel goes.
export async function pressPanelButton(copy, colour, what) {
  const deadline = Date.now() + 30000;
  let pressed = false;
  while (Date.now() < deadline) {
    const [panel] = copy.windows(kPanelTitle);
    if (!panel) {
      if (pressed) return;
    } else if (copy.clickColour(panel, colour)) {
      pressed = true;
      const until = Date.now() + 2000;
      while (Date.now() < until && copy.windows(kPanelTitle).length) await sleep(100);
      continue;
    }
    await sleep(200);
  }
  throw new Error(`timed out pressing ${what} on ${copy.name}'s panel`);
}

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// The caller's page places an audio call to `number`, the callee accepts it
// on its panel, and both sides connect.
export async function connectAudioCall(service, { caller, callerCopy, callee, number }) {
  await service.command(callerCopy, { do: 'call', to: number });
  await waitFor(() => service.frames('offerReceived').length, { what: 'ringing', timeoutMs: 30000 });
  await pressPanelButton(callee, kAcceptGreen, 'Accept');
  await waitFor(() => caller.printed('CONNECTED') && callee.printed('CONNECTED'),
    { what: 'both sides connected', timeoutMs: 30000 });
}

// The call page of one copy: user `user` calling `peer` by default.
export function phonePage({ copy, user, peer = '', name = '', announce = 'panel', signIn = true }) {
  const query = new URLSearchParams({ user, copy, announce });
  if (peer) query.set('peer', peer);
  if (name) query.set('name', name);
  if (!signIn) query.set('signIn', '0');
  return `/phone.html?${query}`;
}

// Runs `body` with a call service and one started copy per entry of
// `copies` ({copy, user, …} as phonePage takes, and `tone` and `env` as
// startCopy does), and ends them all, also when the body fails. Copies
// signed in at start are waited for.
export async function withCopies(copies, body, { ice = 'turn' } = {}) {
  const pages = Object.fromEntries(copies.map((copy) => [copy.copy, phonePage(copy)]));
  const service = await startCallService({ pages, ice });
  const started = {};
  try {
    await Promise.all(copies.map(async (copy) => {
      started[copy.copy] = await startCopy({ config: service.configs[copy.copy], name: copy.copy, tone: copy.tone,
        env: copy.env });
    }));
    await Promise.all(copies.map(async (copy) => {
      await waitFor(() => service.phoneEvents(copy.copy, 'watching').length > 0,
        { what: `${copy.copy}'s page`, timeoutMs: 90000 });
      if (copy.signIn !== false) {
        await waitFor(() => started[copy.copy].printed('[WebView] nativeAuthData — credentials SET'),
          { what: `${copy.copy}'s credentials`, timeoutMs: 60000 });
        // The page's own report of it names the device (deviceOf).
        await waitFor(() => service.phoneEvents(copy.copy, 'signedIn').length > 0,
          { what: `${copy.copy}'s page signed in`, timeoutMs: 30000 });
      }
    }));
    await body({ service, copies: started });
  } catch (error) {
    // What each side printed and what the call server saw, to read the failure by.
    for (const copy of Object.values(started)) {
      console.error(`--- ${copy.name} printed:\n${copy.lines.slice(-150).join('\n')}`);
    }
    console.error(`--- the call server saw:\n${service.seen.map((entry) => JSON.stringify(entry).slice(0, 300)).join('\n')}`);
    throw error;
  } finally {
    await Promise.all(Object.values(started).map((copy) => copy.stop()));
    await service.stop();
  }
}

// The device id a copy signed in with (after its page reported signing in).
export function deviceOf(service, copy) {
  const [signedIn] = service.phoneEvents(copy, 'signedIn');
  if (!signedIn) throw new Error(`${copy} has not signed in`);
  return signedIn.data.device;
}
