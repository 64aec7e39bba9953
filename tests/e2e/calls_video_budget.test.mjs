// End-to-end: the daily video budget of two free accounts (30 minutes per
// device and local day) is kept in the device's defaults and survives a
// restart: a second video call after the restart starts from what the
// first used, warns 10, 5 and 3 minutes before the budget runs out and ends
// when it does; a third is not placed. Alice's call time runs 60 times faster (ORVIK_CALL_CLOCK_RATE,
// test builds only); Bob's runs in real time, so only Alice's budget ends
// anything.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';

import { programAvailable, waitFor } from './harness.mjs';
import { callToolsAvailable, deviceOf, kAcceptGreen, pressPanelButton, withCopies } from './call_harness.mjs';

const skip = !programAvailable() ? 'the orvikdesk program is not built' : callToolsAvailable() || false;

const kRate = 60;

function defaults(copy) {
  try {
    return JSON.parse(fs.readFileSync(path.join(copy.home, '.config', 'com.orvik.desk', 'defaults.json'), 'utf8'));
  } catch {
    return {};
  }
}

function localDay(date = new Date()) {
  const two = (n) => String(n).padStart(2, '0');
  return `${date.getFullYear()}-${two(date.getMonth() + 1)}-${two(date.getDate())}`;
}

function lineOf(copy, text, since) {
  const at = copy.lines.slice(since).findIndex((line) => line.includes(text));
  return at < 0 ? -1 : since + at;
}

const ended = (service, copy) => service.pageCalls(copy, '__orvikNativeCallActiveChanged')
  .filter((entry) => entry.data.args[0] === false).length;

async function connectedVideoCall(service, alice, bob, since) {
  await service.command('alice', { do: 'call', to: '1002', video: true });
  await pressPanelButton(bob, kAcceptGreen, 'Accept');
  await waitFor(() => lineOf(alice, 'CONNECTED', since.alice) >= 0 && lineOf(bob, 'CONNECTED', since.bob) >= 0,
    { what: 'both sides connected', timeoutMs: 45000 });
  return Date.now();
}

test("a free video call draws on the day's budget, kept across a restart, and ends when it is spent",
  { skip }, async () => {
    await withCopies([
      { copy: 'alice', user: '1001', peer: '1002', env: { ORVIK_CALL_CLOCK_RATE: String(kRate) } },
      { copy: 'bob', user: '1002', peer: '1001' },
    ], async ({ service, copies: { alice, bob } }) => {
      deviceOf(service, 'alice');
      const dayAtStart = localDay();

      // 1. A first video call uses part of the budget; Alice hangs up.
      let since = { alice: alice.lines.length, bob: bob.lines.length };
      await connectedVideoCall(service, alice, bob, since);
      await waitFor(() => lineOf(alice, 'rule: free↔free video — daily 30 min (used today 0s)', since.alice) >= 0,
        { what: "Alice's call rule", timeoutMs: 10000 });
      // The count is written every few call seconds while the call runs.
      await waitFor(() => (defaults(alice).videoDailyUsedSeconds ?? 0) >= 700, { what: 'the budget in use', timeoutMs: 60000 });
      await service.command('alice', { do: 'hangUp' });
      await waitFor(() => ended(service, 'alice') === 1 && ended(service, 'bob') === 1, { what: 'the first call over' });
      const first = defaults(alice);
      assert.ok(first.videoDailyUsedSeconds >= 700 && first.videoDailyUsedSeconds < 1200,
        `used ${first.videoDailyUsedSeconds} s`);
      assert.ok([dayAtStart, localDay()].includes(first.videoDailyDate), `day ${first.videoDailyDate}`);
      assert.equal(lineOf(alice, '[CallLimit] warning shown', since.alice), -1, 'no warning before 20 minutes');

      // 2. Alice's program restarts; its defaults keep the day's count.
      await alice.restartProgram();
      await waitFor(() => alice.printed('[WebView] nativeAuthData — credentials SET') &&
        service.phoneEvents('alice', 'signedIn').length >= 2, { what: 'Alice signed in again', timeoutMs: 90000 });
      assert.equal(defaults(alice).videoDailyUsedSeconds, first.videoDailyUsedSeconds);

      // 3. The next video call starts from that count and ends when the 30
      //    minutes are spent, after the three warnings.
      since = { alice: alice.lines.length, bob: bob.lines.length };
      const connectedAt = await connectedVideoCall(service, alice, bob, since);
      await waitFor(() => lineOf(alice, `rule: free↔free video — daily 30 min (used today ${first.videoDailyUsedSeconds}s)`,
        since.alice) >= 0, { what: 'the call starting from the kept count', timeoutMs: 10000 });
      const end = await waitFor(() => service.frames('endCall').find((entry) => entry.from === '1001' && entry.at >= connectedAt),
        { what: "Alice's end when the budget is spent", timeoutMs: 90000 });
      const left = 1800 - first.videoDailyUsedSeconds;
      assert.ok(end.at - connectedAt >= (left / kRate) * 1000 * 0.95, `ended ${end.at - connectedAt} ms after connecting`);
      const texts = ['10 minutes left for free video call', '5 minutes left for free video call',
        '3 minutes left for free video call'].map((text) => `[CallLimit] warning shown: "${text}" (extend offered=false)`);
      const at = [...texts, '[CallLimit] free↔free daily 30-min video budget spent — ending call']
        .map((text) => lineOf(alice, text, since.alice));
      assert.ok(at.every((index) => index >= 0), `every warning and the end printed (${at})`);
      assert.deepEqual([...at].sort((a, b) => a - b), at, 'in order');
      await waitFor(() => ended(service, 'alice') === 2 && ended(service, 'bob') === 2, { what: 'the second call over' });
      assert.equal(defaults(alice).videoDailyUsedSeconds, 1800);
      // Bob's device keeps its own count, in real time.
      assert.ok((defaults(bob).videoDailyUsedSeconds ?? 0) < 300, `Bob used ${defaults(bob).videoDailyUsedSeconds} s`);

      // 4. With the day's budget spent, a third video call does not start.
      const offers = service.frames('offer').length;
      await service.command('alice', { do: 'call', to: '1002', video: true });
      await waitFor(() => alice.printed('[WebView] openNativeVideoUI blocked — daily video limit reached'),
        { what: 'the video call refused', timeoutMs: 15000 });
      assert.equal(service.frames('offer').length, offers, 'no offer');
    });
  });
