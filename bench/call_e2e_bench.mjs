// Calls between two copies of the built program through the local service
// (call server, fixture web application, coturn), the way the end-to-end
// call tests run them: each copy on its own display, PulseAudio daemon and
// session bus. The program never offers host candidates: with a TURN server
// in its ICE configuration it relays only, without one it takes
// server-reflexive candidates. So the bench runs twice, with the call server
// handing out the loopback coturn as TURN ("relay") and as STUN only
// ("direct", the nearest to host candidates the program has), and each time
// places N audio calls one after another and takes
//   - place → connected: from the caller's page placing the call to both
//     sides printing the connect (the callee's Accept is pressed as soon as
//     its panel shows; the time the press takes is measured separately),
//   - accept → connected: from the press to both sides connected,
//   - hang-up → both idle: from the caller's page hanging up to both pages
//     told that no call is active (this includes the 2.6 s the program waits
//     by design before its clean-up).
// It prints the medians. Then, relayed, it holds one audio call and one
// video call for 60 s each and reports each copy's CPU (the program and its
// WebKit processes, in per cent of one core) and resident memory (their
// summed VmRSS at the end). The video call's cameras are the test builds'
// synthetic one (ORVIK_TEST_CAMERA=bars: 1280×720 colour bars), so the
// figures include painting those frames, about what a camera's own decoding
// would cost. Not a test: run it by hand.
//
//   node bench/call_e2e_bench.mjs [--calls N] [--hold SECONDS]
import fs from 'node:fs';
import { performance } from 'node:perf_hooks';

import { descendants, programAvailable, waitFor } from '../tests/e2e/harness.mjs';
import { callToolsAvailable, kAcceptGreen, pressPanelButton, withCopies } from '../tests/e2e/call_harness.mjs';

const callsIndex = process.argv.indexOf('--calls');
const calls = callsIndex > 0 ? Number(process.argv[callsIndex + 1]) : 20;
const holdIndex = process.argv.indexOf('--hold');
const holdSeconds = holdIndex > 0 ? Number(process.argv[holdIndex + 1]) : 60;
const ticksPerSecond = 100;  // USER_HZ on Linux

if (!programAvailable()) {
  console.error('call_e2e_bench: the orvikdesk program is not built');
  process.exit(2);
}
const missing = callToolsAvailable();
if (missing) {
  console.error(`call_e2e_bench: ${missing}`);
  process.exit(2);
}

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  const middle = Math.floor(sorted.length / 2);
  return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
}

function count(copy, text) {
  return copy.lines.filter((line) => line.includes(text)).length;
}

function idleCount(service, copy) {
  return service.pageCalls(copy, '__orvikNativeCallActiveChanged').filter((entry) => entry.data.args[0] === false).length;
}

async function measure(ice) {
  const placed = [], accepted = [], ended = [];
  await withCopies([{ copy: 'alice', user: '1001', peer: '1002' }, { copy: 'bob', user: '1002', peer: '1001' }],
    async ({ service, copies: { alice, bob } }) => {
      for (let round = 0; round < calls; round++) {
        const connectedBefore = [count(alice, 'CONNECTED'), count(bob, 'CONNECTED')];
        const idleBefore = [idleCount(service, 'alice'), idleCount(service, 'bob')];
        const start = performance.now();
        await service.command('alice', { do: 'call', to: '1002' });
        await pressPanelButton(bob, kAcceptGreen, 'Accept');
        const pressed = performance.now();
        await waitFor(() => count(alice, 'CONNECTED') > connectedBefore[0] && count(bob, 'CONNECTED') > connectedBefore[1],
          { what: `call ${round + 1} connected`, timeoutMs: 60000 });
        const connected = performance.now();
        placed.push(connected - start);
        accepted.push(connected - pressed);
        // Let it run a moment, as a call does.
        await new Promise((resolve) => setTimeout(resolve, 1000));
        const hangUp = performance.now();
        await service.command('alice', { do: 'hangUp' });
        await waitFor(() => idleCount(service, 'alice') > idleBefore[0] && idleCount(service, 'bob') > idleBefore[1],
          { what: `call ${round + 1} over`, timeoutMs: 30000 });
        ended.push(performance.now() - hangUp);
        process.stderr.write('.');
      }
    }, { ice });
  process.stderr.write('\n');
  return { placed: median(placed), accepted: median(accepted), ended: median(ended) };
}

// The program's process and the processes it started (WebKit's web and
// network processes): CPU ticks so far and resident kilobytes now.
function usage(copy) {
  const root = copy.run.programPid();
  if (!root) return { ticks: 0, rssKb: 0 };
  let ticks = 0, rssKb = 0;
  for (const pid of [root, ...descendants(root)]) {
    try {
      const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
      const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
      ticks += Number(fields[11]) + Number(fields[12]);  // utime, stime
      const rss = /VmRSS:\s+(\d+)/.exec(fs.readFileSync(`/proc/${pid}/status`, 'utf8'));
      if (rss) rssKb += Number(rss[1]);
    } catch {}
  }
  return { ticks, rssKb };
}

async function holdCall({ video }) {
  const result = {};
  const env = video ? { ORVIK_TEST_CAMERA: 'bars' } : {};
  await withCopies([{ copy: 'alice', user: '1001', peer: '1002', env }, { copy: 'bob', user: '1002', peer: '1001', env }],
    async ({ service, copies }) => {
      await service.command('alice', { do: 'call', to: '1002', video });
      await pressPanelButton(copies.bob, kAcceptGreen, 'Accept');
      await waitFor(() => count(copies.alice, 'CONNECTED') && count(copies.bob, 'CONNECTED'),
        { what: 'the held call connected', timeoutMs: 60000 });
      const before = { alice: usage(copies.alice), bob: usage(copies.bob) };
      const start = performance.now();
      await new Promise((resolve) => setTimeout(resolve, holdSeconds * 1000));
      const seconds = (performance.now() - start) / 1000;
      for (const name of ['alice', 'bob']) {
        const after = usage(copies[name]);
        result[name] = { cpu: (100 * (after.ticks - before[name].ticks)) / ticksPerSecond / seconds,
          rssMb: after.rssKb / 1024 };
      }
      await service.command('alice', { do: 'hangUp' });
    });
  return result;
}

for (const ice of ['stun', 'turn']) {
  const result = await measure(ice);
  console.log(`${ice === 'stun' ? 'direct' : 'relay '}  place → connected ${result.placed.toFixed(0)} ms` +
    `  accept → connected ${result.accepted.toFixed(0)} ms  hang-up → both idle ${result.ended.toFixed(0)} ms` +
    `  (median of ${calls})`);
}

for (const video of [false, true]) {
  const held = await holdCall({ video });
  for (const [name, figures] of Object.entries(held)) {
    console.log(`${video ? 'video' : 'audio'} call held ${holdSeconds} s, ${name === 'alice' ? 'caller' : 'callee'}: ` +
      `CPU ${figures.cpu.toFixed(1)} % of a core, resident ${figures.rssMb.toFixed(0)} MiB (program and its WebKit processes)`);
  }
}
