// Browser tests of the administration pages: an administrator keeps the
// menu tree, the catalogues and the rights in headless Chromium, and reads
// the login records; other people are turned away.
//
//   node admin.test.mjs --url http://127.0.0.1:PORT/ --db DB --shots DIR
//
// Runs after office.test.mjs on the same server and database. Prints one
// line per test and a last line "e2e: N passed, M failed"; exits non-zero
// when a test failed.
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import http from 'node:http';
import { tmpdir } from 'node:os';
import path from 'node:path';

import {
  at, check, launch, leftCaptions, runTests, same, shot, sql, test, topCaptions, watchPolicy,
} from './harness.mjs';

// A browser of its own for each person: a fresh, empty profile folder.
// Pages in English; a script dialog anywhere fails the test, since no
// administration page opens one and typed values must never run, and so
// does a policy violation or a console message.
async function withBrowser(body) {
  const profile = mkdtempSync(path.join(tmpdir(), 'wrenhaven-chromium-'));
  const downloads = mkdtempSync(path.join(tmpdir(), 'wrenhaven-downloads-'));
  const context = await launch(profile, {
    locale: 'en-US',
    acceptDownloads: true,
    downloadsPath: downloads,
    extraHTTPHeaders: { 'Accept-Language': 'en-US,en;q=0.9' },
    viewport: { width: 1360, height: 860 },
  });
  const dialogs = [];
  context.on('page', (p) => p.on('dialog', (d) => { dialogs.push(d.message()); d.dismiss(); }));
  const said = await watchPolicy(context);
  try {
    const page = context.pages()[0] ?? (await context.newPage());
    page.on('dialog', (d) => { dialogs.push(d.message()); d.dismiss(); });
    const result = await body(page, context);
    if (dialogs.length > 0) throw new Error(`a script dialog opened: ${JSON.stringify(dialogs)}`);
    said.check('the pages of this test');
    return result;
  } finally {
    await context.close();
    rmSync(profile, { recursive: true, force: true });
    rmSync(downloads, { recursive: true, force: true });
  }
}

// A text as an SQL literal.
function lit(text) {
  return `'${text.replaceAll("'", "''")}'`;
}

async function signIn(page, account, password) {
  await page.goto(at('/'));
  await page.fill('#LoginName', account);
  await page.fill('#LoginPwd', password);
  await Promise.all([page.waitForNavigation(), page.click('button[type=submit]')]);
  check(new URL(page.url()).pathname === '/MyOffice/', `${account} did not get in: ${page.url()}`);
}

// Sends a form of an administration page and waits for the page after it.
async function submit(where, selector = '#submit') {
  await Promise.all([where.waitForNavigation(), where.click(selector)]);
}

// The menu tree as "level:caption" in the order shown.
async function tree(where) {
  return where.$$eval('#tree tbody tr', (rows) => rows.map(
    (r) => `${r.dataset.level}:${r.querySelector('.caption').textContent}`));
}

const ADMIN_PAGES = [
  '/admin/menus', '/admin/menus/new', '/admin/menus/edit?id=2', '/admin/menus/delete?id=2',
  '/admin/functions', '/admin/functions/new', '/admin/functions/edit?id=1',
  '/admin/functions/delete?id=1', '/admin/roles', '/admin/roles/edit?id=2',
  '/admin/logins', '/admin/logins/person?id=1', '/admin/logins/record?id=1',
  '/admin/attendance', '/admin/attendance/csv', '/admin/rights',
  '/admin/rights/role?id=1', '/admin/rights/person?id=1', '/admin/sessions',
  '/admin/audit', '/admin/audit/csv',
];

test('an administrator adds a first-level menu and a sub-menu, and the tree shows them in order', async () => {
  await withBrowser(async (page) => {
    await signIn(page, 'ann', 'ann123');
    // Through the main window: Administration, then Menus in the content area.
    await Promise.all([page.waitForNavigation(), page.click('.topmenu a:has-text("Administration")')]);
    same(await leftCaptions(page), ['Menus', 'Functions', 'Roles', 'Rights', 'Login records', 'Attendance', 'Sessions', 'Audit trail'],
      'the administration menu');
    await page.click('.leftmenu a[href="/admin/menus"]');
    const frame = page.frame({ name: 'content' });
    await frame.waitForURL(/\/admin\/menus$/);
    same(await frame.textContent('h1'), 'Menus', 'the page');

    await Promise.all([frame.waitForNavigation(), frame.click('#add-first')]);
    await frame.fill('#f-MenuName', '报表');
    await frame.fill('#f-MenuEnglish', 'Reports');
    await frame.fill('#f-MenuEnglishTip', 'Figures "per month", <b>not</b> = where');
    await frame.fill('#f-MenuIcon', 'list.gif');
    await frame.fill('#f-MenuOrder', '5');
    same(await frame.inputValue('#f-MenuParentID'), '', 'the parent of a first-level menu');
    await submit(frame);
    same(await frame.textContent('#notice'), 'Added.', 'the notice');
    const reports = sql("SELECT MenuID FROM SYS_Menu WHERE MenuEnglish='Reports'");
    check(reports !== '', 'no menu in the database');
    same(sql(`SELECT MenuEnglishTip FROM SYS_Menu WHERE MenuID=${reports}`),
      'Figures "per month", <b>not</b> = where', 'the stored tip');

    await Promise.all([frame.waitForNavigation(), frame.click(`tr[data-id="${reports}"] a.add-child`)]);
    same(await frame.inputValue('#f-MenuParentID'), reports, 'the parent chosen');
    await frame.fill('#f-MenuName', '月报');
    await frame.fill('#f-MenuEnglish', 'Monthly report');
    await frame.fill('#f-MenuOrder', '1');
    await frame.selectOption('#f-FunID', { label: 'Documents  (/apps/documents)' });
    await submit(frame);
    same(await frame.textContent('#notice'), 'Added.', 'the notice');

    // The page opens the branch of the new menu, below the first level.
    await frame.waitForURL(new RegExp(`/admin/menus\\?branch=${reports}&done=added$`));
    const rows = await tree(frame);
    const i = rows.indexOf('1:报表');
    check(i > 0, `the new menu is not in the tree: ${rows}`);
    same(rows.slice(i - 1, i + 3), ['1:销售', '1:报表', '2:月报', '1:系统管理'],
      'the tree around the new menus');
    same(rows.filter((r) => r.startsWith('2:')), ['2:月报'], 'one branch open');
    // Another branch: Sales and its two menus, Reports closed.
    await Promise.all([frame.waitForNavigation(), frame.click('tr[data-id="12"] a.branch')]);
    const sales = await tree(frame);
    const j = sales.indexOf('1:销售');
    same(sales.slice(j, j + 4), ['1:销售', '2:客户', '2:订单', '1:报表'], 'the branch of Sales');
    await shot(page, 'admin-menus');
  });
});

test('a menu granted to a role shows for a person of that role', async () => {
  const reports = sql("SELECT MenuID FROM SYS_Menu WHERE MenuEnglish='Reports'");
  const monthly = sql("SELECT MenuID FROM SYS_Menu WHERE MenuEnglish='Monthly report'");
  check(reports !== '' && monthly !== '', 'the menus of the first test are missing');
  await withBrowser(async (page) => {
    await signIn(page, 'ivy', 'ivy123');
    await page.goto(at('/admin/rights'));
    await Promise.all([page.waitForNavigation(), page.click('#roles a:has-text("Sales")')]);
    // The first level alone; Sales' own branch holds its grants.
    same((await page.$$('input[name=menu][value="13"]')).length, 0, 'a branch shown before it is opened');
    await Promise.all([page.waitForNavigation(), page.click('#branches a:has-text("销售")')]);
    check(await page.isChecked('input[name=menu][value="13"]'), 'the grants of Sales are not ticked');
    await Promise.all([page.waitForNavigation(), page.click('#branches a:has-text("报表")')]);
    check(!(await page.isChecked(`input[name=menu][value="${reports}"]`)), 'granted already');
    check(await page.isChecked('input[name=menu][value="12"]'), 'the first level is not ticked');
    await page.check(`input[name=menu][value="${reports}"]`);
    await page.check(`input[name=menu][value="${monthly}"]`);
    await shot(page, 'admin-rights-role');
    await submit(page);
    same(await page.textContent('#notice'), 'Saved.', 'the notice');
  });
  same(sql(`SELECT COUNT(*) FROM SYS_right WHERE roleID=5 AND menuID IN (${reports},${monthly})`), '2',
    'the grants');
  same(sql('SELECT COUNT(*) FROM SYS_right WHERE roleID=5 AND menuID IN (13,14)'), '2',
    'the grants of the branch not on the form');
  await withBrowser(async (page) => {
    await signIn(page, 'eva', 'eva123');
    same(await topCaptions(page), ['Office', 'Sales', 'Reports'], "eva's top menu");
    await Promise.all([page.waitForNavigation(), page.click('.topmenu a:has-text("Reports")')]);
    same(await leftCaptions(page), ['Monthly report'], 'the left menu');
    same(await page.getAttribute('.leftmenu a[data-menu]', 'href'), '/apps/documents', 'the link');
    await shot(page, 'office-eva-reports');
  });
});

test('a person given a role sees its menus at the next page, without signing in again', async () => {
  try {
    await withBrowser(async (hal) => {
      await signIn(hal, 'hal', 'hal123');
      same(await topCaptions(hal), [], "hal's menu before");
      await withBrowser(async (page) => {
        await signIn(page, 'ann', 'ann123');
        await page.goto(at('/admin/rights'));
        await Promise.all([page.waitForNavigation(), page.click('#people a:has-text("Hal Becker")')]);
        same(await page.$$eval('input[name=role]:checked', (boxes) => boxes.length), 0, 'roles ticked');
        await page.check('label:has-text("Engineer") input');
        await submit(page);
        same(await page.textContent('#notice'), 'Saved.', 'the notice');
        check(await page.isChecked('label:has-text("Engineer") input'), 'Engineer is not ticked');
        await shot(page, 'admin-rights-person');
      });
      same(sql('SELECT RoleID FROM SYS_PersonRole WHERE PersonID=8'), '4', 'the stored role');
      // The open session follows the change at its next page.
      await hal.reload();
      same(await topCaptions(hal), ['Office', 'Projects'], "hal's menu in the same session");
      await signIn(hal, 'hal', 'hal123');
      same(await topCaptions(hal), ['Office', 'Projects'], "hal's menu after signing in again");
    });
  } finally {
    sql('DELETE FROM SYS_PersonRole WHERE PersonID=8');
  }
});

test('an administrator edits and deletes a function, values shown as typed', async () => {
  const name = `Budgets "2025" <script>alert('x')</script>`;
  const memo = "Dept's ,, budgets = where";
  await withBrowser(async (page) => {
    await signIn(page, 'ann', 'ann123');
    await page.goto(at('/admin/functions?size=20'));
    const row = 'tr:has(td:text-is("Budgets"))';
    const id = await page.getAttribute(row, 'data-id');
    same(id, '6', 'the row of Budgets');
    await Promise.all([page.waitForNavigation(), page.click(`${row} a.edit`)]);
    same(await page.inputValue('#f-FunUrl'), '/apps/budgets', 'the address in the form');
    await page.fill('#f-FunName', name);
    await page.fill('#f-FunMemo', memo);
    await page.fill('#f-FunOrder', 'second');
    await submit(page);
    // The library refuses an order that is no number; the form keeps it all.
    check((await page.textContent('#error')).includes('FunOrder'), 'no error shown');
    same(await page.inputValue('#f-FunName'), name, 'the name kept');
    same(await page.inputValue('#f-FunOrder'), 'second', 'the order kept');
    await page.fill('#f-FunOrder', '');
    await submit(page);
    same(await page.textContent('#notice'), 'Saved.', 'the notice');
    same(sql('SELECT FunName FROM SYS_Function WHERE FunID=6'), name, 'the stored name');
    same(sql('SELECT FunMemo FROM SYS_Function WHERE FunID=6'), memo, 'the stored memo');
    same(sql('SELECT FunOrder IS NULL FROM SYS_Function WHERE FunID=6'), '1', 'the order cleared');
    const cells = await page.$$eval('tr[data-id="6"] td', (tds) => tds.map((td) => td.textContent));
    same(cells.slice(0, 7), ['6', name, memo, '2', '', 'Finance', '/apps/budgets'], 'the row shown');
    await shot(page, 'admin-functions');

    await Promise.all([page.waitForNavigation(), page.click('tr[data-id="6"] a.delete')]);
    same(await page.textContent('#what'), name, 'what is to be deleted');
    await submit(page, '#confirm');
    same(await page.textContent('#notice'), 'Deleted.', 'the notice');
    same(await page.$$eval('tr[data-id="6"]', (rows) => rows.length), 0, 'the row after deleting');
  });
  same(sql('SELECT COUNT(*) FROM SYS_Function WHERE FunID=6'), '0', 'the function in the database');
});

test('an administrator pages through 25 roles 10 at a time', async () => {
  const values = [];
  for (let i = 1; i <= 19; i += 1) values.push(`('Team ${String(i).padStart(2, '0')}','Teams')`);
  sql(`INSERT INTO SYS_Role (RoleName, RoleClass) VALUES ${values.join(',')}`);
  const odd = `Q&A's "<i>team</i>" ,, = where`;
  try {
    await withBrowser(async (page) => {
      await signIn(page, 'ann', 'ann123');
      await page.goto(at('/admin/roles/new'));
      await page.fill('#f-RoleName', odd);
      await page.selectOption('#f-RoleParentID', { label: 'Manager' });
      await page.fill('#f-roleLevel', '3');
      await page.fill('#f-roleClass', 'Teams');
      await page.fill('#f-roleMemo', '(,) memo');
      await submit(page);
      same(await page.textContent('#notice'), 'Added.', 'the notice');
      same(sql("SELECT COUNT(*) FROM SYS_Role"), '25', 'roles in all');

      await page.selectOption('#size', '10');
      await submit(page, '#size-form button');
      const names = async () => page.$$eval('#list tbody tr td:nth-child(2)', (tds) => tds.map((td) => td.textContent));
      const seen = [];
      const first = await names();
      same(first.length, 10, 'rows on page 1');
      same(await page.textContent('#of'), 'Page 1 / 3', 'page 1');
      seen.push(...first);
      await submit(page, '#next');
      const second = await names();
      same(second.length, 10, 'rows on page 2');
      seen.push(...second);
      await submit(page, '#next');
      const third = await names();
      same(third.length, 5, 'rows on page 3');
      seen.push(...third);
      same(await page.textContent('#of'), 'Page 3 / 3', 'page 3');
      same(await page.$$eval('#next', (n) => n.length), 0, 'a next link on the last page');
      same(new Set(seen).size, 25, 'different roles on the pages');
      check(seen.includes(odd), `the typed name is not shown as typed: ${seen}`);
      const row = await page.$$eval('#list tbody tr', (rows, wanted) => {
        const r = rows.find((tr) => tr.children[1].textContent === wanted);
        return r ? [...r.children].slice(1, 6).map((td) => td.textContent) : null;
      }, odd);
      same(row, [odd, 'Manager', '3', 'Teams', '(,) memo'], 'the new role row');
      await shot(page, 'admin-roles');
      await submit(page, '#prev');
      same(await page.textContent('#of'), 'Page 2 / 3', 'back to page 2');
      same(await names(), second, 'page 2 again');
    });
  } finally {
    sql("DELETE FROM SYS_Role WHERE RoleClass='Teams'");
  }
});

test('the month view shows the earlier of two sign-ins and marks it late', async () => {
  for (let i = 0; i < 2; i += 1) {
    await withBrowser(async (page) => signIn(page, 'gia', 'gia123'));
  }
  const ids = sql('SELECT LoginID FROM HR_Login WHERE personID=7 AND LoginOK=1 ORDER BY LoginID').split('\n');
  same(ids.length, 2, "gia's sign-ins");
  // The two sign-ins happened a moment ago; they are put at fixed times of
  // today, so that the view does not depend on the hour the test runs
  // (sign-ins before 06:00 are not counted).
  sql(`UPDATE HR_Login SET loginTime=date('now','localtime') || ' 08:12:30' WHERE LoginID=${ids[0]}`);
  sql(`UPDATE HR_Login SET loginTime=date('now','localtime') || ' 09:47:05' WHERE LoginID=${ids[1]}`);
  const today = Number(sql("SELECT strftime('%d','now','localtime')"));
  const month = sql("SELECT strftime('%Y-%m','now','localtime')");
  await withBrowser(async (page) => {
    await signIn(page, 'ann', 'ann123');
    await Promise.all([page.waitForNavigation(), page.click('.topmenu a:has-text("Administration")')]);
    await page.click('.leftmenu a[href="/admin/attendance"]');
    const frame = page.frame({ name: 'content' });
    await frame.waitForURL(/\/admin\/attendance$/);
    same(await frame.textContent('h1'), `Attendance ${month}`, 'the month shown');
    const cell = `tr[data-person="7"] td:nth-of-type(${today})`;
    same(await frame.textContent(cell), '08:12', "gia's first sign-in today");
    same(await frame.getAttribute(cell, 'title'), '2 sign-ins that day', 'the count');
    check(!((await frame.getAttribute(cell, 'class')) ?? '').includes('late'), 'late at 09:00');
    // A start of the day at 08:00 makes it late.
    await frame.fill('#start', '08:00');
    await Promise.all([frame.waitForNavigation(), frame.click('#month-form button')]);
    check((await frame.getAttribute(cell, 'class')).includes('late'), 'not marked late at 08:00');
    same(await frame.textContent('tr[data-person="7"] th'), 'Gia Romano', 'the row');
    await shot(page, 'admin-attendance');
    await Promise.all([frame.waitForNavigation(), frame.click('#prev-month')]);
    check((await frame.textContent('h1')) !== `Attendance ${month}`, 'the previous month');
  });
});

test('the month view downloads as CSV', async () => {
  const today = Number(sql("SELECT strftime('%d','now','localtime')"));
  await withBrowser(async (page) => {
    await signIn(page, 'ann', 'ann123');
    await page.goto(at('/admin/attendance?start=08:30'));
    const [download] = await Promise.all([page.waitForEvent('download'), page.click('#csv')]);
    const month = sql("SELECT strftime('%Y-%m','now','localtime')");
    same(download.suggestedFilename(), `attendance-${month}.csv`, 'the file name');
    const text = readFileSync(await download.path(), 'utf8');
    const lines = text.replace(/^\uFEFF/, '').split('\r\n');
    const days = Number(sql("SELECT strftime('%d', date('now','localtime','start of month','+1 month','-1 day'))"));
    const header = ['Department', 'Person'];
    for (let d = 1; d <= days; d += 1) header.push(String(d));
    header.push('Late days');
    same(lines[0], header.join(','), 'the header');
    const gia = lines.find((l) => l.startsWith('Finance,Gia Romano,'));
    check(gia, `no row for gia in ${JSON.stringify(lines)}`);
    const cells = gia.split(',');
    same(cells[1 + today], '08:12', "gia's time today");
    same(cells.at(-1), '0', 'late days at 08:30');
    same(lines.at(-1), '', 'the last line ends');
  });
});

test('people without the administrator role get 403 on every administration page', async () => {
  await withBrowser(async (page) => {
    for (const address of ADMIN_PAGES) {
      const response = await page.goto(at(address));
      same(response.status(), 403, `${address} before signing in`);
    }
    await signIn(page, 'ben', 'ben123');
    same(await topCaptions(page), ['Office', 'Finance'], "ben's menu");
    for (const address of ADMIN_PAGES) {
      const response = await page.goto(at(address));
      same(response.status(), 403, `${address} for ben`);
      same(await page.textContent('#message'), 'Your roles do not allow this administration page.', 'the message');
    }
    await shot(page, 'admin-forbidden');
  });
});

test('a cross-site post without the token changes nothing', async () => {
  // Another site on this machine whose page posts to the office as soon as
  // it is opened, in the browser of a signed-in administrator.
  const target = at('/admin/menus/delete');
  const site = http.createServer((req, res) => {
    const token = req.url.includes('guess') ? '<input type="hidden" name="token" value="' + '0'.repeat(64) + '">' : '';
    res.writeHead(200, { 'Content-Type': 'text/html' });
    res.end(`<!DOCTYPE html><form id="f" method="post" action="${target}">
      <input type="hidden" name="id" value="2">${token}</form>
      <script>document.getElementById('f').submit()</script>`);
  });
  await new Promise((resolve) => site.listen(0, '127.0.0.1', resolve));
  const elsewhere = `http://127.0.0.1:${site.address().port}/`;
  try {
    await withBrowser(async (page) => {
      await signIn(page, 'ann', 'ann123');
      for (const variant of ['', 'guess']) {
        const [response] = await Promise.all([
          page.waitForResponse((r) => r.url() === target),
          page.goto(elsewhere + variant),
        ]);
        same(response.status(), 403, `the forged post (${variant || 'no token'})`);
        await page.waitForLoadState();
        same(await page.textContent('#message'),
          "This form was not sent from this office's own page, or your session has changed. Nothing was changed.",
          'the message');
      }
      await shot(page, 'admin-forged-post');
      // The administrator is still signed in, and the menu is still there.
      await page.goto(at('/admin/menus?branch=1'));
      same(await page.$$eval('#tree tr[data-id="2"]', (rows) => rows.length), 1, 'menu 2 in the tree');
    });
  } finally {
    site.close();
  }
  same(sql('SELECT COUNT(*) FROM SYS_Menu WHERE MenuID=2'), '1', 'menu 2 in the database');
});

test('the login records: summary, a person, a record', async () => {
  await withBrowser(async (page) => {
    await signIn(page, 'ann', 'ann123');
    await page.goto(at('/admin/logins'));
    const names = await page.$$eval('#summary a.person', (as) => as.map((a) => a.textContent));
    check(names.includes('Ann Carter') && names.includes('Gia Romano'), `people: ${names}`);
    const gia = await page.$$eval('#summary tr[data-id="7"] td', (tds) => tds.map((td) => td.textContent));
    const today = sql("SELECT date('now','localtime')");
    same([gia[1], gia[3]], [`${today} 09:47:05`, '2'], "gia's last sign-in and count");
    await Promise.all([page.waitForNavigation(), page.click('#summary a.person:has-text("Gia Romano")')]);
    same(await page.$$eval('#history tbody tr', (rows) => rows.length), 2, "gia's records");
    await Promise.all([page.waitForNavigation(), page.click('#history tbody tr:first-child a.record')]);
    const values = await page.$$eval('#record dd', (dds) => dds.map((dd) => dd.textContent));
    same(values.slice(1, 5), ['7', 'gia', '******', 'Succeeded'], 'the record');
    await shot(page, 'admin-login-record');
  });
});

test("an administrator ends another person's session and that person's next click signs in again", async () => {
  await withBrowser(async (ben) => {
    await signIn(ben, 'ben', 'ben123');
    await withBrowser(async (admin) => {
      await signIn(admin, 'ivy', 'ivy123');
      await admin.goto(at('/admin/sessions?account=ben'));
      // Newest first: the one just signed in.
      const row = admin.locator('#sessions tbody tr').first();
      same(await row.locator('.account').textContent(), 'ben', 'the account shown');
      const key = await row.getAttribute('data-key');
      await shot(admin, 'admin-sessions');
      await Promise.all([admin.waitForNavigation(), row.locator('form.end button').click()]);
      same(await admin.textContent('#notice'), 'Ended.', 'the notice');
      same(await admin.locator(`#sessions tr[data-key="${key}"]`).count(), 0, 'the ended session listed');
    });
    // Ben's next click in the main window.
    await Promise.all([ben.waitForNavigation(), ben.click('.topmenu a:has-text("Finance")')]);
    same(new URL(ben.url()).pathname, '/', 'where the click led');
    check(await ben.isVisible('#LoginName'), 'the sign-in form is not shown');
    same(sql('SELECT loginOutTime IS NOT NULL FROM HR_Login WHERE LoginID=(SELECT MAX(LoginID) '
      + 'FROM HR_Login WHERE personID=2 AND LoginOK=1)'), '1', "the sign-out time of ben's sign-in");
  });
});

test('the audit trail lists the changes made above, newest first, and filters them', async () => {
  await withBrowser(async (page) => {
    await signIn(page, 'ann', 'ann123');
    await page.goto(at('/admin/audit'));
    const kinds = await page.$$eval('#audit td.kind', (tds) => tds.map((td) => td.textContent));
    check(kinds.length > 0 && kinds.includes('menu.add'), `kinds: ${kinds}`);
    const ids = await page.$$eval('#audit tbody tr', (rows) => rows.map((r) => Number(r.dataset.id)));
    same(ids, [...ids].sort((a, b) => b - a), 'newest first');
    // The tests above make fewer changes than a page holds.
    same(String(ids.length), sql('SELECT COUNT(*) FROM SYS_Audit'), 'every row listed');
    await page.selectOption('#kind', 'menu.add');
    await Promise.all([page.waitForNavigation(), page.click('#filters button')]);
    const added = await page.$$eval('#audit td.kind', (tds) => tds.map((td) => td.textContent));
    check(added.length > 0 && added.every((k) => k === 'menu.add'), `filtered: ${added}`);
    same(await page.$$eval('#audit td.person', (tds) => [...new Set(tds.map((td) => td.textContent))]), ['ann'], 'who');
    await page.fill('#from', 'yesterday');
    await Promise.all([page.waitForNavigation(), page.click('#filters button')]);
    check((await page.textContent('#error')).includes('must be a date'), 'a bad date is said so');
    await shot(page, 'admin-audit');
  });
});

// No style attribute indents the trees (the policy would refuse it):
// admin.css indents the first levels, admin.js the deeper ones, each
// level 24px further in. A chain of twelve menus is put in for this test
// and taken out after it.
test('menu trees deeper than the style sheet knows are still indented level by level', async () => {
  const ids = [];
  let parent = 'NULL';
  for (let level = 1; level <= 12; level += 1) {
    parent = sql(`INSERT INTO SYS_Menu (MenuParentID, MenuName, MenuEnglish, MenuOrder) VALUES (${
      parent}, '层${level}', 'Depth ${level}', 90) RETURNING MenuID`);
    ids.push(parent);
  }
  try {
    await withBrowser(async (page) => {
      await signIn(page, 'ann', 'ann123');
      const indents = async (selector) => Promise.all(ids.map((id) => page.$eval(selector(id),
        (e) => parseFloat(getComputedStyle(e).paddingLeft))));
      // The chain is one branch, shown whole on its own page.
      await page.goto(at(`/admin/menus?branch=${ids[0]}`));
      same(await page.$$eval('#tree tr[data-level="12"]', (rows) => rows.length), 1, 'the deepest row');
      same(await indents((id) => `tr[data-id="${id}"] td.name`), ids.map((_, k) => 8 + 24 * k), 'the menu tree');
      await page.goto(at(`/admin/rights/role?id=1&branch=${ids[0]}`));
      same(await indents((id) => `#menus li:has(input[value="${id}"])`), ids.map((_, k) => 24 * k), 'the check boxes');
      await shot(page, 'admin-rights-deep');
    });
  } finally {
    sql(`DELETE FROM SYS_Menu WHERE MenuID IN (${ids.join(',')})`);
  }
});

await runTests();
