// Drives the shipped administration site of a real voxhall-server in headless
// Chromium: sign in, read the overview, change settings (which restarts the
// virtual server), add, edit and delete an account, sign out. Every page is
// saved as a screenshot so that its look can be checked by eye.
//
// node site_test.mjs --server <binary> --httpdocs <folder> --screenshots <folder>
//                    [--chromium /usr/bin/chromium]
//
// The server runs in a fresh temporary folder on free loopback ports, bound to
// 127.0.0.1, with the query interface, the server-list post and the external
// IP check turned off, so the test reaches nothing beyond this machine.

import { spawn } from 'node:child_process';
import dgram from 'node:dgram';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import assert from 'node:assert/strict';
import { chromium } from 'playwright-core';

const ADMIN_PASSWORD = 'Browser-Test-Pw1';

function parseArguments(argv) {
  const options = { chromium: '/usr/bin/chromium' };
  for (let i = 0; i < argv.length; i += 2) {
    const name = argv[i].replace(/^--/, '');
    if (argv[i + 1] === undefined) throw new Error(`missing value for ${argv[i]}`);
    options[name] = argv[i + 1];
  }
  for (const required of ['server', 'httpdocs', 'screenshots']) {
    if (!options[required]) throw new Error(`--${required} is required`);
  }
  return options;
}

function freeTcpPort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

function freeUdpPort() {
  return new Promise((resolve, reject) => {
    const socket = dgram.createSocket('udp4');
    socket.once('error', reject);
    socket.bind(0, '127.0.0.1', () => {
      const { port } = socket.address();
      socket.close(() => resolve(port));
    });
  });
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// The running server process, its folder and its ports.
class Server {
  constructor(options) {
    this.options = options;
    this.dir = fs.mkdtempSync(path.join(os.tmpdir(), 'voxhall-browser-'));
  }

  async start() {
    this.udpPort = await freeUdpPort();
    this.secondUdpPort = await freeUdpPort();
    this.httpPort = await freeTcpPort();
    fs.writeFileSync(path.join(this.dir, 'server.ini'), [
      '[Main Config]',
      `HTTPServer Port=${this.httpPort}`,
      'HTTPServer Enabled=1',
      'TCPQueryPort=0',
      'BoundToIp=127.0.0.1',
      'ExternalIPDectection=0',
      '[WebPost]',
      'Enabled=0',
      '[Servers]',
      '0=server_cfg Default',
      '1=server_cfg Second',
      '[server_cfg Default]',
      `ServerUDPPort=${this.udpPort}`,
      '[server_cfg Second]',
      'ServerName=Second Hall',
      `ServerUDPPort=${this.secondUdpPort}`,
      '',
    ].join('\n'));
    const stdout = fs.openSync(path.join(this.dir, 'stdout.txt'), 'w');
    const stderr = fs.openSync(path.join(this.dir, 'stderr.txt'), 'w');
    this.child = spawn(path.resolve(this.options.server),
      [`-httpdocs=${path.resolve(this.options.httpdocs)}`, `-adminpw=${ADMIN_PASSWORD}`],
      { cwd: this.dir, stdio: ['ignore', stdout, stderr] });
    this.exited = new Promise((resolve) => this.child.once('exit', (code, signal) => resolve({ code, signal })));
    this.spawnError = new Promise((resolve) => this.child.once('error', resolve));
    this.url = `http://127.0.0.1:${this.httpPort}`;
    const deadline = Date.now() + 30000;
    while (Date.now() < deadline) {
      if (this.child.exitCode !== null || this.child.pid === undefined) {
        const error = await Promise.race([this.spawnError, sleep(100)]);
        throw new Error(`server did not start: ${error ?? ''}\n${this.file('stderr.txt')}`);
      }
      try {
        const response = await fetch(`${this.url}/`);
        await response.arrayBuffer();
        if (response.ok) return;
      } catch { /* not listening yet */ }
      await sleep(100);
    }
    throw new Error('the web site did not come up within 30 s');
  }

  file(name) {
    try { return fs.readFileSync(path.join(this.dir, name), 'latin1'); } catch { return ''; }
  }

  startsLogged() {
    return this.file('server.log').split(`Starting server with port: ${this.udpPort}`).length - 1;
  }

  async stop() {
    if (!this.child || this.child.pid === undefined) return { code: null, signal: null };
    if (this.child.exitCode !== null || this.child.signalCode !== null) return this.exited;
    this.child.kill('SIGTERM');
    const timeout = sleep(30000).then(() => null);
    const result = await Promise.race([this.exited, timeout]);
    if (result === null) {
      this.child.kill('SIGKILL');
      throw new Error('server did not stop within 30 s of SIGTERM');
    }
    return result;
  }
}

// Seconds of an uptime text "[nD ]hh:mm:ss".
function uptimeSeconds(text) {
  const match = text.trim().match(/^(?:(\d+)D )?(\d+):(\d+):(\d+)$/);
  assert.ok(match, `uptime "${text}" has the form [nD ]hh:mm:ss`);
  const [, days = '0', hours, minutes, seconds] = match;
  return ((Number(days) * 24 + Number(hours)) * 60 + Number(minutes)) * 60 + Number(seconds);
}

async function main() {
  const options = parseArguments(process.argv.slice(2));
  // Screenshots of an earlier run would mix with this run's.
  fs.rmSync(options.screenshots, { recursive: true, force: true });
  fs.mkdirSync(options.screenshots, { recursive: true });
  const server = new Server(options);
  let browser;
  let passed = false;
  try {
    await server.start();
    browser = await chromium.launch({
      executablePath: options.chromium,
      headless: true,
      args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-dev-shm-usage'],
    });
    await runSite(browser, server, options.screenshots);
    await browser.close();
    browser = undefined;
    const { code, signal } = await server.stop();
    assert.equal(signal, null, 'server ended by a signal');
    assert.equal(code, 0, `server exit status\n${server.file('stderr.txt')}`);
    const log = server.file('server.log');
    assert.doesNotMatch(log, /Exception:/, 'the log holds no exception');
    passed = true;
  } finally {
    if (browser) await browser.close().catch(() => {});
    await server.stop().catch(() => {});
    if (passed) {
      fs.rmSync(server.dir, { recursive: true, force: true });
    } else {
      console.error(`server folder kept for inspection: ${server.dir}`);
      console.error(`--- server.log (end) ---\n${server.file('server.log').slice(-4000)}`);
    }
  }
  console.log(`browser test passed; screenshots in ${options.screenshots}`);
}

async function runSite(browser, server, shots) {
  const context = await browser.newContext({ baseURL: server.url, viewport: { width: 1280, height: 900 } });
  const page = await context.newPage();
  page.setDefaultTimeout(15000);
  // No page of the site may open a dialog: a script dialog would mean that
  // a value was inserted as markup.
  const dialogs = [];
  page.on('dialog', async (dialog) => {
    dialogs.push(dialog.message());
    await dialog.dismiss();
  });
  const pageErrors = [];
  page.on('pageerror', (error) => pageErrors.push(error.message));
  const outside = [];
  page.on('request', (request) => {
    const url = new URL(request.url());
    if (url.protocol.startsWith('http') && url.host !== new URL(server.url).host) outside.push(request.url());
  });

  let shot = 0;
  const screenshot = async (name) => {
    shot += 1;
    await page.screenshot({ path: path.join(shots, `${String(shot).padStart(2, '0')}-${name}.png`), fullPage: true });
  };
  const step = (text) => console.log(`- ${text}`);
  const box = async (kind, title, text) => {
    await page.waitForURL(new RegExp(`/${kind}_box\\.html\\?`));
    const section = page.locator(`.box-${kind}`);
    assert.equal((await section.locator('.title').textContent()).trim(), title);
    assert.equal((await section.locator('.text').textContent()).trim(), text);
  };
  // Fills and sends the add form of the account manager.
  const addAccount = async (name, password, again = password) => {
    await page.fill('input[name=CLIENTLOGINNAME]', name);
    await page.fill('input[name=CLIENTPW1]', password);
    await page.fill('input[name=CLIENTPW2]', again);
    await page.getByRole('button', { name: 'Add account' }).click();
  };
  const accountRow = (name) => page.locator('#accounts tbody tr').filter({
    has: page.locator('td.name', { hasText: new RegExp(`^${name.replace(/[.*+?^${}()|[\]\\]/g, '\\$&')}$`) }),
  });

  step('every page asks for a sign-in first');
  await page.goto('/index.html');
  await page.getByRole('heading', { name: 'Sign in' }).waitFor();
  await page.goto('/database_client_manager.html');
  await page.getByRole('heading', { name: 'Sign in' }).waitFor();
  const options = await page.locator('select[name=serverport] option').allTextContents();
  assert.deepEqual(options, [`${server.udpPort} server_cfg Default`, `${server.secondUdpPort} server_cfg Second`]);
  await screenshot('sign-in');

  step('a wrong password brings the sign-in page back');
  await page.fill('input[name=username]', 'admin');
  await page.fill('input[name=password]', 'not the password');
  await page.click('button[type=submit]');
  await page.waitForURL(/\/login\.html$/);
  await page.getByRole('heading', { name: 'Sign in' }).waitFor();

  step('sign in with the admin account and the server\'s UDP port');
  await page.fill('input[name=username]', 'admin');
  await page.fill('input[name=password]', ADMIN_PASSWORD);
  await page.selectOption('select[name=serverport]', String(server.udpPort));
  await page.click('button[type=submit]');
  await page.waitForURL(/\/index\.html$/);

  step('the overview shows the server\'s figures');
  assert.equal((await page.textContent('#server-name')).trim(), 'Voxhall Server');
  assert.equal((await page.textContent('#max-users')).trim(), '12');
  assert.match(await page.textContent('#users-online'), /^\s*0\s+of 12\s*$/);
  assert.match(await page.textContent('.context'), new RegExp(`UDP port\\s+${server.udpPort}`));
  assert.match(await page.textContent('.context'), /Signed in as\s+admin/);
  assert.equal(await page.inputValue('input[name=SERVERNAME]'), 'Voxhall Server');
  assert.equal(await page.inputValue('input[name=SERVERMAXUSERS]'), '12');
  for (const codec of ['Celp51', 'Celp63', 'GSM148', 'GSM164', 'WindowsCELP52']) {
    assert.ok(await page.isChecked(`input[name=CODEC${codec}]`), `codec ${codec} allowed by default`);
  }
  await screenshot('overview');
  await page.setViewportSize({ width: 390, height: 844 });
  await screenshot('overview-phone');
  await page.setViewportSize({ width: 1280, height: 900 });

  step('change the server name and the maximum users; the server restarts');
  await sleep(2200);
  await page.reload();
  const uptimeBefore = uptimeSeconds(await page.textContent('#uptime'));
  assert.ok(uptimeBefore >= 2, `uptime before the restart is ${uptimeBefore} s`);
  assert.equal(server.startsLogged(), 1);
  await page.fill('input[name=SERVERNAME]', 'Echo Hall & Friends');
  await page.fill('input[name=SERVERMAXUSERS]', '42');
  await page.getByRole('button', { name: 'Save and restart server' }).click();
  await box('ok', 'operation successfully', 'server config was changed and will be restarted now');
  await screenshot('settings-saved');
  for (let waited = 0; server.startsLogged() < 2 && waited < 5000; waited += 100) await sleep(100);
  assert.equal(server.startsLogged(), 2, 'the log shows the server starting a second time');
  await page.getByRole('link', { name: 'Continue' }).click();
  await page.waitForURL(/\/index\.html$/);
  assert.equal((await page.textContent('#server-name')).trim(), 'Echo Hall & Friends');
  assert.equal((await page.textContent('#max-users')).trim(), '42');
  assert.equal(await page.inputValue('input[name=SERVERMAXUSERS]'), '42');
  const uptimeAfter = uptimeSeconds(await page.textContent('#uptime'));
  assert.ok(uptimeAfter < uptimeBefore, `uptime ${uptimeAfter} s after the restart, ${uptimeBefore} s before`);
  assert.match(server.file('server.ini'), /ServerName=Echo Hall & Friends\r?\n/);
  assert.match(server.file('server.ini'), /ServerMaxUsers=42\r?\n/);
  await screenshot('overview-after-restart');

  step('the account manager lists the admin account');
  await page.getByRole('link', { name: 'Accounts' }).click();
  await page.waitForURL(/\/database_client_manager\.html$/);
  assert.equal(await accountRow('admin').count(), 1);
  await screenshot('accounts');

  step('passwords that differ give the error box');
  await addAccount('tester', 'one', 'two');
  await box('error', 'error occured', 'the passwords dont match');
  await screenshot('error-box');

  step('add an account');
  await page.goto('/database_client_manager.html');
  await addAccount('tester', 'secret');
  await box('ok', 'operation successfully', 'the user tester was added to server');
  await screenshot('account-added');
  await page.locator('.box').getByRole('link', { name: 'Accounts' }).click();
  await page.waitForURL(/\/database_client_manager\.html$/);
  assert.equal(await accountRow('tester').count(), 1);
  assert.match(await accountRow('tester').textContent(), /\badmin\b/, 'registered by admin');

  step('edit its rights');
  await accountRow('tester').getByRole('button', { name: 'Edit' }).click();
  await page.waitForURL(/\/database_client_manager_edit\.html\?client=tester$/);
  assert.equal((await page.textContent('#account-name')).trim(), 'tester');
  assert.equal(await page.isChecked('input[name=CLIENTSERVERADMIN]'), false);
  assert.equal(await page.isChecked('input[name=CLIENTSUPERSERVERADMIN]'), false);
  await page.check('input[name=CLIENTSERVERADMIN]');
  await screenshot('account-edit');
  await page.getByRole('button', { name: 'Save account' }).click();
  await box('ok', 'operation successfully', 'the user tester was edited');
  await page.goto('/database_client_manager_edit.html?client=tester');
  assert.equal(await page.isChecked('input[name=CLIENTSERVERADMIN]'), true, 'the right was stored');
  assert.equal(await page.isChecked('input[name=CLIENTSUPERSERVERADMIN]'), false);

  step('an account that does not exist shows a clear page');
  await page.goto('/database_client_manager_edit.html?client=nobody-by-this-name');
  await page.getByRole('heading', { name: 'No such account' }).waitFor();
  assert.equal(await page.locator('form[action="/edit_client.vhcmd"]').isVisible(), false);
  await screenshot('account-missing');

  step('delete it through the choice box');
  await page.goto('/database_client_manager.html');
  await accountRow('tester').getByRole('button', { name: 'Delete' }).click();
  await box('choice', 'please choose', 'you really want do delete tester');
  await screenshot('choice-box');
  await page.locator('#choice-yes').click();
  await box('ok', 'operation successfully', 'user tester deleted');
  await screenshot('account-deleted');
  await page.goto('/database_client_manager.html');
  assert.equal(await accountRow('tester').count(), 0);

  step('login names with markup and URL characters show as text and can be deleted');
  for (const name of ['<img src=x onerror=alert(1)>', 'a&b #1+c=d?']) {
    await addAccount(name, 'pw');
    await box('ok', 'operation successfully', `the user ${name} was added to server`);
    await page.goto('/database_client_manager.html');
    assert.equal(await accountRow(name).count(), 1, `row of ${name}`);
    assert.equal(await page.locator('#accounts img').count(), 0, 'no element was made from the name');
    if (name.startsWith('<')) await screenshot('accounts-markup-name');
    await accountRow(name).getByRole('button', { name: 'Edit' }).click();
    assert.equal((await page.textContent('#account-name')).trim(), name);
    await page.getByRole('button', { name: 'Delete this account' }).click();
    await box('choice', 'please choose', `you really want do delete ${name}`);
    await page.locator('#choice-yes').click();
    await box('ok', 'operation successfully', `user ${name} deleted`);
    await page.goto('/database_client_manager.html');
    assert.equal(await accountRow(name).count(), 0, `${name} is gone`);
  }

  step('the server drop-down switches to the other virtual server');
  await page.goto('/index.html');
  const switchCard = page.locator('.switch');
  assert.ok(await switchCard.isVisible(), 'the switch is offered with two servers');
  await switchCard.locator('select[name=serverport]').selectOption(String(server.secondUdpPort));
  await switchCard.locator('input[name=password]').fill(ADMIN_PASSWORD);
  await switchCard.getByRole('button', { name: 'Switch server' }).click();
  await page.waitForURL(/\/index\.html$/);
  assert.equal((await page.textContent('#server-name')).trim(), 'Second Hall');
  assert.match(await page.textContent('.context'), new RegExp(`UDP port\\s+${server.secondUdpPort}`));
  await screenshot('switched-server');

  step('sign out');
  await page.goto('/index.html');
  await page.getByRole('link', { name: 'Sign out' }).click();
  await page.waitForURL(/\/login\.html$/);
  await page.getByRole('heading', { name: 'Sign in' }).waitFor();
  await page.goto('/index.html');
  await page.getByRole('heading', { name: 'Sign in' }).waitFor();
  assert.equal(await page.locator('#server-name').count(), 0, 'no server data after signing out');
  await screenshot('signed-out');

  assert.deepEqual(dialogs, [], 'no page opened a dialog');
  assert.deepEqual(pageErrors, [], 'no script errors');
  assert.deepEqual(outside, [], 'no request left the server');
  await context.close();
}

main().catch((error) => {
  console.error(error);
  process.exitCode = 1;
});
