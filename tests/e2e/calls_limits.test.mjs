// End-to-end: the per-call cap of a free audio call, seen on a copy whose
// call time runs 60 times faster (ORVIK_CALL_CLOCK_RATE, test builds only):
// warnings 10, 5 and 3 minutes before the hour and the end at 60:00; then a
// second call extended from the call window's banner, which tells the other
// side and ends at 80:00. Only Bob's clock is fast, so every limit seen is
// his; Alice's side counts in real time and hears of his through the call.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { programAvailable, waitFor } from './harness.mjs';
import { callToolsAvailable, deviceOf, kAcceptGreen, pressPanelButton, sleep, withCopies } from './call_harness.mjs';

const skip = !programAvailable() ? 'the orvikdesk program is not built' : callToolsAvailable() || false;

const kRate = 60;
// The banner's "Extend 20 min" pill (call_colors.h, limitBannerAccent).
const kExtendPurple = [199, 140, 255];

const warned = (text, extend) => `[CallLimit] warning shown: "${text}" (extend offered=${extend})`;
const kTenMinutesExtend = warned('10 minutes left — extend the call, or it will end.', true);
const kFiveMinutes = warned('This call will end in 5 minutes.', false);
const kThreeMinutes = warned('This call will end in 3 minutes.', false);
const capReached = (seconds) => `[CallLimit] call cap (${seconds}s) reached — ending call`;

// Index of the first line from `since` on that holds `text`, or -1.
function lineOf(copy, text, since) {
  const at = copy.lines.slice(since).findIndex((line) => line.includes(text));
  return at < 0 ? -1 : since + at;
}

// Pixels of `rgb` (within `tolerance` per channel) in a window.
function colourPixels(copy, windowId, rgb, tolerance = 20) {
  const shot = copy.x(['import', '-window', windowId, '-depth', '8', 'rgb:-']).stdout;
  let count = 0;
  for (let at = 0; at + 2 < shot.length; at += 3) {
    if (Math.abs(shot[at] - rgb[0]) <= tolerance && Math.abs(shot[at + 1] - rgb[1]) <= tolerance &&
        Math.abs(shot[at + 2] - rgb[2]) <= tolerance) count++;
  }
  return count;
}

// Alice calls Bob, Bob accepts; resolves when both are connected, with the
// time Bob's call connected.
async function connectedCall(service, alice, bob, since) {
  await service.command('alice', { do: 'call', to: '1002' });
  await pressPanelButton(bob, kAcceptGreen, 'Accept');
  await waitFor(() => lineOf(alice, 'CONNECTED', since.alice) >= 0 && lineOf(bob, 'CONNECTED', since.bob) >= 0,
    { what: 'both sides connected', timeoutMs: 45000 });
  return Date.now();
}

// The warnings and the end come in this order, each once, from line `since` on.
function assertInOrder(copy, texts, since) {
  const at = texts.map((text) => lineOf(copy, text, since));
  at.forEach((index, i) => assert.ok(index >= 0, `${copy.name} printed ${texts[i]}`));
  for (let i = 1; i < at.length; i++) assert.ok(at[i - 1] < at[i], `${texts[i - 1]} before ${texts[i]}`);
  for (const text of texts) {
    assert.equal(copy.lines.slice(since).filter((line) => line.includes(text)).length, 1, `${text} once`);
  }
}

async function bothIdle(service, alice, bob, endsBefore) {
  await waitFor(() => alice.audioWindows().length === 0 && bob.audioWindows().length === 0,
    { what: 'both call windows closing', timeoutMs: 15000 });
  const ended = (copy) => service.pageCalls(copy, '__orvikNativeCallActiveChanged')
    .filter((entry) => entry.data.args[0] === false).length;
  await waitFor(() => ended('alice') === endsBefore + 1 && ended('bob') === endsBefore + 1,
    { what: 'both pages told the call ended' });
}

test('a free audio call warns before the hour and ends at 60:00; Extend on the banner gives both sides 20 minutes more',
  { skip }, async () => {
    await withCopies([
      { copy: 'alice', user: '1001', peer: '1002' },
      { copy: 'bob', user: '1002', peer: '1001', env: { ORVIK_CALL_CLOCK_RATE: String(kRate) } },
    ], async ({ service, copies: { alice, bob } }) => {
      const aliceDevice = deviceOf(service, 'alice');

      // 1. Nobody extends: the hour's warnings, then Bob's side ends the call.
      let since = { alice: alice.lines.length, bob: bob.lines.length };
      let connectedAt = await connectedCall(service, alice, bob, since);
      // The rule is printed as the call connects, not before the connect is seen.
      await waitFor(() => lineOf(bob, 'rule: 60 min per call, up to 2 extends of 20 min', since.bob) >= 0,
        { what: "Bob's call rule", timeoutMs: 10000 });
      await waitFor(() => lineOf(bob, kTenMinutesExtend, since.bob) >= 0, { what: 'the 10-minute warning', timeoutMs: 90000 });
      // The banner with its Extend pill is up in Bob's call window, and gone
      // with the 5-minute warning, which offers no extension.
      const [bobWindow] = bob.audioWindows();
      await waitFor(() => colourPixels(bob, bobWindow, kExtendPurple) > 200, { what: 'the Extend pill', timeoutMs: 4000 });
      await waitFor(() => lineOf(bob, kFiveMinutes, since.bob) >= 0, { what: 'the 5-minute warning', timeoutMs: 30000 });
      await waitFor(() => colourPixels(bob, bobWindow, kExtendPurple) < 50, { what: 'the Extend pill gone', timeoutMs: 4000 });
      const end = await waitFor(() => service.frames('endCall').find((entry) => entry.from === '1002' && entry.at >= connectedAt),
        { what: "Bob's end at the cap", timeoutMs: 60000 });
      // Call time cannot run ahead of the rate: an hour takes a minute at least.
      assert.ok(end.at - connectedAt >= (3600 / kRate) * 1000 * 0.95, `ended ${end.at - connectedAt} ms after connecting`);
      assert.equal(end.frame.to, `1001_${aliceDevice}`);
      assertInOrder(bob, [kTenMinutesExtend, kFiveMinutes, kThreeMinutes, capReached(3600)], since.bob);
      assert.equal(lineOf(alice, '[CallLimit] warning shown', since.alice), -1, "Alice's own minute ran in real time");
      await bothIdle(service, alice, bob, 0);

      // 2. Bob extends from the banner: Alice's side extends with him, the
      //    hour passes, and the call ends at 80 minutes.
      since = { alice: alice.lines.length, bob: bob.lines.length };
      connectedAt = await connectedCall(service, alice, bob, since);
      await waitFor(() => lineOf(bob, kTenMinutesExtend, since.bob) >= 0, { what: 'the 10-minute warning', timeoutMs: 90000 });
      const [window] = bob.audioWindows();
      const extended = '[CallLimit] call extended by 20 min (1/2) — new cap 4800s (sentToPeer=true)';
      await waitFor(async () => {
        if (lineOf(bob, extended, since.bob) >= 0) return true;
        bob.clickColour(window, kExtendPurple, 20);
        await sleep(300);
        return lineOf(bob, extended, since.bob) >= 0;
      }, { what: 'Extend pressed', timeoutMs: 4500 });
      await waitFor(() => lineOf(alice, '[CallLimit] peer tapped Extend — extending here too', since.alice) >= 0 &&
        lineOf(alice, '[CallLimit] call extended by 20 min (1/2) — new cap 4800s (sentToPeer=false)', since.alice) >= 0,
      { what: 'Alice extending with Bob', timeoutMs: 10000 });
      await waitFor(() => colourPixels(bob, window, kExtendPurple) < 50, { what: 'the banner withdrawn', timeoutMs: 4000 });

      const end2 = await waitFor(() => service.frames('endCall').find((entry) => entry.from === '1002' && entry.at >= connectedAt),
        { what: "Bob's end at the extended cap", timeoutMs: 120000 });
      assert.ok(end2.at - connectedAt >= (4800 / kRate) * 1000 * 0.95, `ended ${end2.at - connectedAt} ms after connecting`);
      assert.equal(lineOf(bob, capReached(3600), since.bob), -1, 'no end at the hour');
      // The second extension is still offered 10 minutes before the new cap.
      const afterExtend = lineOf(bob, extended, since.bob);
      assertInOrder(bob, [kTenMinutesExtend, kFiveMinutes, kThreeMinutes, capReached(4800)], afterExtend);
      await bothIdle(service, alice, bob, 1);
      const record = service.pageCalls('alice', '__orvikLogNativeCall').at(-1);
      assert.equal(record.data.args[0].wasConnected, true);
      assert.equal(record.data.args[0].isAudio, true);
    });
  });
