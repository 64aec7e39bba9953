// Start-up cost of OrvikDesk against the least a WebKitGTK program needs to
// show the same page: the built program and bench_minimal_web_window are
// started in alternation against one local service (tools/devservice), and
// for each start the bench takes
//   - start → first paint: from spawning the process to the page's "painted"
//     report (two animation frames after its text is in the document), and
//   - PSS after 10 s: proportional set size of the process and all its
//     descendants (the WebKit web and network processes), and of the UI
//     process alone.
// It prints the medians and the ratios program / minimal window.
//
//   xvfb-run -a dbus-run-session -- node bench/startup_bench.mjs [--rounds N]
//
// Both run with the same environment, each with a HOME of its own kept over
// its rounds (the first round of each is a warm-up and not counted), on the
// bench's session bus with an unlocked keyring. Not a test: run it by hand.
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import { descendants, makeHome, program, startService, waitFor } from '../tests/e2e/harness.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const sourceDir = path.resolve(here, '..');
const minimalWindow = process.env.ORVIK_MINIMAL_WINDOW ||
  path.join(sourceDir, 'build', 'bench', 'bench_minimal_web_window');
const roundsIndex = process.argv.indexOf('--rounds');
const rounds = roundsIndex > 0 ? Number(process.argv[roundsIndex + 1]) : 5;
const settleMs = 10000;

if (!process.env.DISPLAY && !process.env.WAYLAND_DISPLAY) {
  console.error('startup_bench: needs a display; run it as xvfb-run -a dbus-run-session -- node bench/startup_bench.mjs');
  process.exit(2);
}
for (const file of [program, minimalWindow]) {
  if (!fs.existsSync(file)) {
    console.error(`startup_bench: ${file} is not built`);
    process.exit(2);
  }
}

function environment(home) {
  return {
    ...process.env,
    HOME: home,
    XDG_CONFIG_HOME: path.join(home, '.config'),
    XDG_DATA_HOME: path.join(home, '.local', 'share'),
    XDG_CACHE_HOME: path.join(home, '.cache'),
    GSK_RENDERER: process.env.GSK_RENDERER || 'cairo',
  };
}

// Proportional set size in KiB, from smaps_rollup.
function pssKiB(pid) {
  try {
    const match = /^Pss:\s+(\d+) kB/m.exec(fs.readFileSync(`/proc/${pid}/smaps_rollup`, 'utf8'));
    return match ? Number(match[1]) : 0;
  } catch {
    return 0;
  }
}

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  const middle = Math.floor(sorted.length / 2);
  return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
}

async function measure(name, command, args, env, service) {
  const before = service.reports('painted').length;
  const started = Date.now();
  const child = spawn(command, args, { env, stdio: ['ignore', 'ignore', 'ignore'] });
  const exited = new Promise((resolve) => child.once('exit', resolve));
  try {
    const painted = await waitFor(() => {
      const seen = service.reports('painted');
      return seen.length > before && seen[before];
    }, { timeoutMs: 60000, what: `${name}'s first paint` });
    await new Promise((resolve) => setTimeout(resolve, Math.max(0, started + settleMs - Date.now())));
    const tree = [child.pid, ...descendants(child.pid)];
    return {
      paintMs: painted.at - started,
      totalPssMiB: tree.reduce((sum, pid) => sum + pssKiB(pid), 0) / 1024,
      uiPssMiB: pssKiB(child.pid) / 1024,
      processes: tree.length,
    };
  } finally {
    child.kill('SIGTERM');
    const timer = setTimeout(() => {
      for (const pid of descendants(child.pid)) {
        try { process.kill(pid, 'SIGKILL'); } catch {}
      }
      child.kill('SIGKILL');
    }, 10000);
    await exited;
    clearTimeout(timer);
  }
}

const service = await startService();
const keyringHome = makeHome();
try {
  // One unlocked keyring for the whole run, as a desktop session has.
  try {
    const exported = execFileSync('gnome-keyring-daemon', ['--unlock', '--components=secrets'],
      { input: 'bench', env: environment(keyringHome) }).toString();
    for (const line of exported.split('\n')) {
      const [key, ...value] = line.split('=');
      if (key && value.length) process.env[key] = value.join('=');
    }
  } catch {
    console.error('startup_bench: no gnome-keyring-daemon; the program keeps its identifier in its private file');
  }
  const programEnv = { ...environment(makeHome()), ORVIK_SERVICE_CONFIG: service.config };
  const windowEnv = environment(makeHome());
  const leaf = path.join(service.dir, 'leaf.pem');
  const runs = { program: [], window: [] };
  for (let round = 0; round <= rounds; round += 1) {
    const programRun = await measure('orvikdesk', program, [], programEnv, service);
    const windowRun = await measure('the minimal window', minimalWindow, [service.url, leaf], windowEnv, service);
    const tag = round === 0 ? 'warm-up' : `round ${round}`;
    console.log(`${tag}: orvikdesk ${programRun.paintMs} ms, ${programRun.totalPssMiB.toFixed(1)} MiB ` +
      `(UI ${programRun.uiPssMiB.toFixed(1)}); window ${windowRun.paintMs} ms, ` +
      `${windowRun.totalPssMiB.toFixed(1)} MiB (UI ${windowRun.uiPssMiB.toFixed(1)})`);
    if (round === 0) continue;
    runs.program.push(programRun);
    runs.window.push(windowRun);
  }
  const summary = (list, key) => median(list.map((run) => run[key]));
  const rows = [['start → first paint (ms)', 'paintMs', 1.05], ['total PSS after 10 s (MiB)', 'totalPssMiB', 1.03],
    ['UI process PSS after 10 s (MiB)', 'uiPssMiB', null]];
  console.log(`\nmedians of ${rounds} rounds        orvikdesk   minimal   ratio   goal`);
  for (const [label, key, goal] of rows) {
    const ours = summary(runs.program, key);
    const theirs = summary(runs.window, key);
    console.log(`${label.padEnd(32)} ${ours.toFixed(1).padStart(9)} ${theirs.toFixed(1).padStart(9)} ` +
      `${(ours / theirs).toFixed(3).padStart(7)}   ${goal ? `≤ ${goal}` : ''}`);
  }
} finally {
  await service.stop();
}
