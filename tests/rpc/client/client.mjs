// Drives the remote control as aria2 clients do, with the aria2 package from npm:
//   node client.mjs http|ws PORT SECRET QUICK_URL SLOW_URL
// Adds QUICK_URL and waits for it to complete; adds SLOW_URL, pauses, unpauses and removes it;
// over WebSocket also waits for the notifications of each step. Exits 1 with the reason on the
// first answer that is not what an aria2 client expects.
import Aria2 from 'aria2';

const [mode, port, secret, quickUrl, slowUrl] = process.argv.slice(2);
const aria2 = new Aria2({ host: '127.0.0.1', port: Number(port), secure: false, secret, path: '/jsonrpc' });
const heard = new Set();

function fail(why) {
  console.error(`${mode}: ${why}`);
  process.exit(1);
}

async function until(what, check) {
  for (let i = 0; i < 600; ++i) {
    if (await check()) return;
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
  fail(`never ${what}`);
}

const statusOf = async (gid) => (await aria2.call('tellStatus', gid, ['status'])).status;

if (mode === 'ws') {
  await aria2.open();
  for (const name of await aria2.listNotifications()) {
    aria2.on(name, ([{ gid }]) => heard.add(`${name} ${gid}`));
  }
}
const version = await aria2.call('getVersion');
if (typeof version.version !== 'string') fail(`getVersion: ${JSON.stringify(version)}`);

const quick = await aria2.call('addUri', [quickUrl]);
if (!/^[0-9a-f]{16}$/.test(quick)) fail(`addUri answered ${JSON.stringify(quick)}`);
await until('complete', async () => (await statusOf(quick)) === 'complete');

const slow = await aria2.call('addUri', [slowUrl], { split: '2' });
await until('active', async () => (await statusOf(slow)) === 'active');
await aria2.call('pause', slow);
await until('paused', async () => (await statusOf(slow)) === 'paused');
await aria2.call('unpause', slow);
await until('active again', async () => (await statusOf(slow)) === 'active');
await aria2.call('remove', slow);
await until('removed', async () => (await statusOf(slow)) === 'removed');

const stopped = await aria2.call('tellStopped', 0, 10, ['gid', 'status']);
for (const [gid, status] of [[quick, 'complete'], [slow, 'removed']]) {
  if (!stopped.some((s) => s.gid === gid && s.status === status)) {
    fail(`tellStopped lacks ${gid} ${status}: ${JSON.stringify(stopped)}`);
  }
}
try {
  await aria2.call('tellStatus', 'ffffffffffffffff');
  fail('an unknown GID was answered');
} catch (error) {
  if (!/not found/.test(error.message)) fail(`unknown GID: ${error.message}`);
}

if (mode === 'ws') {
  const expected = [
    `onDownloadComplete ${quick}`, `onDownloadStart ${slow}`, `onDownloadPause ${slow}`,
    `onDownloadStop ${slow}`,
  ];
  await until(`heard ${expected}`, async () => expected.every((e) => heard.has(e)));
  await aria2.close();
}
console.log(`${mode}: ok`);
