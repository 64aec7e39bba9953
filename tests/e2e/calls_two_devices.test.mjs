// End-to-end: the callee is signed in on two devices (two copies as the same
// user). Both ring; the first accept wins; the other device stops ringing
// without a call record of its own, and a late busy or end frame from it does
// not disturb the call.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { programAvailable, waitFor } from './harness.mjs';
import { callToolsAvailable, deviceOf, kAcceptGreen, kPanelTitle, pressPanelButton, sleep, withCopies } from './call_harness.mjs';

const skip = !programAvailable() ? 'the orvikdesk program is not built' : callToolsAvailable() || false;

const kRecordFunctions = ['__orvikLogNativeCall', '__orvikLogNativeIncomingCall', '__orvikLogNativeIncomingRejectedCall'];

test('two devices of the callee ring, the first accept wins and the other stays out of the call', { skip }, async () => {
  await withCopies([
    { copy: 'alice', user: '1001', peer: '1002' },
    { copy: 'desk', user: '1002', peer: '1001' },
    { copy: 'laptop', user: '1002', peer: '1001' },
  ], async ({ service, copies: { alice, desk, laptop } }) => {
    const aliceDevice = deviceOf(service, 'alice');
    const deskDevice = deviceOf(service, 'desk');
    const laptopDevice = deviceOf(service, 'laptop');
    assert.notEqual(deskDevice, laptopDevice);

    await service.command('alice', { do: 'call', to: '1002' });
    // Both devices ring and say so to the caller's device.
    await waitFor(() => {
      const from = service.frames('offerReceived').map((entry) => entry.frame.from);
      return from.includes(`1002_${deskDevice}`) && from.includes(`1002_${laptopDevice}`);
    }, { what: 'both devices ringing', timeoutMs: 40000 });
    await waitFor(() => desk.windows(kPanelTitle).length === 1 && laptop.windows(kPanelTitle).length === 1,
      { what: 'both panels' });

    await pressPanelButton(desk, kAcceptGreen, 'Accept');
    const answer = await waitFor(() => service.frames('answer').find((entry) => entry.from === '1002'),
      { what: 'the answer', timeoutMs: 30000 });
    assert.equal(answer.frame.from, `1002_${deskDevice}`);
    assert.equal(answer.frame.to, `1001_${aliceDevice}`);
    // The desk tells the user's other devices; the laptop stops ringing.
    await waitFor(() => service.seen.some((entry) => entry.event === 'sendToMyDevices' && entry.from === '1002' &&
      JSON.stringify(entry.notice).includes('acceptCall')), { what: '"acceptCall" to my devices' });
    await waitFor(() => laptop.windows(kPanelTitle).length === 0, { what: "the laptop's panel closing" });
    await waitFor(() => alice.printed('CONNECTED') && desk.printed('CONNECTED'), { what: 'connected', timeoutMs: 30000 });
    // The laptop sent no answer and wrote no call record.
    assert.ok(!service.frames('answer').some((entry) => entry.frame.from === `1002_${laptopDevice}`));
    await waitFor(() => service.pageCalls('laptop', '__orvikNativeCallActiveChanged').some((entry) => entry.data.args[0] === false),
      { what: "the laptop's page told it is idle" });
    for (const fn of kRecordFunctions) assert.deepEqual(service.pageCalls('laptop', fn), [], fn);

    // A late busy and end frame from the laptop reach the caller.
    const lateAt = Date.now();
    await service.send(`1001_${aliceDevice}`, { type: 'userBusy', to: '1001', from: `1002_${laptopDevice}` });
    await service.send(`1001_${aliceDevice}`, { type: 'endCall', to: `1001_${aliceDevice}`, from: `1002_${laptopDevice}` });
    await sleep(3000);
    // The call goes on: no end frame from either side, both windows open.
    assert.ok(!service.frames('endCall').some((entry) => entry.at >= lateAt && entry.event === 'call'),
      JSON.stringify(service.frames('endCall')));
    assert.equal(alice.audioWindows().length, 1);
    assert.equal(desk.audioWindows().length, 1);
    assert.ok(!service.pageCalls('alice', '__orvikNativeCallActiveChanged').some((entry) => entry.data.args[0] === false));

    await service.command('alice', { do: 'hangUp' });
    const end = await waitFor(() => service.frames('endCall').find((entry) => entry.from === '1001'), { what: 'the hang-up' });
    assert.equal(end.frame.to, `1002_${deskDevice}`);
  });
});
