// End-to-end: `cmake --install` into a temporary prefix lays out the install
// folder, the launcher, the desktop entry and the icons; the installed program
// started through its launcher shows the page, knows its install folder and
// registers its launcher to start at login. A program run from the build
// tree registers nothing.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';

import { makeHome, programAvailable, startProgram, startService, tempDir, waitFor } from './harness.mjs';

const buildDir = process.env.ORVIK_BUILD_DIR;
const skip = !programAvailable() ? 'the orvikdesk program is not built'
  : !buildDir ? 'ORVIK_BUILD_DIR is not set' : false;
const pageGuardMs = 45000;
const appId = 'com.orvik.desk';
const iconSizes = [16, 22, 24, 32, 48, 64, 128, 256, 512];

// Width and height from a PNG file's header.
function pngSize(file) {
  const bytes = fs.readFileSync(file);
  assert.equal(bytes.toString('latin1', 1, 4), 'PNG', `${file} is not a PNG`);
  return [bytes.readUInt32BE(16), bytes.readUInt32BE(20)];
}

// The keys of a desktop entry's main group.
function desktopEntry(file) {
  const keys = {};
  let group = '';
  for (const line of fs.readFileSync(file, 'utf8').split('\n')) {
    const header = /^\[(.*)\]$/.exec(line);
    if (header) group = header[1];
    const pair = /^([^=#]+?)=(.*)$/.exec(line);
    if (pair && group === 'Desktop Entry') keys[pair[1]] = pair[2];
  }
  return keys;
}

async function showsPage(service, run, start) {
  const [report] = await waitFor(() => {
    const seen = service.reports('globals');
    return seen.length >= start && seen.slice(start - 1);
  }, { timeoutMs: pageGuardMs, what: 'the page report' });
  assert.match(report.data.__orvikDeviceUdid, /^[0-9a-f]{64}$/, run.lines.join('\n'));
  assert.equal(report.data.bridge, true);
}

test('the installed tree holds the install folder, launcher, desktop entry and icons, and the installed ' +
  'program shows the page and starts at login through its launcher', { skip }, async () => {
  // A prefix with a blank in it, as a user's folder may have.
  const prefix = path.join(tempDir('orvik-e2e-install-'), 'my prefix');
  const installed = spawnSync('cmake', ['--install', buildDir, '--prefix', prefix], { encoding: 'utf8' });
  assert.equal(installed.status, 0, installed.stdout + installed.stderr);

  const folder = path.join(prefix, 'lib', 'orvikdesk');
  fs.accessSync(path.join(folder, 'orvikdesk'), fs.constants.X_OK);
  fs.accessSync(path.join(folder, 'orvik-installer'), fs.constants.X_OK);
  for (const resource of ['images/titlebar_metal.png', 'images/titlebar_metal_dark.png',
    'images/orvik_desktop_logo.svg', 'images/orvik_desktop_logo_light.svg', 'sounds/ringtone_default.wav',
    'sounds/system/Beep.wav', 'distribution']) {
    assert.ok(fs.statSync(path.join(folder, 'resources', resource)).isFile(), resource);
  }
  // Sources of generated files stay behind.
  assert.equal(fs.existsSync(path.join(folder, 'resources', 'icons')), false);
  assert.equal(fs.existsSync(path.join(folder, 'resources', 'sounds', 'make-sounds')), false);

  const manifest = JSON.parse(fs.readFileSync(path.join(folder, 'manifest.json'), 'utf8'));
  assert.equal(manifest.identifier, appId);
  assert.match(manifest.version, /^\d+\.\d+\.\d+$/);
  assert.match(manifest.build, /^\d+$/);
  assert.equal(manifest.distributionChannel,
    fs.readFileSync(path.join(folder, 'resources', 'distribution'), 'utf8').trim());

  const launcher = path.join(prefix, 'bin', 'orvikdesk');
  assert.equal(fs.realpathSync(launcher), fs.realpathSync(path.join(folder, 'orvikdesk')));
  assert.equal(path.isAbsolute(fs.readlinkSync(launcher)), false, 'the launcher link survives a moved prefix');

  const entryFile = path.join(prefix, 'share', 'applications', `${appId}.desktop`);
  const validated = spawnSync('desktop-file-validate', [entryFile], { encoding: 'utf8' });
  assert.equal(validated.error, undefined, 'desktop-file-validate is missing (scripts/deps)');
  assert.equal(validated.status, 0, validated.stdout + validated.stderr);
  const entry = desktopEntry(entryFile);
  assert.equal(entry.Exec, `"${launcher}"`);
  assert.equal(entry.Icon, appId);
  assert.equal(entry.StartupWMClass, appId);
  assert.equal(entry.Name, 'OrvikDesk');

  const icons = path.join(prefix, 'share', 'icons', 'hicolor');
  for (const size of iconSizes) {
    assert.deepEqual(pngSize(path.join(icons, `${size}x${size}`, 'apps', `${appId}.png`)), [size, size]);
  }
  assert.match(fs.readFileSync(path.join(icons, 'scalable', 'apps', `${appId}.svg`), 'utf8'), /<svg/);

  // The installed copy, started as the desktop entry starts it.
  const service = await startService();
  const home = makeHome();
  const run = startProgram({ home, config: service.config, executable: launcher });
  try {
    await showsPage(service, run, 1);
    const appPath = await waitFor(() => run.lines.find((line) => line.includes('App path: ')),
      { what: 'the login item log line' });
    assert.ok(appPath.endsWith(`App path: ${fs.realpathSync(folder)}`), appPath);
    const autostart = path.join(home, '.config', 'autostart', `${appId}.desktop`);
    await waitFor(() => fs.existsSync(autostart), { what: 'the autostart entry' });
    const started = desktopEntry(autostart);
    assert.equal(started.Exec, `"${launcher}"`);
    assert.equal(started.Icon, appId);
    assert.equal(started.StartupWMClass, appId);
    assert.equal(started['X-GNOME-Autostart-enabled'], 'true');
  } finally {
    await run.stop();
    await service.stop();
  }
});

test('a program run from the build tree shows the page but writes no autostart entry', { skip }, async () => {
  const service = await startService();
  const home = makeHome();
  const run = startProgram({ home, config: service.config });
  try {
    await showsPage(service, run, 1);
    await waitFor(() => run.lines.find((line) => line.includes('Not an installed copy')),
      { what: 'the login item log line' });
    assert.equal(fs.existsSync(path.join(home, '.config', 'autostart')), false);
  } finally {
    await run.stop();
    await service.stop();
  }
});
