// End-to-end: two copies of the program call each other through the local
// call server. What counts is what can be seen from outside: the frames the
// call server relayed, the page functions the native side called, the
// windows on each copy's display and the sound on each copy's speaker.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { programAvailable, waitFor } from './harness.mjs';
import { callToolsAvailable, deviceOf, kAcceptGreen, pressPanelButton, withCopies } from './call_harness.mjs';
import { callScreen } from './call_screen.mjs';

const skip = !programAvailable() ? 'the orvikdesk program is not built' : callToolsAvailable() || false;

// A tone on the far side's microphone measures far above this on the near
// side's speaker; silence and comfort noise stay below it.
const kHeard = 0.02;

function parsedSdp(frame) {
  return typeof frame.sdp === 'string' ? JSON.parse(frame.sdp) : frame.sdp;
}

function activeFlags(service, copy) {
  return service.pageCalls(copy, '__orvikNativeCallActiveChanged').map((entry) => ({ flag: entry.data.args[0], at: entry.at }));
}

// Samples until `check` turns true; resolves with the time it did.
async function timeOf(check, what, timeoutMs = 15000) {
  await waitFor(check, { what, timeoutMs });
  return Date.now();
}

test('an outgoing audio call rings, connects with sound both ways, and hangs up on both sides', { skip }, async () => {
  await withCopies([{ copy: 'alice', user: '1001', peer: '1002' }, { copy: 'bob', user: '1002', peer: '1001' }],
    async ({ service, copies: { alice, bob } }) => {
      const aliceDevice = deviceOf(service, 'alice');
      const bobDevice = deviceOf(service, 'bob');
      await service.command('alice', { do: 'call', to: '1002' });

      // The offer goes to the callee's bare number and says who sends it and
      // that this side can restart ICE.
      const offer = await waitFor(() => service.frames('offer').find((entry) => entry.from === '1001'),
        { what: 'the offer', timeoutMs: 30000 });
      assert.equal(offer.frame.to, '1002');
      assert.equal(offer.frame.from, `1001_${aliceDevice}`);
      assert.equal(offer.frame.isAudio, true);
      assert.equal(offer.frame.iceRestartV1, true);
      const sdp = parsedSdp(offer.frame);
      assert.equal(sdp.type, 'offer');
      assert.match(sdp.sdp, /^m=audio /m);
      assert.equal(sdp.deviceSource, 'desktop');
      assert.equal(sdp.deviceUdids, aliceDevice);
      assert.equal(sdp.iceRestartV1, true);
      // The page's report of the flag travels apart from the offer: wait for it.
      const placedFlags = await waitFor(() => {
        const flags = activeFlags(service, 'alice');
        return flags.length > 0 && flags;
      }, { what: "the caller's page told a call is active" });
      assert.deepEqual(placedFlags.map((entry) => entry.flag), [true]);
      await waitFor(() => alice.audioWindows().length === 1, { what: "the caller's call window" });

      // The callee's page announced the call; its device rings and says so.
      const ringing = await waitFor(() => service.frames('offerReceived').find((entry) => entry.from === '1002'),
        { what: '"offerReceived"', timeoutMs: 30000 });
      assert.equal(ringing.frame.to, `1001_${aliceDevice}`);
      assert.equal(ringing.frame.from, `1002_${bobDevice}`);
      // The caller hears the ringback (a burst in every cadence).
      const ringback = await alice.playedLevel(6500);
      assert.ok(ringback > kHeard, `the caller hears the ringback (${ringback})`);

      await pressPanelButton(bob, kAcceptGreen, 'Accept');
      const answer = await waitFor(() => service.frames('answer').find((entry) => entry.from === '1002'),
        { what: 'the answer', timeoutMs: 30000 });
      assert.equal(answer.frame.to, `1001_${aliceDevice}`);
      assert.equal(parsedSdp(answer.frame).type, 'answer');
      await waitFor(() => alice.printed('CONNECTED') && bob.printed('CONNECTED'), { what: 'both sides connected', timeoutMs: 30000 });
      await waitFor(() => bob.audioWindows().length === 1, { what: `the callee's call window (${bob.visibleTitles()})` });

      // Each side hears the tone on the other's microphone.
      const bobHears = await bob.playedLevel(2000);
      const aliceHears = await alice.playedLevel(2000);
      assert.ok(bobHears > kHeard, `the callee hears the caller's microphone (${bobHears})`);
      assert.ok(aliceHears > kHeard, `the caller hears the callee's microphone (${aliceHears})`);

      // Both call windows count the call's time, second by second.
      const screens = { alice: await callScreen(alice), bob: await callScreen(bob) };
      try {
        for (const [name, screen] of Object.entries(screens)) {
          const first = await waitFor(() => screen.callSeconds(), { what: `${name}'s call time`, timeoutMs: 15000 });
          await waitFor(async () => (await screen.callSeconds()) >= first + 2,
            { what: `${name}'s call time running`, timeoutMs: 15000 });
        }

        // The caller's page hangs up. The call server holds its end frame
        // back: the callee's call ends by the "endCall" on the data channel.
        await service.hold('endCall', '1001');
        await service.command('alice', { do: 'hangUp' });
        await waitFor(() => bob.printed('END — the other side hung up'), { what: 'the channel\'s "endCall"', timeoutMs: 15000 });
        await waitFor(() => screens.bob.shows('Call ended'), { what: '"Call ended" on the callee', timeoutMs: 5000 });
      } finally {
        screens.alice.close();
        screens.bob.close();
      }
      const end = await waitFor(() => service.frames('endCall').find((entry) => entry.from === '1001'),
        { what: 'the end frame', timeoutMs: 15000 });
      assert.equal(end.held, true);
      // Connected: the end goes to the answering device only.
      assert.equal(end.frame.to, `1002_${bobDevice}`);
      const endAt = end.at;
      const aliceClosed = await timeOf(() => alice.audioWindows().length === 0, "the caller's window closing");
      const bobClosed = await timeOf(() => bob.audioWindows().length === 0, "the callee's window closing");
      // The windows stay 2.0 s to show the end, then close.
      assert.ok(aliceClosed - endAt >= 1700 && aliceClosed - endAt < 4500, `caller closed after ${aliceClosed - endAt} ms`);
      assert.ok(bobClosed - endAt >= 1500 && bobClosed - endAt < 4500, `callee closed after ${bobClosed - endAt} ms`);
      // The page hears of the end at the clean-up, 2.6 s after the hang-up.
      const aliceFlags = await waitFor(() => {
        const flags = activeFlags(service, 'alice');
        return flags.length === 2 && flags;
      }, { what: "the caller's page told the call ended" });
      assert.deepEqual(aliceFlags.map((entry) => entry.flag), [true, false]);
      assert.ok(aliceFlags[1].at - endAt >= 2200 && aliceFlags[1].at - endAt < 5000,
        `clean-up ${aliceFlags[1].at - endAt} ms after the end`);
      const bobFlags = await waitFor(() => {
        const flags = activeFlags(service, 'bob');
        return flags.length === 2 && flags;
      }, { what: "the callee's page told the call ended" });
      assert.deepEqual(bobFlags.map((entry) => entry.flag), [true, false]);
      // The caller's page got the call record: connected, under the server's id.
      const record = await waitFor(() => service.pageCalls('alice', '__orvikLogNativeCall')[0],
        { what: "the caller's call record" });
      assert.equal(record.data.args[0].toUserNumber, '1002');
      assert.equal(record.data.args[0].isAudio, true);
      assert.equal(record.data.args[0].wasConnected, true);
      assert.equal(record.data.args[0].callId, offer.recordId);
      assert.equal(service.pageCalls('alice', '__orvikLogNativeCall').length, 1);
    });
});
