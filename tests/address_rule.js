// The address rule beside a browser's own parser: Node's URL, an implementation of the WHATWG
// URL Standard, and tarvo-stamp's rule for a built-in address (the build's check, whose host
// test is the launcher's) must agree on every row of the table and on generated hosts.
// Usage: node address_rule.js CHECK_ADDRESS; TARVO_SEED=N repeats a run.
'use strict';
const { spawnSync } = require('child_process');

// Each entry with what Node's URL says of it: typos a user makes, hosts a browser opens.
const table = [
  ['https://desk.example.org/team', true], ['https://desk.example%20.org/team', false],
  ['https://desk.example.org:8o8o/team', false], ['https://desk.example.org:65535/', true],
  ['https://desk.example.org:65536/', false], ['https://desk.example.org:99999/', false], ['https://host:/', true],
  ['https://10.0.0.256/', false], ['https://0x7f.1/', true], ['https://1.0x100/', true], ['https://a.1/', false],
  ['https://08/', false], ['https://4294967296/', false], ['https://0xffffffff/', true], ['https://1.2.3.4.5/', false],
  ['https://desk^example.org/', false], ['https://a|b/', false], ['https://a_b.example/', true],
  ['https://%41.example/', true], ['https://%2F/', false], ['https://%2541/', false], ['https://a%/', false],
  ['https://[/', false], ['https://[::1]:8443/', true], ['https://[::ffff:1.2.3.4]/', true],
  ['https://[::1.2.3.04]/', false], ['https://[1::2::3]/', false], ['https://[1:2:3:4:5:6:7:8::]/', false],
  ['https://[::1]x/', false], ['https://@/team', false], ['https://me@/team', false], ['https://a@b@host/', true],
  ['https:///desk.example.org/', true], ['https://\\desk.example.org/', true], ['https://./', true],
];

// Hosts built of the pieces a host parser can trip on: labels, numbers in three radixes, dots,
// percent escapes of ASCII, characters no host may hold, IPv6 literals, user parts and ports.
let seed = Number(process.env.TARVO_SEED || Date.now() % 2147483647) || 1;
const firstSeed = seed;
const random = (n) => (seed = (seed * 48271) % 2147483647) % n;
const pick = (items) => items[random(items.length)]();
const hex = (n) => random(n).toString(16);
const ipv6 = () => {
  const groups = Array.from({ length: 1 + random(9) }, () => (random(5) ? hex(65536) : ''));
  if (random(3) === 0) groups[groups.length - 1] = `${random(300)}.${random(300)}.0.${pick([() => '1', () => '01'])}`;
  return '[' + groups.join(':') + ']';
};
const piece = [
  () => pick([() => 'desk', () => 'a', () => 'x1', () => '-', () => '_']),
  () => String(random(2) ? random(300) : random(2 ** 33)), () => '0' + random(1000).toString(8),
  () => '0x' + hex(2 ** 32), () => '.', () => '%' + hex(128).padStart(2, '0'), () => pick([() => '%g', () => '%']),
  () => pick([() => '^', () => '|', () => '<', () => ']', () => ':', () => '@']),
  ipv6,
];
const ending = [() => '', () => ':' + random(100000), () => ':' + random(10) + 'x', () => '/team', () => '?q', () => '#f'];
const generated = Array.from({ length: 4000 }, () => {
  const host = random(4) ? Array.from({ length: 1 + random(5) }, () => pick(piece)).join('') : ipv6();
  return 'https://' + host + pick(ending);
  // An escape of a byte outside ASCII is left to the browser's international-name rules.
}).filter((address) => address.length <= 180 && !/%[89a-f][0-9a-f]/i.test(address));

const opens = (address) => {
  try {
    new URL(address);
    return true;
  } catch {
    return false;
  }
};

const addresses = table.map(([address]) => address).concat(generated);
const run = spawnSync(process.argv[2], addresses, { encoding: 'utf8' });
const verdicts = run.stdout.split('\n');
let failures = 0;
const fail = (message) => {
  failures++;
  console.log('FAIL: ' + message);
};
if (verdicts.length !== addresses.length + 1) fail(`the check answered ${verdicts.length - 1} of ${addresses.length}: ${run.stderr}`);
table.forEach(([address, expected]) => {
  if (opens(address) !== expected) fail(`Node's URL ${expected ? 'refuses' : 'accepts'} ${address}`);
});
addresses.forEach((address, i) => {
  const accepted = verdicts[i] === 'ok';
  if (accepted !== opens(address)) fail(`${address}: Node's URL ${opens(address) ? 'opens' : 'refuses'} it, ours says ${verdicts[i]}`);
});
console.log(`${addresses.length - failures} of ${addresses.length} agree (${table.length} rows, ${generated.length} generated, TARVO_SEED=${firstSeed})`);
process.exit(failures === 0 ? 0 : 1);
