// Drives the built program against the local service: each program runs with
// its own temporary HOME and XDG folders, on a private session bus with an
// unlocked keyring of its own (the keyring lives in that HOME, so a restart
// with the same HOME finds the same device identity).
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const sourceDir = path.resolve(here, '..', '..');
export const program = process.env.ORVIK_PROGRAM || path.join(sourceDir, 'build', 'src', 'app', 'orvikdesk');

export function programAvailable() {
  try {
    fs.accessSync(program, fs.constants.X_OK);
    return true;
  } catch {
    return false;
  }
}

export function tempDir(prefix) {
  return fs.mkdtempSync(path.join(os.tmpdir(), prefix));
}

export async function waitFor(check, { timeoutMs = 60000, what = 'condition' } = {}) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const value = await check();
    if (value) return value;
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
}

// Starts tools/devservice/web-server.js; resolves when it printed where it is.
// `updateReady`: the ready line of a running update-feed.js, whose feed, pins
// and CA become the update host's.
export async function startService({ page = '/', wrongPin = false, updateReady = null } = {}) {
  const dir = tempDir('orvik-e2e-service-');
  const args = [path.join(sourceDir, 'tools', 'devservice', 'web-server.js'), '--dir', dir, '--page', page];
  if (wrongPin) args.push('--wrong-pin');
  if (updateReady) args.push('--update-ready', JSON.stringify(updateReady));
  const child = spawn(process.execPath, args, { stdio: ['ignore', 'pipe', 'inherit'] });
  const lines = readline.createInterface({ input: child.stdout });
  const ready = await new Promise((resolve, reject) => {
    lines.once('line', (line) => resolve(JSON.parse(line)));
    child.once('exit', (code) => reject(new Error(`devservice exited with ${code}`)));
  });
  return {
    ...ready,
    reports(kind) {
      const text = fs.readFileSync(ready.reports, 'utf8');
      const all = text.split('\n').filter(Boolean).map((line) => JSON.parse(line));
      return kind ? all.filter((entry) => entry.kind === kind) : all;
    },
    async stop() {
      if (child.exitCode === null) {
        child.kill('SIGTERM');
        await new Promise((resolve) => child.once('exit', resolve));
      }
    },
  };
}

export function makeHome() {
  const home = tempDir('orvik-e2e-home-');
  for (const sub of ['.config', '.local/share', '.cache', 'runtime']) {
    fs.mkdirSync(path.join(home, sub), { recursive: true, mode: 0o700 });
  }
  return home;
}

// How the program's session bus offers a Secret Service:
//   unlocked  gnome-keyring with an unlocked login keyring (the default)
//   locked    gnome-keyring whose login keyring is locked: storing needs a
//             password prompt that nobody answers
//   fresh     nothing started, but the bus starts gnome-keyring on demand,
//             with no keyring yet (a first login on a fresh machine)
//   none      no Secret Service at all: the bus starts no services
//   nobus     no session bus at all
const keyringScripts = {
  unlocked: 'eval "$(printf test | gnome-keyring-daemon --unlock --components=secrets 2>/dev/null)" >/dev/null; ',
  locked: 'eval "$(printf test | gnome-keyring-daemon --unlock --components=secrets 2>/dev/null)" >/dev/null; ' +
    'gdbus call --session --dest org.freedesktop.secrets --object-path /org/freedesktop/secrets ' +
    '--method org.freedesktop.Secret.Service.Lock "[\'/org/freedesktop/secrets/collection/login\']" >/dev/null; ',
  fresh: '',
  none: '',
};

// A session bus configuration without service folders: nothing is started
// on demand.
function busWithoutServices(home) {
  const file = path.join(home, 'session-no-services.conf');
  fs.writeFileSync(file, '<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"\n' +
    ' "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">\n' +
    '<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>' +
    '<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>' +
    '<allow own="*"/></policy></busconfig>\n');
  return file;
}

// Starts the program with `home` and the service's override file. Resolves
// at once; `lines` collects its standard output.
// `executable` is the built program unless told otherwise (an installed copy);
// `env` adds to or replaces the environment (a display of its own).
// `busAddress`: run on that session bus instead of one of its own, for
// tests whose bus must outlive the program (a relaunched copy joins it).
export function startProgram({ home, config, keyring = 'unlocked', executable = program, env: extra = {},
  busAddress = null }) {
  const env = {
    ...process.env,
    HOME: home,
    XDG_CONFIG_HOME: path.join(home, '.config'),
    XDG_DATA_HOME: path.join(home, '.local', 'share'),
    XDG_CACHE_HOME: path.join(home, '.cache'),
    XDG_RUNTIME_DIR: path.join(home, 'runtime'),
    ORVIK_SERVICE_CONFIG: config,
    GSK_RENDERER: 'cairo',
    ...extra,
  };
  if (keyring === 'nobus') delete env.DBUS_SESSION_BUS_ADDRESS;
  if (busAddress) env.DBUS_SESSION_BUS_ADDRESS = busAddress;
  const script = (keyringScripts[keyring] ?? '') + 'exec "$0"';
  const bus = keyring === 'none' ? ['--config-file', busWithoutServices(home)] : [];
  const command = keyring === 'nobus' || busAddress ? ['bash', '-c', script, executable]
    : ['dbus-run-session', ...bus, '--', 'bash', '-c', script, executable];
  const child = spawn(command[0], command.slice(1), {
    env,
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  const lines = [];
  readline.createInterface({ input: child.stdout }).on('line', (line) => lines.push(line));
  readline.createInterface({ input: child.stderr }).on('line', (line) => lines.push(line));
  return {
    child,
    lines,
    // The program's own process id, once it runs.
    programPid() {
      try {
        if (fs.readFileSync(`/proc/${child.pid}/comm`, 'utf8').trim() === 'orvikdesk') return child.pid;
      } catch {}
      const found = descendantsWithNames(child.pid).find(([, name]) => name === 'orvikdesk');
      return found ? found[0] : null;
    },
    diagnosticsFile: path.join(home, '.local', 'share', 'com.orvik.desk', 'web_load_diagnostics.log'),
    diagnostics() {
      try {
        return fs.readFileSync(this.diagnosticsFile, 'utf8');
      } catch {
        return '';
      }
    },
    async stop() {
      if (child.exitCode !== null || child.signalCode !== null) return;
      // The session bus runner's children: the program and its helpers.
      for (const pid of descendants(child.pid)) {
        try { process.kill(pid, 'SIGTERM'); } catch {}
      }
      const exited = new Promise((resolve) => child.once('exit', resolve));
      const timer = setTimeout(() => child.kill('SIGKILL'), 10000);
      await exited;
      clearTimeout(timer);
    },
  };
}

// Every process below `root`, read from /proc: [pid, name] pairs.
export function descendantsWithNames(root) {
  const parent = new Map();
  const name = new Map();
  for (const entry of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    let stat;
    try {
      stat = fs.readFileSync(`/proc/${entry}/stat`, 'utf8');
    } catch {
      continue;
    }
    const open = stat.indexOf('('), close = stat.lastIndexOf(')');
    const fields = stat.slice(close + 2).split(' ');
    parent.set(Number(entry), Number(fields[1]));
    name.set(Number(entry), stat.slice(open + 1, close));
  }
  const found = [];
  for (const [pid] of parent) {
    for (let up = parent.get(pid); up && up > 1; up = parent.get(up)) {
      if (up === root) {
        found.push([pid, name.get(pid)]);
        break;
      }
    }
  }
  return found;
}

export function descendants(root) {
  return descendantsWithNames(root).map(([pid]) => pid);
}
