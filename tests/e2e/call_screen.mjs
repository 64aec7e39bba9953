// What a copy's own call windows show, read the way a screen reader reads
// them (call-screen.py on the copy's accessibility bus): the texts of its
// labels, the call time among them, and presses of its icon buttons. Also
// freezing a process (SIGSTOP) and thawing it, by process id, for the tests
// that drop a call's path.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import readline from 'node:readline';
import { fileURLToPath } from 'node:url';

import { waitFor } from './harness.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));

// The session bus a running program is on (each copy has its own).
function busOf(pid) {
  const environ = fs.readFileSync(`/proc/${pid}/environ`, 'utf8').split('\0');
  const entry = environ.find((line) => line.startsWith('DBUS_SESSION_BUS_ADDRESS='));
  if (!entry) throw new Error(`process ${pid} has no session bus`);
  return entry.slice('DBUS_SESSION_BUS_ADDRESS='.length);
}

// "mm:ss" as seconds; null for any other text.
export function clockSeconds(text) {
  const match = /^(\d\d):(\d\d)$/.exec(text);
  return match ? Number(match[1]) * 60 + Number(match[2]) : null;
}

// A reader of `copy`'s windows. Requests are answered one at a time, in order.
export async function callScreen(copy) {
  const pid = await waitFor(() => copy.run.programPid(), { what: `${copy.name}'s program`, timeoutMs: 30000 });
  const child = spawn('/usr/bin/python3', [path.join(here, 'call-screen.py')],
    { env: { ...process.env, DBUS_SESSION_BUS_ADDRESS: busOf(pid) }, stdio: ['pipe', 'pipe', 'inherit'] });
  const waiting = [];
  readline.createInterface({ input: child.stdout }).on('line', (line) => {
    const answer = JSON.parse(line);
    if (waiting.length) waiting.shift().resolve(answer);
  });
  child.once('exit', (code) => {
    for (const request of waiting.splice(0)) request.reject(new Error(`call-screen.py exited with ${code}`));
  });
  let queue = Promise.resolve();
  const ask = (request) => {
    const asked = queue.then(() => new Promise((resolve, reject) => {
      if (child.exitCode !== null) return reject(new Error('call-screen.py has exited'));
      waiting.push({ resolve, reject });
      child.stdin.write(`${JSON.stringify(request)}\n`);
    }));
    queue = asked.catch(() => {});
    return asked;
  };
  return {
    pid,
    async texts() {
      const answer = await ask({ do: 'texts' });
      return answer.texts || [];
    },
    // The call time the windows show, in seconds, or null while they show
    // a status ("Reconnecting...", "Calling...") or no call window.
    async callSeconds() {
      const found = (await this.texts()).map(clockSeconds).filter((value) => value !== null);
      return found.length ? Math.max(...found) : null;
    },
    async shows(text) {
      return (await this.texts()).includes(text);
    },
    // Presses the `index`-th button of the row of `count` buttons in the
    // showing window whose title matches `window` (a RegExp).
    async press(window, count, index) {
      const answer = await ask({ do: 'press', window: window.source, count, index });
      return answer.pressed === true;
    },
    close() {
      child.stdin.end();
      if (child.exitCode === null) child.kill('SIGTERM');
    },
  };
}

// Stops a process where it stands (its sockets stay open, nothing is
// answered) and lets it go on; by process id only.
export function freeze(pid) {
  process.kill(pid, 'SIGSTOP');
}

export function thaw(pid) {
  try { process.kill(pid, 'SIGCONT'); } catch {}
}
