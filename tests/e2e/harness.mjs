// What the browser test files share: their command line, a headless
// Chromium with a profile of its own, checks, screenshots, the database,
// and the list of tests with the loop that runs them.
//
//   node NAME.test.mjs --url http://127.0.0.1:PORT/ --db DB --shots DIR
import { chromium } from 'playwright-core';
import { execFileSync } from 'node:child_process';
import { mkdirSync, readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';

export const options = {};
for (let i = 2; i < process.argv.length; i += 2) {
  options[process.argv[i].replace(/^--/, '')] = process.argv[i + 1];
}
for (const required of ['url', 'db', 'shots']) {
  if (!options[required]) {
    console.error(`missing --${required}`);
    console.log('e2e: 0 passed, 1 failed');
    process.exit(2);
  }
}
const base = new URL(options.url);
mkdirSync(options.shots, { recursive: true });

// The address of a page of the server under test.
export const at = (address) => new URL(address, base).href;

// Debian's Chromium, headless, in the profile folder given, with the
// settings given on top.
export async function launch(profile, settings) {
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: [
      '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic',
      '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync',
    ],
    ...settings,
  });
  context.setDefaultTimeout(15000);
  return context;
}

// Watches every page and frame of `context` for what the browser says
// about them: each Content-Security-Policy violation (the
// securitypolicyviolation event, listened for from the driver so that the
// policy cannot keep the listener out) and each console message. A page
// the test asked for that answered with an error status makes Chromium
// say so in the console; that one message, about the document itself, is
// what the test wanted and is left out. `check(what)` throws when anything
// else was said; `forget()` drops what was said so far.
export async function watchPolicy(context) {
  const said = [];
  await context.exposeBinding('wrenhavenPolicyViolation', ({ frame }, text) => {
    said.push(`policy violation in ${frame.url()}: ${text}`);
  });
  await context.addInitScript(() => {
    document.addEventListener('securitypolicyviolation', (e) => {
      window.wrenhavenPolicyViolation(`${e.effectiveDirective} refused ${e.blockedURI || 'inline'} at ${
        e.sourceFile}:${e.lineNumber} (${e.disposition}) ${e.sample}`);
    }, true);
  });
  const listen = (page) => page.on('console', (m) => {
    const where = m.location()?.url ?? '';
    const documents = page.frames().map((f) => f.url());
    if (/^Failed to load resource: the server responded with a status of [45]\d\d\b/.test(m.text())
        && documents.includes(where)) {
      return;
    }
    said.push(`console ${m.type()} in ${page.url()}: ${m.text()} (${where})`);
  });
  context.pages().forEach(listen);
  context.on('page', listen);
  return {
    check(what) {
      if (said.length > 0) throw new Error(`${what}: the browser said\n    ${said.join('\n    ')}`);
    },
    forget() { said.length = 0; },
  };
}

export function sql(query) {
  return execFileSync('sqlite3', [options.db, query], { encoding: 'utf8' }).trim();
}

export function check(condition, message) {
  if (!condition) throw new Error(message);
}

export function same(actual, expected, what) {
  const a = JSON.stringify(actual);
  const e = JSON.stringify(expected);
  if (a !== e) throw new Error(`${what}: got ${a}, expected ${e}`);
}

export async function shot(page, name) {
  await page.screenshot({ path: path.join(options.shots, `${name}.png`), fullPage: true });
}

export async function topCaptions(page) {
  return page.$$eval('.topmenu a span', (spans) => spans.map((s) => s.textContent));
}

export async function leftCaptions(page) {
  return page.$$eval('.leftmenu li span:not(.entry)', (spans) => spans.map((s) => s.textContent));
}

// axe-core's source, run in a page through the driver rather than as a
// script element of the page, so that a Content-Security-Policy cannot
// keep it out.
const axeSource = readFileSync(
  createRequire(import.meta.url).resolve('axe-core/axe.min.js'), 'utf8');

// The accessibility audit of the page as it stands, its frames included:
// throws when axe-core finds a violation of impact serious or critical,
// naming each rule with the elements; returns the lesser ones' rule names.
export async function audit(page, what) {
  for (const frame of page.frames()) {
    await frame.evaluate(axeSource);
  }
  const results = await page.evaluate(() => window.axe.run(document, { resultTypes: ['violations'] }));
  const grave = results.violations.filter((v) => v.impact === 'serious' || v.impact === 'critical');
  if (grave.length > 0) {
    const described = grave.map((v) => `${v.id} (${v.impact}): ${v.help}\n      at ${
      v.nodes.slice(0, 5).map((n) => n.target.join(' > ')).join('\n         ')}`);
    throw new Error(`${what}: ${grave.length} serious or critical violation(s)\n    ${described.join('\n    ')}`);
  }
  return results.violations.map((v) => `${v.id} (${v.impact})`);
}

const tests = [];
export const test = (name, body) => tests.push({ name, body });

// Runs the tests in the order given, one line each, then the sum; exits
// non-zero when one failed.
export async function runTests() {
  let passed = 0;
  let failed = 0;
  for (const { name, body } of tests) {
    try {
      await body();
      passed += 1;
      console.log(`ok - ${name}`);
    } catch (error) {
      failed += 1;
      console.log(`not ok - ${name}\n  ${String(error?.stack ?? error).split('\n').join('\n  ')}`);
    }
  }
  console.log(`e2e: ${passed} passed, ${failed} failed`);
  process.exit(failed === 0 ? 0 : 1);
}
