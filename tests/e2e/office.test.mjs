// Browser tests of the office system: a person signs in with headless
// Chromium and finds the menus their roles allow.
//
//   node office.test.mjs --url http://127.0.0.1:PORT/ --db DB --shots DIR
//
// Prints one line per test and a last line "e2e: N passed, M failed"; exits
// non-zero when a test failed.
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';

import {
  at, check, launch, leftCaptions, runTests, same, shot, sql, test, topCaptions, watchPolicy,
} from './harness.mjs';

// A browser of its own for each test: a fresh, empty profile folder. A
// policy violation or a console message on any of its pages fails the test.
async function withBrowser({ english = false } = {}, body) {
  const profile = mkdtempSync(path.join(tmpdir(), 'wrenhaven-chromium-'));
  const context = await launch(profile, {
    locale: english ? 'en-US' : 'zh-CN',
    extraHTTPHeaders: {
      'Accept-Language': english ? 'en-US,en;q=0.9' : 'zh-CN,zh;q=0.9',
    },
    viewport: { width: 1280, height: 800 },
  });
  const said = await watchPolicy(context);
  try {
    const page = context.pages()[0] ?? (await context.newPage());
    const result = await body(page, context);
    said.check('the pages of this test');
    return result;
  } finally {
    await context.close();
    rmSync(profile, { recursive: true, force: true });
  }
}

// Fills and sends the sign-in form; `thisWindow` leaves "oldwin" ticked.
async function signIn(page, account, password, { thisWindow = true } = {}) {
  await page.goto(at('/'));
  await page.fill('#LoginName', account);
  await page.fill('#LoginPwd', password);
  if (!thisWindow) await page.uncheck('#oldwin');
  await Promise.all([page.waitForNavigation(), page.click('button[type=submit]')]);
}

test('a wrong password shows the failure message and records one failed attempt', async () => {
  const before = Number(sql("SELECT COUNT(*) FROM HR_Login WHERE LoginAccount='ann' AND LoginOK=0"));
  await withBrowser({}, async (page) => {
    const messages = [];
    page.on('dialog', async (dialog) => {
      messages.push(dialog.message());
      await dialog.accept();
    });
    await signIn(page, 'ann', 'not-the-password');
    same(messages, ['登陆失败!'], 'the alert');
    check(await page.isVisible('#failed'), 'the failure notice is not shown');
    same(await page.inputValue('#LoginName'), 'ann', 'the account field');
    same(new URL(page.url()).pathname, '/', 'the address');
    await shot(page, 'signin-failed');
  });
  const after = Number(sql("SELECT COUNT(*) FROM HR_Login WHERE LoginAccount='ann' AND LoginOK=0"));
  same(after - before, 1, 'failed attempts recorded');
  same(sql("SELECT LoginIP FROM HR_Login WHERE LoginAccount='ann' AND LoginOK=0 ORDER BY LoginID DESC LIMIT 1"),
    '127.0.0.1', 'the recorded address');
});

test('the sixth wrong password is held back with the wait; the person\'s own browser still gets in', async () => {
  await withBrowser({}, async (own) => {
    await signIn(own, 'finn', 'finn123');
    check(/^\/MyOffice\/$/.test(new URL(own.url()).pathname), `finn landed on ${own.url()}`);
    await withBrowser({}, async (page) => {
      const messages = [];
      page.on('dialog', async (dialog) => {
        messages.push(dialog.message());
        await dialog.accept();
      });
      const statuses = [];
      for (let i = 0; i < 6; i += 1) {
        await page.goto(at('/'));
        await page.fill('#LoginName', 'finn');
        await page.fill('#LoginPwd', i < 5 ? `guess${i}` : 'finn123');
        const [answer] = await Promise.all([
          page.waitForNavigation(), page.click('button[type=submit]'),
        ]);
        statuses.push(answer.status());
      }
      same(statuses, [200, 200, 200, 200, 200, 429], 'the answers');
      check(await page.isVisible('#held-back'), 'the wait is not shown');
      check(!(await page.isVisible('#failed')), 'the plain failure notice is shown');
      check(/分钟后再试/.test(messages[5] ?? ''), `the alert: ${messages[5]}`);
      same(new URL(page.url()).pathname, '/', 'the address');
      await shot(page, 'signin-held-back');
    });
    await signIn(own, 'finn', 'finn123');
    check(/^\/MyOffice\/$/.test(new URL(own.url()).pathname), `the own browser landed on ${own.url()}`);
  });
  same(sql("SELECT COUNT(*) FROM HR_Login WHERE LoginAccount='finn' AND LoginOK=0"), '6', 'failures recorded');
});

test('a right password opens the main window', async () => {
  await withBrowser({}, async (page) => {
    await page.goto(at('/'));
    await shot(page, 'signin');
    await signIn(page, 'ann', 'ann123');
    check(/^\/MyOffice\/$/.test(new URL(page.url()).pathname), `landed on ${page.url()}`);
    check(/^\?\d+$/.test(new URL(page.url()).search), `no token in ${page.url()}`);
    same(await page.textContent('#person'), 'Ann Carter', 'the name');
    same(await page.textContent('#dept'), 'Management', 'the department');
    same(await topCaptions(page), ['办公', '财务', '项目', '销售', '系统管理'], 'the top menu');
    same(await leftCaptions(page), ['邮件', '日程', '文档', '公告'], 'the left menu');
    // The screen size went with the form into the login record.
    check(/^\d+\*\d+$/.test(sql("SELECT LoginScreen FROM HR_Login WHERE LoginAccount='ann' AND LoginOK=1 ORDER BY LoginID DESC LIMIT 1")),
      'no screen size recorded');
    // An entry opens its function page in the content area.
    await page.click('.leftmenu a[href="/apps/mail"]');
    const content = page.frame({ name: 'content' });
    await content.waitForURL(/\/apps\/mail$/);
    same(await content.textContent('h1'), 'Mail', 'the content page');
    await shot(page, 'office-ann');
    // Another top entry gives its own left menu.
    await Promise.all([page.waitForNavigation(), page.click('.topmenu a:has-text("财务")')]);
    same(await leftCaptions(page), ['报销', '预算'], 'the finance menu');
  });
});

test('two people with different roles see different menus', async () => {
  const menus = {};
  for (const [account, password] of [['ben', 'ben123'], ['cho', 'cho123']]) {
    await withBrowser({}, async (page) => {
      await signIn(page, account, password);
      menus[account] = await topCaptions(page);
      await shot(page, `office-${account}`);
    });
  }
  same(menus.ben, ['办公', '财务'], "ben's menu (Clerk)");
  same(menus.cho, ['办公', '项目'], "cho's menu (Engineer)");
});

test('an English browser gets the English captions', async () => {
  await withBrowser({ english: true }, async (page) => {
    await page.goto(at('/'));
    same(await page.textContent('button[type=submit]'), 'Sign in', 'the button');
    await signIn(page, 'dev', 'dev123');
    same(await topCaptions(page), ['Office', 'Finance', 'Projects'], 'the top menu');
    same(await leftCaptions(page), ['Mail', 'Calendar', 'Documents', 'Notices'], 'the left menu');
    same(await page.getAttribute('.topmenu a[data-menu="1"]', 'title'), 'Everyday office work', 'the tip');
    same(await page.textContent('#signout'), 'Sign out', 'the sign-out link');
    await shot(page, 'office-dev-english');
  });
});

test('a plain visit of the sign-in page signs out', async () => {
  await withBrowser({}, async (page) => {
    await signIn(page, 'eva', 'eva123');
    same(await page.textContent('#person'), 'Eva Lindqvist', 'the name');
    await Promise.all([page.waitForNavigation(), page.click('#signout')]);
    same(new URL(page.url()).pathname, '/', 'after signing out');
    await page.goto(at('/MyOffice/'));
    same(new URL(page.url()).pathname, '/', 'the main window sends back');
    check(await page.isVisible('#signin'), 'no sign-in form');
    same(await page.inputValue('#LoginName'), 'eva', 'the remembered name');
    await shot(page, 'signed-out');
  });
});

test('without "this window" the office opens in its own window', async () => {
  await withBrowser({}, async (page, context) => {
    const popup = context.waitForEvent('page');
    await signIn(page, 'jon', 'jon123', { thisWindow: false });
    const office = await popup;
    await office.waitForLoadState();
    check(/\/MyOffice\/\?\d+$/.test(office.url()), `the window shows ${office.url()}`);
    same(await office.evaluate(() => window.name), 'tessel', 'the window name');
    same(await office.textContent('#person'), 'Jon Mbeki', 'the name');
    // The sign-in page says where the office went.
    check(await page.isVisible('#opened'), 'no notice on the sign-in page');
    await shot(page, 'signin-opened');
  });
});

test('a person without roles signs in and sees no menu', async () => {
  await withBrowser({}, async (page) => {
    await signIn(page, 'hal', 'hal123');
    same(await topCaptions(page), [], 'the top menu');
    check(await page.isVisible('#no-menu'), 'no explanation shown');
  });
});

await runTests();
