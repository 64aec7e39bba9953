// End-to-end: the fixture page drives the script bridge of the built program
// and reports what comes back; the program's standard output shows what the
// native side did with each message.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';

import { makeHome, programAvailable, startProgram, startService, waitFor } from './harness.mjs';

const skip = programAvailable() ? false : 'the orvikdesk program is not built';

async function withRun(page, body) {
  const service = await startService({ page });
  const home = makeHome();
  const run = startProgram({ home, config: service.config });
  try {
    await body({ service, run, home });
  } finally {
    await run.stop();
    await service.stop();
  }
}

function reply(service, fn) {
  return service.reports('reply').find((entry) => entry.data.fn === fn);
}

test('the page gets its replies and effects, and native lines reach its console in order', { skip }, async () => {
  await withRun('/bridge.html?frame=1', async ({ service, run, home }) => {
    await waitFor(() => ['onDeviceResponse', 'onAppVersionResponse', 'onDeviceUdidReceived',
      'onDebugLogContentReceived'].every((fn) => reply(service, fn)), { what: 'the four replies' });
    const [info] = reply(service, 'onDeviceResponse').data.args;
    assert.equal(info.deviceChannel, 'macos');
    assert.equal(info.distribution, 'bucket');
    assert.ok(info.deviceModel.length > 0);
    assert.ok(info.deviceName.length > 0);
    assert.ok(info.version.length > 0);
    const [version] = reply(service, 'onAppVersionResponse').data.args;
    assert.equal(version.fullVersion, `${version.version} (${version.build})`);
    assert.match(reply(service, 'onDeviceUdidReceived').data.args[0], /^[0-9a-f]{64}$/);
    // Quotes, a backslash and the two line separators came back as they went.
    assert.equal(reply(service, 'onDebugLogContentReceived').data.intact, true);

    // "themeChanged" reached the theme setting.
    const defaults = path.join(home, '.config', 'com.orvik.desk', 'defaults.json');
    await waitFor(() => {
      try {
        return JSON.parse(fs.readFileSync(defaults, 'utf8')).app_isDarkMode === false;
      } catch {
        return false;
      }
    }, { what: 'the stored theme' });

    // Once the page allowed it, the native lines (buffered ones first) appear
    // in its console, each marked, in the order the program wrote them.
    await waitFor(() => service.reports('nativeConsole').some((entry) =>
      entry.data.text.includes('openNativeAudioUI ABORTED — no callee OrvikID (name=Fixture)')),
    { what: 'native lines in the page console' });
    const consoleLines = service.reports('nativeConsole').sort((a, b) => a.data.seq - b.data.seq)
      .map((entry) => entry.data.text);
    for (const line of consoleLines) assert.ok(line.startsWith('📱 '), line);
    const printed = run.lines;
    const positions = consoleLines.map((line) => printed.indexOf(line.slice('📱 '.length)));
    assert.ok(positions.every((at) => at >= 0),
      `every console line was printed by the program:\n${consoleLines.join('\n')}\n--\n${printed.join('\n')}`);
    assert.deepEqual(positions, [...positions].sort((a, b) => a - b));

    // The foreign frame tried every way in; nothing of it reached the native side.
    const [frame] = await waitFor(() => service.reports('frame').length > 0 && service.reports('frame'),
      { what: 'the frame report' });
    assert.notEqual(frame.data['own handlers'], 'sent');
    assert.notEqual(frame.data['top handlers'], 'sent');
    assert.notEqual(frame.data['top event'], 'sent');
    assert.ok(!run.lines.some((line) => line.includes('showIncomingCallPanel')), run.lines.join('\n'));
    assert.ok(!run.lines.some((line) => line.includes('Ignored bridge')));
  });
});

test('a user record in the page database yields the call credentials', { skip }, async () => {
  await withRun('/bridge.html?user=record', async ({ service, run }) => {
    await waitFor(() => run.lines.includes('[NATIVE] [WebView] nativeAuthData — credentials SET ✅'),
      { what: 'the credentials', timeoutMs: 60000 });
    const accepted = await waitFor(() => service.reports('authData').find((entry) => entry.data.userNumber === '4711'),
      { what: 'the accepted answer in the page' });
    assert.equal(accepted.data.deviceUdid, 'fixture-device');
    assert.equal(accepted.data.authToken, 'fixture-token');
    assert.equal(accepted.data.displayName, 'Fixture User');
    assert.ok(run.lines.includes('[NATIVE] [WebView] credential fetch requested — reason=bridge-message'));
  });
});

test('an empty user store gives thirteen tries and no more', { skip }, async () => {
  await withRun('/bridge.html?user=empty', async ({ service, run }) => {
    const empty = () => service.reports('authData').filter((entry) => entry.data._debug === 'empty stores=user');
    await waitFor(() => empty().length >= 13, { what: 'thirteen empty answers', timeoutMs: 90000 });
    // Two retry periods later nothing more has run.
    await new Promise((resolve) => setTimeout(resolve, 5000));
    assert.equal(empty().length, 13);
    assert.ok(!run.lines.some((line) => line.includes('credentials SET')));
    assert.equal(run.lines.filter((line) => line.includes('credential fetch requested')).length, 1);
  });
});

test('a top frame sent to an untrusted host is refused, whatever origin its messages claim', { skip }, async () => {
  await withRun('/bridge.html?go=foreign', async ({ service, run }) => {
    const origin = new URL(service.foreign).origin;
    const refusal = `[NATIVE] [WebView] Ignored bridge 'nativeApp' from untrusted origin ${origin} mainFrame=true`;
    await waitFor(() => run.lines.filter((line) => line === refusal).length >= 2,
      { what: 'the refusals of both forged messages' });
    // The forged origin names no port; the real one does.
    assert.ok(!run.lines.some((line) => line.includes('untrusted origin https://127.0.0.1:0 ')));
  });
});
