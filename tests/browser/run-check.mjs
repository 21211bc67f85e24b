// node run-check.mjs CHROMIUM PAGE: opens PAGE (a file) in headless CHROMIUM, waits until
// check-sheet.js has given its verdict (or two minutes have passed) and prints it.
import puppeteer from 'puppeteer-core';

const [chromium, page] = process.argv.slice(2);
const browser = await puppeteer.launch({
  executablePath: chromium,
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--force-color-profile=srgb',
         '--allow-file-access-from-files'],
});
try {
  const tab = await browser.newPage();
  await tab.goto('file://' + page);
  await tab.waitForFunction(
      () => document.getElementById('result').textContent !== 'not run', {timeout: 120000});
  console.log(await tab.$eval('#result', (e) => e.textContent));
} finally {
  await browser.close();
}
