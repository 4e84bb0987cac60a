// The accessibility audit: axe-core in headless Chromium over every kind
// of page the office shows (the sign-in page, the main window with its
// content pages, every administration page, the error pages), in both
// languages where a page has two. A violation of impact serious or
// critical fails the test that met it; the lesser ones are listed.
//
//   node audit.test.mjs --url http://127.0.0.1:PORT/ --db DB --shots DIR
//
// Runs after admin.test.mjs on the same server and database. Prints one
// line per test and a last line "e2e: N passed, M failed"; exits non-zero
// when a test failed.
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';

import {
  at, audit, check, launch, runTests, same, shot, sql, test, watchPolicy,
} from './harness.mjs';

// A browser of its own, in the language given; script dialogs are
// accepted and kept in `dialogs`. A policy violation or a console message
// on any of its pages fails the test, unless the test forgets it.
async function withBrowser(english, body) {
  const profile = mkdtempSync(path.join(tmpdir(), 'wrenhaven-chromium-'));
  const context = await launch(profile, {
    locale: english ? 'en-US' : 'zh-CN',
    extraHTTPHeaders: { 'Accept-Language': english ? 'en-US,en;q=0.9' : 'zh-CN,zh;q=0.9' },
    viewport: { width: 1360, height: 860 },
  });
  const dialogs = [];
  const said = await watchPolicy(context);
  try {
    const page = context.pages()[0] ?? (await context.newPage());
    page.on('dialog', (d) => { dialogs.push(d.message()); d.accept(); });
    const result = await body(page, dialogs, said);
    said.check('the pages of this test');
    return result;
  } finally {
    await context.close();
    rmSync(profile, { recursive: true, force: true });
  }
}

async function signIn(page, account) {
  await page.goto(at('/'));
  await page.fill('#LoginName', account);
  await page.fill('#LoginPwd', `${account}123`);
  await Promise.all([page.waitForNavigation(), page.click('button[type=submit]')]);
  same(new URL(page.url()).pathname, '/MyOffice/', `${account} signed in`);
}

// Opens `address` (expecting `status`) and audits it; the lesser findings
// go to `notes`.
async function visit(page, address, status, notes) {
  const response = await page.goto(at(address));
  same(response.status(), status, `the status of ${address}`);
  const lesser = await audit(page, address);
  if (lesser.length > 0) notes.push(`${address}: ${lesser.join(', ')}`);
}

function report(notes) {
  for (const note of notes) console.log(`  # lesser: ${note}`);
}

test('the sign-in page, plain, after a failed attempt and in English', async () => {
  const notes = [];
  await withBrowser(false, async (page, dialogs) => {
    await visit(page, '/', 200, notes);
    await page.fill('#LoginName', 'jon');
    await page.fill('#LoginPwd', 'not-his-password');
    await Promise.all([page.waitForNavigation(), page.click('button[type=submit]')]);
    same(dialogs.length, 1, 'the failure alert');
    check(await page.isVisible('#failed'), 'the failure notice is not shown');
    await audit(page, 'the sign-in page after a failure');
    await shot(page, 'audit-signin-failed');
  });
  await withBrowser(true, async (page) => visit(page, '/', 200, notes));
  report(notes);
});

test('the main window with its content pages, with menus and without', async () => {
  const notes = [];
  await withBrowser(false, async (page) => {
    await signIn(page, 'ann');
    await page.frame({ name: 'content' }).waitForLoadState();
    await audit(page, 'the main window of ann');
    await Promise.all([page.waitForNavigation(), page.click('.topmenu a[data-menu]:last-child')]);
    await audit(page, 'the main window on its last top entry');
    await visit(page, '/MyOffice/home', 200, notes);
    await visit(page, '/apps/mail', 200, notes);
  });
  await withBrowser(true, async (page) => {
    await signIn(page, 'hal');
    check(await page.isVisible('#no-menu'), 'hal sees a menu');
    await audit(page, 'the main window without menus');
    await visit(page, '/apps/mail', 403, notes);
  });
  report(notes);
});

// Every administration page that draws HTML, with the records of the
// earlier suites (the charts have bars to draw).
const ADMIN_PAGES = [
  '/admin/menus', '/admin/menus/new', '/admin/menus/new?parent=1', '/admin/menus/edit?id=2',
  '/admin/menus/delete?id=2', '/admin/functions', '/admin/functions/new',
  '/admin/functions/edit?id=1', '/admin/functions/delete?id=1', '/admin/roles',
  '/admin/roles/new', '/admin/roles/edit?id=2', '/admin/roles/delete?id=2',
  '/admin/logins', '/admin/logins/person?id=1', '/admin/logins/record?id=1',
  '/admin/attendance', '/admin/attendance?month=May&start=25:00', '/admin/rights',
  '/admin/rights/role?id=1', '/admin/rights/person?id=1',
];

test('every administration page in both languages', async () => {
  const failures = Number(sql('SELECT COUNT(*) FROM HR_Login WHERE LoginOK=0'));
  check(failures > 0, 'the earlier suites left no failed attempt to chart');
  for (const english of [true, false]) {
    const notes = [];
    await withBrowser(english, async (page) => {
      await signIn(page, 'ann');
      for (const address of ADMIN_PAGES) await visit(page, address, 200, notes);
      await page.goto(at('/admin/logins'));
      same(await page.$$eval('#day-chart g.bar', (bars) => bars.length), 30, 'day bars');
      same(await page.$$eval('#hour-chart g.bar', (bars) => bars.length), 24, 'hour bars');
      await shot(page, `audit-logins-${english ? 'en' : 'zh'}`);
    });
    report(notes);
  }
});

test('the error pages: not signed in, not allowed, not found, bad request', async () => {
  const notes = [];
  await withBrowser(true, async (page) => {
    await visit(page, '/admin/menus', 403, notes);
    await visit(page, '/no-such-page', 404, notes);
    await visit(page, '/static/no-such-file.css', 404, notes);
    await visit(page, '/MyOffice/?x=%FF', 400, notes);
    await signIn(page, 'ben');
    await visit(page, '/admin/logins', 403, notes);
    await visit(page, '/apps/projects', 403, notes);
  });
  await withBrowser(false, async (page) => {
    await signIn(page, 'ann');
    await visit(page, '/admin/no-such-page', 404, notes);
    await visit(page, '/admin/logins/record?id=999999', 404, notes);
  });
  report(notes);
});

// The audit reaches the page through the driver: the office's own policy,
// which keeps out every script but the office's own files and the hashed
// answer of a sign-in, does not stop it. A script element with text stands
// for what the policy blocks.
test('the audit runs under the Content-Security-Policy that blocks inline scripts', async () => {
  await withBrowser(true, async (page, dialogs, said) => {
    const response = await page.goto(at('/'));
    const policy = response.headers()['content-security-policy'] ?? '';
    check(/(^|; )script-src 'self'(;|$)/.test(policy), `the policy: ${policy}`);
    check(!/unsafe-inline/.test(policy), `the policy allows inline text: ${policy}`);
    const ran = await page.evaluate(() => {
      const s = document.createElement('script');
      s.textContent = 'window.inlineRan = true;';
      document.head.appendChild(s);
      return window.inlineRan === true;
    });
    check(!ran, 'an inline script ran: the policy was not in force');
    // The listener heard the violation; nothing else is expected.
    await page.waitForTimeout(200);
    let heard = '';
    try { said.check('the injected script'); } catch (e) { heard = e.message; }
    check(/policy violation .*script-src(-elem)? refused inline/.test(heard), `the violation was not reported: ${heard}`);
    said.forget();
    await audit(page, 'the sign-in page under the policy');
    same(await page.evaluate(() => typeof window.axe.run), 'function', 'axe in the page');
  });
});

await runTests();
