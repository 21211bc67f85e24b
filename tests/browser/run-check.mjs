// node run-check.mjs CHROMIUM PAGE: prints check-sheet.js's verdict on PAGE in headless
// CHROMIUM, once it is given (at most two minutes).
import puppeteer from 'puppeteer-core';

const [chromium, page] = process.argv.slice(2);
const browser = await puppeteer.launch({executablePath: chromium, headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--force-color-profile=srgb', '--allow-file-access-from-files']});
const tab = await browser.newPage();
await tab.goto('file://' + page);
await tab.waitForFunction(() => document.getElementById('result').textContent !== '', {timeout: 120000});
console.log(await tab.$eval('#result', (e) => e.textContent));
await browser.close();
