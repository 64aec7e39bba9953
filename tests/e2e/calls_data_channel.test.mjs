// End-to-end: what connected peers tell each other on the call's data
// channel, past the call server: the microphone going off and on, special
// calling access, a hang-up that arrives while the other side is still
// reconnecting, and the camera going off and on. The call server holds back the hang-up's end frame, so only
// the data channel can end the call on the far side.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { programAvailable, waitFor } from './harness.mjs';
import {
  callToolsAvailable, connectAudioCall, deviceOf, kAcceptGreen, pressPanelButton, withCopies,
} from './call_harness.mjs';
import { callScreen, freeze, thaw } from './call_screen.mjs';

const skip = !programAvailable() ? 'the orvikdesk program is not built' : callToolsAvailable() || false;

const kHeard = 0.02;
const kReconnecting = 'Reconnecting...';
// The pill on the audio call window while the other side's microphone is off.
const kMutedPill = 'Muted';
// The in-call row of the audio call window: output, microphone, end.
const kAudioWindow = /Orvik – (Incoming )?Audio Call/;
const kInCallButtons = 3;
const kMuteButton = 1;
// The connected video call window's row: microphone, camera, speaker, screen
// share, end.
const kVideoTitle = 'Orvik – Video Call';
const kVideoWindow = /Orvik – Video Call/;
const kVideoButtons = 5;
const kCameraButton = 1;

// The share of near-black pixels in the middle of a copy's video call
// window, where the other side's feed is: black while it sends no picture,
// the drawn camera-off placeholder (the party's avatar on its glass) once
// it said its camera is off.
function darkShareOfRemoteFeed(copy) {
  const [id] = copy.windows(kVideoTitle);
  if (!id) return null;
  const geometry = String(copy.x(['xdotool', 'getwindowgeometry', '--shell', id]).stdout);
  const width = Number(/WIDTH=(\d+)/.exec(geometry)?.[1]);
  const height = Number(/HEIGHT=(\d+)/.exec(geometry)?.[1]);
  const shot = copy.x(['import', '-window', id, '-depth', '8', 'rgb:-']).stdout;
  if (!width || !height || shot.length < width * height * 3) return null;
  let dark = 0, all = 0;
  for (let y = Math.round(height * 0.2); y < height * 0.6; y++) {
    for (let x = Math.round(width * 0.2); x < width * 0.6; x++) {
      const at = (y * width + x) * 3;
      if (shot[at] < 12 && shot[at + 1] < 12 && shot[at + 2] < 12) dark++;
      all++;
    }
  }
  return dark / all;
}

function printedSince(copy, offset, text) {
  return copy.lines.slice(offset).some((line) => line.includes(text));
}

// Listens to a copy's speaker a second at a time until `check` holds for
// what it played: the audio reaches the speaker later than the news, by the
// receiver's jitter buffer, and later still on a loaded machine.
async function levelTurns(copy, check, what) {
  const levels = [];
  const deadline = Date.now() + 20000;
  while (Date.now() < deadline) {
    const level = await copy.playedLevel(1000);
    levels.push(level.toFixed(4));
    if (check(level)) return;
  }
  throw new Error(`timed out waiting for ${what} (levels ${levels.join(' ')})`);
}

function activeFlags(service, copy) {
  return service.pageCalls(copy, '__orvikNativeCallActiveChanged').map((entry) => entry.data.args[0]);
}

// "call" frames a user sent after `since` other than its ICE candidates.
function framesSince(service, user, since) {
  return service.frames().filter((entry) => entry.from === user && entry.at >= since && entry.frame.type !== 'candidate');
}

test('mute, special access, a hang-up inside the reconnect window and camera off reach the peer on the data channel',
  { skip }, async () => {
    await withCopies([{ copy: 'alice', user: '1001', peer: '1002' }, { copy: 'bob', user: '1002', peer: '1001', tone: 660 }],
      async ({ service, copies: { alice, bob } }) => {
        const bobDevice = deviceOf(service, 'bob');
        const screens = { alice: await callScreen(alice), bob: await callScreen(bob) };
        try {
          await connectAudioCall(service, { caller: alice, callerCopy: 'alice', callee: bob, number: '1002' });
          await waitFor(async () => (await screens.bob.callSeconds()) >= 1, { what: "the callee's call time", timeoutMs: 20000 });
          assert.equal(await screens.bob.shows(kMutedPill), false);

          // 1. The caller mutes: the callee hears silence, shows the pill and
          // was told on the channel; no call frame carried it.
          let since = Date.now();
          assert.ok(await screens.alice.press(kAudioWindow, kInCallButtons, kMuteButton), "the caller's microphone button");
          await waitFor(() => screens.bob.shows(kMutedPill), { what: `"${kMutedPill}" on the callee`, timeoutMs: 10000 });
          await levelTurns(bob, (level) => level < kHeard, 'the callee hearing silence from the muted caller');
          assert.deepEqual(framesSince(service, '1001', since).map((entry) => entry.frame.type), []);

          // ... and unmutes.
          assert.ok(await screens.alice.press(kAudioWindow, kInCallButtons, kMuteButton), "the caller's microphone button again");
          await waitFor(async () => !(await screens.bob.shows(kMutedPill)), { what: 'the pill gone', timeoutMs: 10000 });
          await levelTurns(bob, (level) => level > kHeard, 'the callee hearing the caller again');

          // 2. The callee's account gains special calling access mid-call:
          // the caller hears of it on the channel.
          since = Date.now();
          const aliceOffset = alice.lines.length;
          await service.command('bob', { do: 'post', body: { eventType: 'setCallLimitExempt', exempt: true, numbers: [] } });
          await waitFor(() => printedSince(alice, aliceOffset, 'peer says it has special calling access'),
            { what: 'the caller told of the special access', timeoutMs: 15000 });
          assert.deepEqual(framesSince(service, '1002', since).map((entry) => entry.frame.type), []);

          // 3. The callee freezes; while the caller reconnects, the callee
          // (running again) hangs up. Its end frame is held back: the
          // caller's call ends at once by the channel's "endCall", not by
          // its 45 s window.
          await service.hold('endCall', '1002');
          freeze(screens.bob.pid);
          await waitFor(() => printedSince(alice, aliceOffset, 'connection DROPPED mid-call'),
            { what: "the caller's reconnect window", timeoutMs: 30000 });
          await waitFor(() => screens.alice.shows(kReconnecting), { what: `"${kReconnecting}" on the caller`, timeoutMs: 30000 });
          await service.command('bob', { do: 'hangUp' });
          // The page posts the hang-up to the frozen program, which takes it
          // when it runs again.
          await waitFor(() => service.phoneEvents('bob', 'posted').some((entry) =>
            entry.data.body.eventType === 'endNativeCall'), { what: "the callee's page posting the hang-up" });
          const thawedAt = Date.now();
          thaw(screens.bob.pid);
          const end = await waitFor(() => service.frames('endCall').find((entry) => entry.from === '1002'),
            { what: "the callee's end frame", timeoutMs: 15000 });
          assert.equal(end.held, true);
          assert.equal(end.frame.to, `1001_${deviceOf(service, 'alice')}`);
          await waitFor(() => printedSince(alice, aliceOffset, 'END — the other side hung up'),
            { what: 'the caller\'s call ended by the hang-up', timeoutMs: 15000 });
          await waitFor(() => alice.audioWindows().length === 0, { what: "the caller's window closing", timeoutMs: 15000 });
          const closedAfter = Date.now() - thawedAt;
          assert.ok(closedAfter < 10000, `the caller's call ended ${closedAfter} ms after the hang-up`);
          await waitFor(() => activeFlags(service, 'alice').at(-1) === false && activeFlags(service, 'bob').at(-1) === false,
            { what: 'both pages told the call ended', timeoutMs: 15000 });
          assert.equal(bobDevice, end.frame.from.split('_')[1]);
          await service.hold('endCall', '1002', { release: true });

          // 4. In a video call, the caller's camera going off and on shows
          // on the callee's screen. (These copies have no camera: the call
          // starts with it off, and the button first turns it on.)
          const videoSince = Date.now();
          await service.command('alice', { do: 'call', to: '1002', video: true });
          await waitFor(() => service.frames('offerReceived').some((entry) => entry.at >= videoSince),
            { what: 'the video call ringing', timeoutMs: 30000 });
          await pressPanelButton(bob, kAcceptGreen, 'Accept');
          await waitFor(async () => (await screens.bob.callSeconds()) >= 1 && (await screens.alice.callSeconds()) >= 1,
            { what: 'the video call connected', timeoutMs: 30000 });
          assert.ok(darkShareOfRemoteFeed(bob) > 0.9, 'no picture from the caller yet');
          let placeholder = false;
          for (let press = 0; press < 2 && !placeholder; press++) {
            assert.ok(await screens.alice.press(kVideoWindow, kVideoButtons, kCameraButton), "the caller's camera button");
            placeholder = await waitFor(() => darkShareOfRemoteFeed(bob) < 0.5, { what: 'the placeholder', timeoutMs: 5000 })
              .catch(() => false);
          }
          assert.ok(placeholder, "the callee shows the caller's camera-off picture");
          assert.ok(await screens.alice.press(kVideoWindow, kVideoButtons, kCameraButton), "the caller's camera button again");
          await waitFor(() => darkShareOfRemoteFeed(bob) > 0.9, { what: 'the placeholder gone', timeoutMs: 10000 });
          await service.command('alice', { do: 'hangUp' });
          await waitFor(() => bob.windows(kVideoTitle).length === 0, { what: "the callee's video window closing", timeoutMs: 15000 });
        } finally {
          thaw(screens.bob.pid);
          screens.alice.close();
          screens.bob.close();
        }
      });
  });
