// End-to-end: the built program loads the fixture web application from the
// local service over HTTPS, with the service override pointing at it.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { descendantsWithNames, makeHome, programAvailable, startProgram, startService, waitFor } from './harness.mjs';

const skip = programAvailable() ? false : 'the orvikdesk program is not built';

async function withRun(options, body) {
  const service = await startService(options);
  const home = makeHome();
  const runs = [];
  const start = () => {
    const run = startProgram({ home, config: service.config });
    runs.push(run);
    return run;
  };
  try {
    await body({ service, start });
  } finally {
    for (const run of runs) await run.stop();
    await service.stop();
  }
}

test('the page sees the native globals at document start; the device identifier survives a restart', { skip },
  async () => {
    await withRun({}, async ({ service, start }) => {
      const first = start();
      const [seen] = await waitFor(() => service.reports('globals').length >= 1 && service.reports('globals'),
        { what: 'the first page report' });
      assert.match(seen.data.APP_VERSION, /^\d[\w.]* \(\w+\)$/);
      assert.equal(seen.data.ORVIK_NATIVE_CALL_SUPPORTED, true);
      assert.equal(seen.data.ORVIK_DISTRIBUTION, 'bucket');
      assert.match(seen.data.__orvikDeviceUdid, /^[0-9a-f]{64}$/);
      assert.match(seen.data.__orvikNativeLaunchId, /^[0-9a-f-]{36}$/i);
      assert.equal(seen.data.loadErrorCollector, true);
      assert.equal(seen.data.bridge, true);
      await first.stop();

      start();
      const [, again] = await waitFor(() => service.reports('globals').length >= 2 && service.reports('globals'),
        { what: 'the page report after a restart' });
      assert.equal(again.data.__orvikDeviceUdid, seen.data.__orvikDeviceUdid);
      assert.notEqual(again.data.__orvikNativeLaunchId, seen.data.__orvikNativeLaunchId);
    });
  });

test('the content filter stops a request to another host before it leaves the program', { skip }, async () => {
  await withRun({}, async ({ service, start }) => {
    start();
    await waitFor(() => service.reports('exfil').length >= 1, { what: 'the page to try the other host' });
    await waitFor(() => service.reports('probe').some((entry) => entry.data === 'startHost'),
      { what: 'the allowed probe' });
    assert.deepEqual(service.reports('tlsHello'), []);
    assert.ok(!service.reports('probe').some((entry) => entry.data === 'otherHost'));
    assert.equal(service.reports('exfil')[0].data, 'stopped');
  });
});

test('a pin mismatch stops the load and is recorded in the diagnostics', { skip }, async () => {
  await withRun({ wrongPin: true }, async ({ service, start }) => {
    const run = start();
    await waitFor(() => /FAIL stage=certificatePinning .*details=host=127\.0\.0\.1/.test(run.diagnostics()),
      { what: 'the pinning record' });
    assert.deepEqual(service.reports('globals'), []);
  });
});

test('killing the web process reloads the page', { skip }, async () => {
  await withRun({}, async ({ service, start }) => {
    const run = start();
    await waitFor(() => service.reports('globals').length >= 1, { what: 'the first load' });
    const webProcesses = await waitFor(() => {
      const found = descendantsWithNames(run.child.pid).filter(([, name]) => name.startsWith('WebKitWebProces'));
      return found.length > 0 && found;
    }, { what: 'the web process' });
    for (const [pid] of webProcesses) process.kill(pid, 'SIGKILL');
    await waitFor(() => service.reports('globals').length >= 2, { what: 'the reload' });
    await waitFor(() => run.diagnostics().includes('FAIL stage=webContentProcessTerminated'),
      { what: 'the termination record' });
  });
});

test('a page whose root never renders shows the load failure after the render checks', { skip }, async () => {
  await withRun({ page: '/blank.html' }, async ({ service, start }) => {
    const run = start();
    await waitFor(() => service.reports('blankPage').length >= 1, { what: 'the blank page' });
    // Six checks three seconds apart: the failure is recorded 18 s after the load.
    await waitFor(() => run.diagnostics().includes('FAIL stage=blankPageAfterLoad'),
      { timeoutMs: 60000, what: 'the blank-page record' });
    assert.match(run.diagnostics(), /FAIL stage=blankPageAfterLoad .*details=18s after didFinish hasRoot=true readyState=complete/);
  });
});
