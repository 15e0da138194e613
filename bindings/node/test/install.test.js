// The package as an application installs it: a copy of what it ships (package.json "files",
// with the DLLs in its bin folder) under a host's node_modules, and no CAMERA_LIBRARIES_DIR.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawnSync } = require('child_process');
const { libraries } = require('./support');

test('a package installed under node_modules finds the DLLs it ships', () => {
  const app = fs.mkdtempSync(path.join(os.tmpdir(), 'camera-app-'));
  try {
    const installed = path.join(app, 'node_modules', 'camera-libraries');
    const source = path.join(__dirname, '..');
    const manifest = JSON.parse(fs.readFileSync(path.join(source, 'package.json'), 'utf8'));
    for (const entry of ['package.json', ...manifest.files.filter((file) => file !== 'bin/')])
      fs.cpSync(path.join(source, entry), path.join(installed, entry), { recursive: true });
    for (const dll of ['fenwyr.dll', 'tarvik.dll'])
      fs.cpSync(path.join(libraries, dll), path.join(installed, 'bin', dll));
    fs.writeFileSync(path.join(app, 'host.js'), `
      const { fenwyr } = require('camera-libraries');
      fenwyr.devices().then((list) => { console.log('devices', list.length); return fenwyr.shutdown(); })
        .catch((error) => { console.log(error.code, error.message); process.exitCode = 1; });`);
    // Under Wine, node.exe cannot write to a pipe: its output goes to a file.
    const output = path.join(app, 'output.txt');
    const fd = fs.openSync(output, 'w');
    const env = { ...process.env };
    delete env.CAMERA_LIBRARIES_DIR;
    // koffi, the package's dependency, from the test host's node_modules (NODE_PATH).
    const result = spawnSync(process.execPath, [path.join(app, 'host.js')], { cwd: app, env, stdio: ['ignore', fd, fd] });
    fs.closeSync(fd);
    const printed = fs.readFileSync(output, 'utf8');
    assert.strictEqual(result.status, 0, printed);
    assert.match(printed, /^devices \d+$/m);
  } finally {
    fs.rmSync(app, { recursive: true, force: true });
  }
});
