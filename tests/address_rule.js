// The address rule beside a browser's own parser: Node's URL (the WHATWG URL Standard) and the
// build's check of a built-in address (tarvo-stamp's rule, the launcher's host test) must agree
// on each table row, marked with Node's verdict, and on generated hosts that stay in ASCII.
// Usage: node address_rule.js CHECK_ADDRESS; TARVO_SEED=N repeats a run.
'use strict';
const table = `+desk.example.org/team -desk.example%20.org/team -desk.example.org:8o8o/team +desk.example.org:65535/
  -desk.example.org:65536/ -desk.example.org:99999/ +host:/ -10.0.0.256/ +0x7f.1/ +0X7f.1/ +1.0x100/ -a.1/ -08/
  -4294967296/ +0xffffffff/ -1.2.3.4.0/ -desk^example.org/ -a|b/ +a_b.example/ +%41.example/ -%2F/ -%2541/ -a%/ -[/
  +[::1]:8443/ +[::ffff:1.2.3.4]/ -[::1.2.3.04]/ -[1::2::3]/ -[1:2:3:4:5:6:7:8::]/ -[12345::]/ -[::1]x/ -@/team
  -me@/team +a@b@host/ +/desk.example.org/ +\\desk.example.org/ +./`.split(/\s+/).map((row) => [row[0] === '+', 'https://' + row.slice(1)]);

let seed = Number(process.env.TARVO_SEED || Date.now() % 2147483647) || 1;
const firstSeed = seed;
const random = (n) => (seed = (seed * 48271) % 2147483647) % n;
const pick = (...choices) => choices[random(choices.length)];
const hex = (n) => random(n).toString(16);
const ipv6 = () => {
  const groups = Array.from({ length: 1 + random(9) }, () => (random(5) ? hex(65536) : ''));
  if (!random(3)) groups[groups.length - 1] = `${random(300)}.${random(300)}.0.${pick('1', '01')}`;
  return `[${groups.join(':')}]`;
};
// Labels, numbers in three radixes, dots, escapes of ASCII, what no host may hold, user parts.
const piece = () => pick('desk', 'a', 'x1', '-', '_', String(random(2) ? random(300) : random(2 ** 33)),
  '0' + random(1000).toString(8), '0x' + hex(2 ** 32), '.', '%' + hex(128).padStart(2, '0'), '%g', '%', '^', '|', '<',
  ']', ':', '@', ipv6());
const generated = Array.from({ length: 4000 }, () => 'https://' +
  (random(4) ? Array.from({ length: 1 + random(5) }, piece).join('') : ipv6()) +
  pick('', ':' + random(100000), ':' + random(10) + 'x', '/team', '?q', '#f'))
  .filter((address) => address.length <= 180 && !/%[89a-f][0-9a-f]/i.test(address));  // outside ASCII: the browser's

const opens = (address) => URL.canParse(address);
const addresses = table.map(([, address]) => address).concat(generated);
const verdicts = require('child_process').spawnSync(process.argv[2], addresses, { encoding: 'utf8' }).stdout.split('\n');
const wrong = table.filter(([expected, address]) => opens(address) !== expected).map(([, a]) => `Node's URL: ${a}`)
  .concat(addresses.filter((address, i) => (verdicts[i] === 'ok') !== opens(address))
    .map((a) => `${a}: Node's URL ${opens(a) ? 'opens' : 'refuses'} it, ours says ${verdicts[addresses.indexOf(a)]}`));
if (verdicts.length !== addresses.length + 1) wrong.push(`the check answered ${verdicts.length - 1} of ${addresses.length}`);
wrong.forEach((failure) => console.log('FAIL: ' + failure));
console.log(`${wrong.length} wrong of ${addresses.length} (${table.length} rows, ${generated.length} generated, TARVO_SEED=${firstSeed})`);
process.exit(wrong.length ? 1 : 0);
