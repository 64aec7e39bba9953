// End-to-end: calls between the program and another WebRTC implementation, a
// headless Chromium page (interop_peer.html) that speaks the call server's
// frames as the service's other clients do. Either side calls, audio flows
// both ways (the program's speaker monitor, the page's WebAudio analyser),
// and when the relay goes away mid-call and comes back, ICE restarts on the
// same connection: by the program's restart frames when the browser takes
// them, otherwise by the browser's plain re-offer, which the program answers
// whichever side called. A restart is judged by media flowing again, not by
// state events alone.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import { createRequire } from 'node:module';
import path from 'node:path';
import readline from 'node:readline';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';

import { programAvailable, tempDir, waitFor } from './harness.mjs';
import { callToolsAvailable, deviceOf, kAcceptGreen, pressPanelButton, withCopies } from './call_harness.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const kChromium = '/usr/bin/chromium';

// playwright-core is one of the local service's npm packages.
function loadPlaywright() {
  try {
    return createRequire(path.resolve(here, '..', '..', 'tools', 'devservice', 'package.json'))('playwright-core');
  } catch {
    return null;
  }
}
const playwright = loadPlaywright();

const skip = !programAvailable() ? 'the orvikdesk program is not built'
  : callToolsAvailable() || (!playwright ? 'playwright-core is not installed (scripts/deps)'
    : !fs.existsSync(kChromium) ? 'chromium is not installed (scripts/deps)' : false);

// A tone on the far side's microphone measures far above this; silence and
// comfort noise stay below it.
const kHeard = 0.02;

const kBrowserUser = '2001';
const kBrowserDevice = 'chromium1';

// The browser: the peer page served from loopback, in a headless Chromium
// with an empty profile and a fake microphone (a beeping tone).
async function startBrowser(callServerURL) {
  const page = fs.readFileSync(path.join(here, 'interop_peer.html'));
  const server = http.createServer((request, response) => {
    response.writeHead(200, { 'Content-Type': 'text/html', 'Cache-Control': 'no-store' }).end(page);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const profile = tempDir('orvik-e2e-chromium-');
  let context = null;
  const stop = async () => {
    if (context) await context.close().catch(() => {});
    await new Promise((resolve) => server.close(resolve));
    fs.rmSync(profile, { recursive: true, force: true });
  };
  try {
    context = await playwright.chromium.launchPersistentContext(profile, {
      executablePath: kChromium,
      headless: true,
      args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
        '--disable-background-networking', '--disable-component-update', '--disable-sync',
        '--use-fake-ui-for-media-stream', '--use-fake-device-for-media-stream',
        // The analyser listens without a click on the page.
        '--autoplay-policy=no-user-gesture-required'],
    });
    const tab = context.pages()[0] || await context.newPage();
    const query = new URLSearchParams({ server: callServerURL, user: kBrowserUser, device: kBrowserDevice });
    await tab.goto(`http://127.0.0.1:${server.address().port}/peer.html?${query}`);
    await tab.evaluate(() => window.peer.ready);
    return {
      tab,
      evaluate: (fn, arg) => tab.evaluate(fn, arg),
      stats: () => tab.evaluate(() => window.peer.stats()),
      heard: (ms) => tab.evaluate((ms) => window.peer.heard(ms), ms),
      events: (kind) => tab.evaluate((kind) => window.peer.events.filter((event) => !kind || event.kind === kind), kind),
      stop,
    };
  } catch (error) {
    await stop();
    throw error;
  }
}

// Takes the relay away mid-call and brings a fresh one back on the same
// port once `dropped` holds: the allocations both sides relayed through are
// gone, so only an ICE restart (new allocations) gets media through again.
async function dropRelay(service, dropped) {
  const old = service.turn.child;
  const exited = new Promise((resolve) => old.once('exit', resolve));
  process.kill(old.pid, 'SIGKILL');
  await exited;
  await dropped();
  const child = spawn(old.spawnfile, old.spawnargs.slice(1), { stdio: ['ignore', 'pipe', 'ignore'] });
  const lines = readline.createInterface({ input: child.stdout });
  try {
    await new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error('turnserver did not start again')), 15000);
      lines.on('line', (line) => {
        if (!line.includes('Total General servers')) return;
        clearTimeout(timer);
        resolve();
      });
      child.once('exit', (code) => reject(new Error(`turnserver exited with ${code}`)));
    });
  } catch (error) {
    await stopRelayAgain(child);
    throw error;
  }
  // Ended by withBrowser: the harness ends only the relay it started.
  return child;
}

async function stopRelayAgain(child) {
  if (child.exitCode !== null || child.signalCode !== null) return;
  const exited = new Promise((resolve) => child.once('exit', resolve));
  process.kill(child.pid, 'SIGTERM');
  await exited;
}

// Frames one user sent after `since`, of one type.
function sent(service, user, type, since = 0) {
  return service.frames(type).filter((entry) => entry.from === user && entry.at >= since);
}

function activeFlags(service, copy) {
  return service.pageCalls(copy, '__orvikNativeCallActiveChanged').map((entry) => entry.data.args[0]);
}

// Media from the other side arrives again: the page's received bytes grow
// past `from` and keep growing.
async function mediaFlowsAgain(browser, from, what) {
  const first = await waitFor(async () => {
    const stats = await browser.stats();
    return stats && stats.bytesReceived > from + 2000 && stats;
  }, { what, timeoutMs: 45000 });
  await waitFor(async () => (await browser.stats()).bytesReceived > first.bytesReceived + 2000,
    { what: `${what} (still flowing)`, timeoutMs: 15000 });
}

async function bothHear(alice, browser, when) {
  const [aliceHears, browserHears] = await Promise.all([alice.playedLevel(3000), browser.heard(3000)]);
  assert.ok(aliceHears > kHeard, `${when}: the program plays the browser's tone (${aliceHears})`);
  assert.ok(browserHears > kHeard, `${when}: the browser hears the program's tone (${browserHears})`);
}

// Runs `body` with the program (Alice, 1001) and the browser (2001), the
// relay-only service the program is given for calls, and ends them all.
async function withBrowser(body) {
  await withCopies([{ copy: 'alice', user: '1001', peer: kBrowserUser }], async ({ service, copies: { alice } }) => {
    const browser = await startBrowser(service.callServerURL);
    let relay = null;
    try {
      await body({ service, alice, browser, dropRelay: async (dropped) => { relay = await dropRelay(service, dropped); } });
    } catch (error) {
      console.error(`--- the browser's events:\n${(await browser.events().catch(() => []))
        .map((event) => JSON.stringify(event).slice(0, 300)).join('\n')}`);
      throw error;
    } finally {
      await browser.stop();
      if (relay) await stopRelayAgain(relay);
    }
  });
}

// Who calls, whether the browser takes the restart frames, and so who
// restarts ICE after the drop and by which frames; who hangs up at the end.
const cases = [
  { name: 'the browser calls the program; its plain re-offer after a relay drop is answered on the same call',
    browserCalls: true, restartV1: false, restartBy: 'browser', restartFrames: ['offer', 'answer'], hangUp: 'browser' },
  { name: 'the program calls the browser; after a relay drop it restarts ICE with its restart frames',
    browserCalls: false, restartV1: true, restartBy: 'program', restartFrames: ['iceRestartOffer', 'iceRestartAnswer'],
    hangUp: 'program' },
  { name: "the program calls a plain browser; the callee's re-offer after a relay drop is answered on the same call",
    browserCalls: false, restartV1: false, restartBy: 'browser', restartFrames: ['offer', 'answer'], hangUp: 'program' },
];

for (const entry of cases) {
  test(entry.name, { skip }, async () => {
    await withBrowser(async ({ service, alice, browser, dropRelay }) => {
      const aliceAddress = `1001_${deviceOf(service, 'alice')}`;
      const browserAddress = `${kBrowserUser}_${kBrowserDevice}`;
      const user = { program: '1001', browser: kBrowserUser };
      const address = { program: aliceAddress, browser: browserAddress };

      if (entry.browserCalls) {
        const placed = await browser.evaluate((options) => window.peer.call('1001', options), { restartV1: entry.restartV1 });
        assert.equal(typeof placed.id, 'number', 'the call server took the offer');
        const ringing = await waitFor(() => sent(service, '1001', 'offerReceived')[0],
          { what: '"offerReceived"', timeoutMs: 30000 });
        assert.equal(ringing.frame.to, browserAddress);
        await pressPanelButton(alice, kAcceptGreen, 'Accept');
        const answer = await waitFor(() => sent(service, '1001', 'answer')[0], { what: "the program's answer", timeoutMs: 30000 });
        assert.equal(answer.frame.to, browserAddress);
        assert.equal(answer.frame.from, aliceAddress);
      } else {
        await browser.evaluate((flag) => { window.peer.restartV1 = flag; }, entry.restartV1);
        await service.command('alice', { do: 'call', to: kBrowserUser });
        const offer = await waitFor(() => sent(service, '1001', 'offer')[0], { what: "the program's offer", timeoutMs: 30000 });
        assert.equal(offer.frame.to, kBrowserUser);
        const answer = await waitFor(() => sent(service, kBrowserUser, 'answer')[0],
          { what: "the browser's answer", timeoutMs: 30000 });
        assert.equal(answer.frame.to, aliceAddress);
      }
      await waitFor(() => alice.printed('CONNECTED'), { what: 'the program connected', timeoutMs: 30000 });
      await waitFor(async () => (await browser.stats())?.connection === 'connected', { what: 'the browser connected' });
      await bothHear(alice, browser, 'connected');
      // The first connection came up by itself, not by the browser's recovery.
      const firstConnected = (await browser.events('ice')).find((event) => event.data === 'connected');
      assert.deepEqual((await browser.events('recover')).filter((event) => event.at <= firstConnected.at), []);
      // The caller's control channel opened between the two implementations.
      await waitFor(async () => (await browser.events('channel')).some((event) => event.data === 'control open'),
        { what: 'the control channel open in the browser' });
      const before = await browser.stats();

      const dropAt = Date.now();
      await dropRelay(() => waitFor(async () => (await browser.events('ice')).some((event) => event.at >= dropAt &&
        event.data === 'disconnected'), { what: 'the browser seeing the drop', timeoutMs: 30000 }));
      // The restarting side offers to the device it talks to; the other side
      // answers that offer as part of the running call.
      const [offerType, answerType] = entry.restartFrames;
      const other = entry.restartBy === 'program' ? 'browser' : 'program';
      const restart = await waitFor(() => sent(service, user[entry.restartBy], offerType, dropAt)[0],
        { what: `the ${entry.restartBy}'s "${offerType}" after the drop`, timeoutMs: 30000 });
      assert.equal(restart.frame.to, address[other]);
      const reply = await waitFor(() => sent(service, user[other], answerType, restart.at)[0],
        { what: `the ${other}'s "${answerType}"`, timeoutMs: 20000 });
      assert.equal(reply.frame.to, address[entry.restartBy]);
      if (offerType === 'iceRestartOffer') assert.equal(reply.frame.iceRestartAttempt, restart.frame.iceRestartAttempt);
      await mediaFlowsAgain(browser, (await browser.stats()).bytesReceived, `media after the ${entry.restartBy}'s restart`);
      const after = await browser.stats();
      assert.equal(after.connection, 'connected');
      assert.notEqual(after.remoteUfrag, before.remoteUfrag, 'the program took new ICE credentials');
      await bothHear(alice, browser, 'after the restart');
      // The same connection: its control channel never closed.
      assert.deepEqual((await browser.events('channel')).map((event) => event.data), ['control open']);
      // Still the one call: no new ring, no new call placed, none on the page.
      assert.deepEqual(sent(service, '1001', 'offerReceived', dropAt), []);
      if (!entry.browserCalls) assert.equal(sent(service, '1001', 'offer').length, 1);
      assert.deepEqual(activeFlags(service, 'alice'), [true]);

      if (entry.hangUp === 'browser') {
        await browser.evaluate(() => window.peer.hangUp());
      } else {
        await service.command('alice', { do: 'hangUp' });
        const end = await waitFor(() => sent(service, '1001', 'endCall')[0], { what: "the program's end frame", timeoutMs: 15000 });
        assert.equal(end.frame.to, browserAddress);
        await waitFor(async () => !(await browser.evaluate(() => window.peer.inCall())), { what: "the browser's call ending" });
      }
      await waitFor(() => activeFlags(service, 'alice').includes(false), { what: 'the program idle again', timeoutMs: 20000 });
      await waitFor(() => alice.audioWindows().length === 0, { what: "the program's call window closing" });
    });
  });
}
