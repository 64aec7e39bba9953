#!/usr/bin/env node
// Builds the signed update archive of one release from its install folder
// (the lib/orvikdesk folder that `cmake --install` lays out):
//
//   tools/release/make-update-archive.mjs --install-folder PREFIX/lib/orvikdesk \
//       --key RELEASE-KEY.pem --out orvikdesk-1.2.0.tar
//
// The archive holds update-manifest.json (identifier, team, version, build,
// the SHA-256 of every file and the target of every link of the folder),
// update-manifest.sig (the Ed25519 signature of the manifest's bytes) and
// the folder itself as orvikdesk/. The key is a PEM Ed25519 private key
// (`openssl genpkey -algorithm ed25519`); it is never part of the source.
// Prints one line of JSON: the archive's path, its SHA-256 (for the update
// feed) and the hex public key (what the installer must be built with).
// Only Node's built-in modules and the tar program.
import crypto from 'node:crypto';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

const team = 'OR5VK2D8QK';

function option(name) {
  const index = process.argv.indexOf(name);
  if (index < 0 || index + 1 >= process.argv.length) {
    console.error(`usage: make-update-archive.mjs --install-folder DIR --key KEY.pem --out FILE (missing ${name})`);
    process.exit(2);
  }
  return path.resolve(process.argv[index + 1]);
}

const folder = option('--install-folder');
const keyFile = option('--key');
const out = option('--out');

const identity = JSON.parse(fs.readFileSync(path.join(folder, 'manifest.json'), 'utf8'));
const files = {};
const links = {};
function walk(dir, prefix) {
  for (const entry of fs.readdirSync(dir, { withFileTypes: true }).sort((a, b) => a.name.localeCompare(b.name))) {
    const full = path.join(dir, entry.name);
    const relative = prefix ? `${prefix}/${entry.name}` : entry.name;
    const info = fs.lstatSync(full);
    if (info.mode & 0o7000) throw new Error(`${relative}: set-user-ID, set-group-ID or sticky bit`);
    if (entry.isSymbolicLink()) links[relative] = fs.readlinkSync(full);
    else if (entry.isDirectory()) walk(full, relative);
    else if (entry.isFile()) files[relative] = crypto.createHash('sha256').update(fs.readFileSync(full)).digest('hex');
    else throw new Error(`${relative}: not a file, folder or link`);
  }
}
walk(folder, '');

const manifest = Buffer.from(JSON.stringify({
  identifier: identity.identifier, team, version: identity.version, build: identity.build, files, links,
}, null, 2));
const privateKey = crypto.createPrivateKey(fs.readFileSync(keyFile));
if (privateKey.asymmetricKeyType !== 'ed25519') throw new Error(`${keyFile} is not an Ed25519 key`);
const signature = crypto.sign(null, manifest, privateKey);
const publicKey = crypto.createPublicKey(privateKey).export({ format: 'der', type: 'spki' }).subarray(-32);

const staging = fs.mkdtempSync(path.join(os.tmpdir(), 'orvik-update-archive-'));
try {
  fs.writeFileSync(path.join(staging, 'update-manifest.json'), manifest);
  fs.writeFileSync(path.join(staging, 'update-manifest.sig'), signature);
  fs.cpSync(folder, path.join(staging, 'orvikdesk'), { recursive: true, verbatimSymlinks: true });
  // Owners are not part of a release; numeric and fixed keep the archive the
  // same whoever builds it.
  execFileSync('tar', ['--create', '--file', out, '--directory', staging, '--owner=0', '--group=0', '--numeric-owner',
    '--hard-dereference', 'update-manifest.json', 'update-manifest.sig', 'orvikdesk']);
} finally {
  fs.rmSync(staging, { recursive: true, force: true });
}
const sha256 = crypto.createHash('sha256').update(fs.readFileSync(out)).digest('hex');
console.log(JSON.stringify({ archive: out, sha256, publicKey: publicKey.toString('hex') }));
