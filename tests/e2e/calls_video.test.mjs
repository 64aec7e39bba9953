// End-to-end: a video call between two copies of the program, each with the
// test builds' synthetic camera (moving colour bars instead of a device).
// What counts is what each copy's display shows: the other side's bars,
// moving, in the stage of its call window; then a plain X window the caller
// shares, on the callee's display.
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';

import { programAvailable, waitFor } from './harness.mjs';
import { callToolsAvailable, kAcceptGreen, pressPanelButton, sleep, withCopies } from './call_harness.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));

function toolsMissing() {
  const missing = callToolsAvailable();
  if (missing) return missing;
  return spawnSync('sh', ['-c', 'command -v xmessage']).status === 0 ? '' : 'missing xmessage';
}
const skip = !programAvailable() ? 'the orvikdesk program is not built' : toolsMissing() || false;

// The synthetic camera's bars (calls/media/colour_bars.h), left to right.
const kBars = [[255, 255, 255], [255, 255, 0], [0, 255, 255], [0, 255, 0], [255, 0, 255], [255, 0, 0], [0, 0, 255],
  [0, 0, 0]];
// The shared window's background: far from every bar.
const kShared = [255, 128, 0];
const kSharedTitle = 'Shared fixture';

const distance = (data, at, rgb) =>
  Math.hypot(data[at] - rgb[0], data[at + 1] - rgb[1], data[at + 2] - rgb[2]);

function parsedSdp(frame) {
  return typeof frame.sdp === 'string' ? JSON.parse(frame.sdp) : frame.sdp;
}

// The copy's visible video call window: the caller's "Orvik – Video Call",
// the callee's the same or "Orvik – Incoming Video Call".
function videoWindow(copy) {
  const result = copy.x(['xdotool', 'search', '--onlyvisible', '--name', '^Orvik – (Incoming )?Video Call$']);
  return String(result.stdout).split('\n').filter(Boolean)[0];
}

// The window's pixels as RGB bytes, or null while it cannot be read whole.
function shot(copy, windowId) {
  const geometry = String(copy.x(['xdotool', 'getwindowgeometry', '--shell', windowId]).stdout);
  const width = Number(/WIDTH=(\d+)/.exec(geometry)?.[1]);
  const height = Number(/HEIGHT=(\d+)/.exec(geometry)?.[1]);
  const data = copy.x(['import', '-window', windowId, '-depth', '8', 'rgb:-']).stdout;
  if (!width || !height || data.length < width * height * 3) return null;
  return { width, height, data };
}

// The part of the stage only the remote picture covers: the local tile sits
// at the bottom right, the controls along the bottom, the callee's name at
// the top left.
function remoteArea({ width, height }) {
  return { x0: Math.floor(width * 0.1), x1: Math.floor(width * 0.6), y0: Math.floor(height * 0.2),
    y1: Math.floor(height * 0.6) };
}

function* pixels(picture, area) {
  for (let y = area.y0; y < area.y1; y++) {
    for (let x = area.x0; x < area.x1; x++) yield (y * picture.width + x) * 3;
  }
}

// The share of the area each bar colour covers, and the share no bar does.
function barCoverage(picture) {
  const area = remoteArea(picture);
  const counts = new Array(kBars.length).fill(0);
  let total = 0, other = 0;
  for (const at of pixels(picture, area)) {
    total++;
    let best = 0;
    for (let i = 1; i < kBars.length; i++) {
      if (distance(picture.data, at, kBars[i]) < distance(picture.data, at, kBars[best])) best = i;
    }
    if (distance(picture.data, at, kBars[best]) < 70) counts[best]++;
    else other++;
  }
  return { bars: counts.map((count) => count / total), other: other / total };
}

// Whether the bars across the middle of the remote area follow each other
// in the camera's order, left to right (white, yellow, cyan, …). The local
// preview shows them mirrored, so a stage that shows the own camera where
// the other side's belongs fails here.
function inCameraOrder(picture) {
  const area = remoteArea(picture);
  const y = Math.floor((area.y0 + area.y1) / 2);
  const runs = [];
  for (let x = area.x0; x < area.x1; x++) {
    const at = (y * picture.width + x) * 3;
    const bar = kBars.findIndex((rgb) => distance(picture.data, at, rgb) < 70);
    if (runs.length && runs[runs.length - 1].bar === bar) runs[runs.length - 1].length++;
    else runs.push({ bar, length: 1 });
  }
  // Edges blur in the encoding: only whole bars count.
  const bars = runs.filter((run) => run.bar >= 0 && run.length >= 8).map((run) => run.bar);
  const steps = bars.slice(1).map((bar, i) => (bar - bars[i] + kBars.length) % kBars.length);
  return steps.length >= 2 && steps.every((step) => step === 1);
}

// The share of the remote area that changed between two pictures.
function changed(a, b) {
  let total = 0, moved = 0;
  for (const at of pixels(a, remoteArea(a))) {
    total++;
    if (distance(a.data, at, [b.data[at], b.data[at + 1], b.data[at + 2]]) > 60) moved++;
  }
  return moved / total;
}

function coverageOf(picture, rgb) {
  let count = 0;
  for (let at = 0; at + 2 < picture.width * picture.height * 3; at += 3) {
    if (distance(picture.data, at, rgb) < 60) count++;
  }
  return count / (picture.width * picture.height);
}

const describe = (coverage) =>
  `bars ${coverage.bars.map((share) => share.toFixed(2)).join(' ')}, other ${coverage.other.toFixed(2)}`;

// Waits until the copy's stage shows the colour bars over most of the remote
// area, several of them at once (the local tile is far too small for that)
// and unmirrored, and a second picture later shows them moved.
async function remoteBarsMove(copy) {
  const id = await waitFor(() => videoWindow(copy), { what: `${copy.name}'s video call window`, timeoutMs: 30000 });
  let last = '';
  const isBars = (picture) => {
    if (!picture) return false;
    const coverage = barCoverage(picture);
    const ordered = inCameraOrder(picture);
    last = `${describe(coverage)}, ${ordered ? 'in' : 'not in'} the camera's order`;
    return coverage.other < 0.25 && coverage.bars.filter((share) => share > 0.04).length >= 3 && ordered;
  };
  try {
    const first = await waitFor(() => {
      const picture = shot(copy, id);
      return isBars(picture) && picture;
    }, { what: `the colour bars on ${copy.name}'s stage`, timeoutMs: 45000 });
    await waitFor(async () => {
      await sleep(300);
      const later = shot(copy, id);
      return isBars(later) && later.width === first.width && later.height === first.height && changed(first, later) > 0.2;
    }, { what: `the bars moving on ${copy.name}'s stage`, timeoutMs: 20000 });
  } catch (error) {
    error.message += ` (last picture: ${last})`;
    throw error;
  }
}

// The session bus the copy's program runs on (its accessibility bus hangs
// off it).
function busOf(copy) {
  const pid = copy.run.programPid();
  const environ = fs.readFileSync(`/proc/${pid}/environ`, 'utf8').split('\0');
  return environ.find((entry) => entry.startsWith('DBUS_SESSION_BUS_ADDRESS='))?.slice('DBUS_SESSION_BUS_ADDRESS='.length);
}

// Presses the program's button named `text` as a screen reader would.
async function pressButton(copy, text) {
  const child = spawn('/usr/bin/python3', [path.join(here, 'press-button.py'), text, '30'],
    { env: { ...process.env, DBUS_SESSION_BUS_ADDRESS: busOf(copy) }, stdio: ['ignore', 'inherit', 'inherit'] });
  const code = await new Promise((resolve) => child.once('exit', resolve));
  assert.equal(code, 0, `the "${text}" button of ${copy.name} could not be pressed`);
}

test('a video call shows each side the other\'s moving camera, and a shared window reaches the other side',
  { skip, timeout: 240000 }, async () => {
    const camera = { ORVIK_TEST_CAMERA: 'bars' };
    await withCopies([{ copy: 'alice', user: '1001', peer: '1002', env: camera },
      { copy: 'bob', user: '1002', peer: '1001', env: camera }], async ({ service, copies: { alice, bob } }) => {
      // A plain window of another program on the caller's display, to share.
      const shared = spawn('xmessage', ['-title', kSharedTitle, '-bg', '#ff8000', '-fg', '#ff8000',
        '-geometry', '560x360+40+40', 'shared'], { env: { ...process.env, DISPLAY: alice.display }, stdio: 'ignore' });
      try {
        await service.command('alice', { do: 'call', to: '1002', video: true });
        const offer = await waitFor(() => service.frames('offer').find((entry) => entry.from === '1001'),
          { what: 'the offer', timeoutMs: 30000 });
        assert.equal(offer.frame.isAudio, false);
        assert.match(parsedSdp(offer.frame).sdp, /^m=video /m);
        await pressPanelButton(bob, kAcceptGreen, 'Accept');
        await waitFor(() => alice.printed('CONNECTED') && bob.printed('CONNECTED'),
          { what: 'both sides connected', timeoutMs: 30000 });

        // Each side's camera runs through the connection to the other's stage.
        await Promise.all([remoteBarsMove(bob), remoteBarsMove(alice)]);

        // The caller shares the other program's window; the callee's stage
        // then shows that window in place of the caller's camera.
        await waitFor(() => alice.windows(kSharedTitle).length === 1, { what: 'the window to share' });
        const aliceWindow = videoWindow(alice);
        alice.x(['xdotool', 'mousemove', '--window', aliceWindow, '200', '200']);
        await pressButton(alice, 'Share Screen');
        await pressButton(alice, 'Window');
        await pressButton(alice, `Xmessage — ${kSharedTitle}`);
        await pressButton(alice, 'Share');
        const bobWindow = videoWindow(bob);
        let seen = 0;
        await waitFor(() => {
          const picture = shot(bob, bobWindow);
          seen = picture ? coverageOf(picture, kShared) : 0;
          return seen > 0.15;
        }, { what: `the shared window on the callee's stage (last cover ${seen.toFixed(2)})`, timeoutMs: 30000 });
        const bars = barCoverage(shot(bob, bobWindow));
        assert.ok(bars.bars.filter((share) => share > 0.04).length < 3,
          `the share replaced the caller's camera on the callee's stage (${describe(bars)})`);

        await service.command('alice', { do: 'hangUp' });
        await waitFor(() => !videoWindow(alice) && !videoWindow(bob), { what: 'both call windows closing', timeoutMs: 20000 });
      } finally {
        if (shared.exitCode === null) {
          const exited = new Promise((resolve) => shared.once('exit', resolve));
          shared.kill('SIGTERM');
          await exited;
        }
      }
    });
  });
