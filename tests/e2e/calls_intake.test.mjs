// End-to-end: how a ringing call gets in. The page may announce it before it
// handed over the call credentials, announce a call that no longer exists
// (a ghost ring), announce the same call twice, or guess the caller wrongly;
// and a caller's number is outside input that must never run as script.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { programAvailable, waitFor } from './harness.mjs';
import {
  callToolsAvailable, deviceOf, kAcceptGreen, kPanelTitle, pressPanelButton, sleep, withCopies,
} from './call_harness.mjs';

const skip = !programAvailable() ? 'the orvikdesk program is not built' : callToolsAvailable() || false;

function panel(body) {
  return { do: 'post', body: { eventType: 'showIncomingCallPanel', imageUrl: '', isAudio: true, isDarkMode: true, ...body } };
}

test('a call announced before the credentials rings once they arrive and connects', { skip }, async () => {
  await withCopies([
    { copy: 'alice', user: '1001', peer: '1002' },
    { copy: 'bob', user: '1002', peer: '1001', signIn: false },
  ], async ({ service, copies: { alice, bob } }) => {
    await service.command('alice', { do: 'call', to: '1002' });
    // Bob's page announces the call at once; without credentials it is parked.
    await waitFor(() => service.phoneEvents('bob', 'incoming').length, { what: "Bob's page announcing", timeoutMs: 30000 });
    await sleep(1500);
    assert.deepEqual(service.frames('offerReceived'), []);
    assert.ok(!service.seen.some((entry) => entry.event === 'connection' && entry.query.userNumber === '1002'));
    const signedInAt = Date.now();
    await service.command('bob', { do: 'signIn' });
    const ringing = await waitFor(() => service.frames('offerReceived').find((entry) => entry.from === '1002'),
      { what: 'the replayed call ringing', timeoutMs: 30000 });
    assert.ok(ringing.at > signedInAt);
    assert.equal(ringing.frame.to, `1001_${deviceOf(service, 'alice')}`);
    await pressPanelButton(bob, kAcceptGreen, 'Accept');
    await waitFor(() => alice.printed('CONNECTED') && bob.printed('CONNECTED'), { what: 'connected', timeoutMs: 30000 });
    await service.command('bob', { do: 'hangUp' });
    await waitFor(() => service.frames('endCall').some((entry) => entry.from === '1002'), { what: "Bob's hang-up" });
  });
});

test('a ghost ring goes away by itself, and a repeated announcement is no busy signal', { skip }, async () => {
  await withCopies([
    { copy: 'alice', user: '1001', peer: '1002' },
    { copy: 'bob', user: '1002', peer: '1001', announce: 'off' },
  ], async ({ service, copies: { alice, bob } }) => {
    // A call the server does not hold: the panel shows, then goes without a word.
    const ghostAt = Date.now();
    await service.command('bob', panel({ from: 'User 1001', userNumber: '1001', pushId: 'ghost-1' }));
    await waitFor(() => bob.windows(kPanelTitle).length === 1, { what: 'the ghost panel' });
    await waitFor(() => service.seen.some((entry) => entry.event === 'connection' && entry.query.userNumber === '1002'),
      { what: "Bob's call socket" });
    await waitFor(() => bob.windows(kPanelTitle).length === 0, { what: 'the ghost panel going', timeoutMs: 20000 });
    const gone = Date.now() - ghostAt;
    // 5.0 s of grace after the server said "no pending call", 9.0 s right after
    // new credentials; never at once.
    assert.ok(gone >= 4500 && gone < 16000, `the ghost ring lasted ${gone} ms`);
    assert.ok(!service.frames().some((entry) => entry.from === '1002'), 'nothing was sent for the ghost ring');
    await waitFor(() => service.pageCalls('bob', '__orvikNativeCallActiveChanged').some((entry) => entry.data.args[0] === false),
      { what: "Bob's page told the ring is over" });

    // A real call, announced twice (a push and the socket both told the page).
    const since = Date.now();
    await service.command('alice', { do: 'call', to: '1002' });
    const offer = await waitFor(() => service.frames('offer').find((entry) => entry.at >= since), { what: 'the offer', timeoutMs: 30000 });
    const announcement = panel({ from: 'User 1001', userNumber: '1001', pushId: String(offer.recordId ?? 'call-1') });
    await service.command('bob', announcement);
    await waitFor(() => service.frames('offerReceived').some((entry) => entry.from === '1002'), { what: 'ringing', timeoutMs: 30000 });
    await service.command('bob', announcement);
    await sleep(2000);
    assert.ok(!service.frames('userBusy').some((entry) => entry.from === '1002'), 'the repeat sent no busy');
    assert.equal(bob.windows(kPanelTitle).length, 1);
    await pressPanelButton(bob, kAcceptGreen, 'Accept');
    await waitFor(() => alice.printed('CONNECTED') && bob.printed('CONNECTED'), { what: 'connected', timeoutMs: 30000 });
    await service.command('alice', { do: 'hangUp' });
  });
});

// The number of a caller who tries to close the script's string literal.
const kHostile = '1003");fetch("/report",{method:"POST",body:JSON.stringify({kind:"pwned",data:1})});("';

test('the offer corrects a wrongly guessed caller, and a hostile caller number runs no script', { skip }, async () => {
  await withCopies([
    { copy: 'alice', user: '1001', peer: '1002' },
    { copy: 'mallory', user: kHostile, peer: '1002' },
    { copy: 'bob', user: '1002', peer: '1001', announce: 'off' },
  ], async ({ service, copies: { bob } }) => {
    for (const [caller, number] of [['alice', '1001'], ['mallory', kHostile]]) {
      const since = Date.now();
      await service.command(caller, { do: 'call', to: '1002' });
      await waitFor(() => service.frames('offer').some((entry) => entry.at >= since), { what: `${caller}'s offer`, timeoutMs: 30000 });
      // The page guessed the caller (from a push without the caller's number).
      await service.command('bob', panel({ from: 'Unknown', userNumber: '1009', pushId: `guess-${caller}`,
        identityGuessed: true }));
      const asked = await waitFor(() => service.pageCalls('bob', '__orvikResolveCallerIdentity').find((entry) => entry.at >= since),
        { what: `Bob's page asked who ${caller} is`, timeoutMs: 30000 });
      assert.deepEqual(asked.data.args, [number]);
      if (caller === 'alice') {
        // The page resolved its contact's name, which went back to the program.
        await waitFor(() => service.phoneEvents('bob', 'posted').some((entry) => entry.at >= since &&
          entry.data.body.eventType === 'callerIdentityResolved' && entry.data.body.userNumber === '1001'),
        { what: "Bob's page naming the caller" });
      }
      // Bob's device acknowledges the real caller, not the guess.
      const ringing = await waitFor(() => service.frames('offerReceived').find((entry) => entry.at >= since),
        { what: 'ringing', timeoutMs: 30000 });
      assert.equal(ringing.frame.to, `${number}_${deviceOf(service, caller)}`);
      await service.command(caller, { do: 'hangUp' });
      await waitFor(() => bob.windows(kPanelTitle).length === 0, { what: "Bob's panel closing", timeoutMs: 20000 });
      await waitFor(() => service.pageCalls(caller, '__orvikNativeCallActiveChanged').some((entry) => entry.at >= since &&
        entry.data.args[0] === false), { what: `${caller} idle again` });
      await waitFor(() => service.pageCalls('bob', '__orvikNativeCallActiveChanged').some((entry) => entry.at >= since &&
        entry.data.args[0] === false), { what: 'Bob idle again' });
    }
    assert.deepEqual(service.reports('pwned'), []);
  });
});
