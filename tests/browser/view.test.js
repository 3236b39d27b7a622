// Drives Debian's chromium through puppeteer-core against a running `quillon-host view` page.
//   node view.test.js VIEW_URL NODE_MODULES_DIR SCREENSHOT_PATH
// Checks what a user sees and does on the page; the program that started the view checks what
// reached the camera. Every wait has a time-out. Exit 0 when every check passed.
"use strict";
const fs = require("fs");
const os = require("os");
const path = require("path");

const [viewUrl, modulesDir, screenshotPath] = process.argv.slice(2);
const puppeteer = require(path.join(modulesDir, "puppeteer-core"));
const kWaitMs = 20000;

function fail(message) {
  throw new Error(message);
}

async function pictureShot(page) {
  const img = await page.$("#picture0");
  return img.screenshot({ type: "png" });
}

async function picturesShown(page) {
  return page.$eval("#count0", (e) => parseInt(e.textContent, 10) || 0);
}

// Runs an action and waits for the page's request that matches, returning its JSON answer.
async function answerTo(page, fragment, action) {
  const [response] = await Promise.all([
    page.waitForResponse((r) => r.url().includes(fragment), { timeout: kWaitMs }),
    action(),
  ]);
  return response.json();
}

async function main() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), "quillon-chromium-"));
  const browser = await puppeteer.launch({
    executablePath: "/usr/bin/chromium",
    headless: true,
    userDataDir: profile,
    timeout: 60000,
    protocolTimeout: 60000,
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
           "--disable-background-networking", "--disable-component-update", "--disable-sync",
           "--user-data-dir=" + profile, "--window-size=1280,900"],
  });
  let passed = 0;
  const check = (name) => { passed++; console.log("browser-test: ok: " + name); };
  try {
    const page = await browser.newPage();
    await page.setViewport({ width: 1280, height: 900 });
    page.setDefaultTimeout(kWaitMs);
    // Nothing may come from anywhere but the host.
    const origin = new URL(viewUrl).origin;
    const foreign = [];
    page.on("request", (r) => { if (!r.url().startsWith(origin) && !r.url().startsWith("data:")) foreign.push(r.url()); });
    await page.goto(viewUrl, { waitUntil: "domcontentloaded", timeout: kWaitMs });

    await page.waitForFunction(() => { const s = document.getElementById("state0"); return s && s.textContent === "connected"; });
    check("channel 0 reads connected");

    // The program that started the view set the camera's input 1 and left input 0 off.
    await page.waitForFunction(() => {
      const on = document.getElementById("input1"), off = document.getElementById("input0");
      return on && off && on.textContent === "Input 1: on (1)" && off.textContent === "Input 0: off";
    });
    check("the inputs show as the camera reports them");

    await page.waitForFunction(() => { const i = document.getElementById("picture0"); return i && i.naturalWidth > 0; });
    const first = await pictureShot(page);
    const shownBefore = await picturesShown(page);
    await page.waitForFunction((n) => (parseInt(document.getElementById("count0").textContent, 10) || 0) >= n + 5, {}, shownBefore);
    const second = await pictureShot(page);
    if (first.equals(second)) fail("the picture did not change while 5 more pictures arrived");
    const size = await page.$eval("#picture0", (i) => [i.naturalWidth, i.naturalHeight]);
    if (size[0] !== 640 || size[1] !== 480) fail("the picture is " + size.join("x") + ", not 640x480");
    check("the live picture changes (640x480)");

    const output = await answerTo(page, "/output?index=0&state=2", () => page.click("#output0"));
    if (!output.queued) fail("switching output 0 was not queued: " + JSON.stringify(output));
    check("output 0 switched high from its switch");

    await page.waitForSelector("#ptz-right0");
    const move = await answerTo(page, "action=move&dir=1", () => page.click("#ptz-right0"));
    if (!move.ok) fail("the pan button's move was refused: " + JSON.stringify(move));
    check("the pan-right button moved the camera");

    await page.type("#preset-name0", "Door");
    const added = await answerTo(page, "action=preset-add&name=Door", () => page.click("#preset-add0"));
    if (!added.ok) fail("adding preset Door was refused: " + JSON.stringify(added));
    const doors = (n) => [...document.querySelectorAll("#presets0 .preset-name")].filter((e) => e.textContent === "Door").length === n;
    await page.waitForFunction(doors, {}, 1);
    check("preset Door shows in the list");
    await page.waitForFunction(() => document.getElementById("fps0").textContent !== "0.0 pictures/s");
    await page.screenshot({ path: screenshotPath, fullPage: true });
    console.log("browser-test: screenshot " + screenshotPath);

    const box = await (await page.$("#picture0")).boundingBox();
    const centred = await answerTo(page, "action=center", () => page.mouse.click(box.x + box.width * 0.75, box.y + box.height * 0.25));
    if (!centred.ok) fail("the click on the picture was refused: " + JSON.stringify(centred));
    check("a click on the picture asked to centre there");

    // A dragged rectangle over the middle half of the picture: area zoom by 200 % at its centre.
    const from = [box.x + box.width * 0.25, box.y + box.height * 0.25], to = [box.x + box.width * 0.75, box.y + box.height * 0.75];
    const zoomed = await answerTo(page, "action=areazoom&x=320&y=240&zoom=200", async () => {
      await page.mouse.move(from[0], from[1]);
      await page.mouse.down();
      await page.mouse.move(to[0], to[1], { steps: 8 });
      await page.mouse.up();
    });
    if (!zoomed.ok) fail("the dragged rectangle's area zoom was refused: " + JSON.stringify(zoomed));
    check("a dragged rectangle asked for an area zoom");

    // Its Remove button takes it off the list again (and leaves the preset file as it was).
    const removed = await answerTo(page, "action=preset-remove&name=Door", () =>
      page.evaluate(() => [...document.querySelectorAll("#presets0 li")].find((li) => li.textContent.startsWith("Door"))
        .querySelector("button:last-child").click()));
    if (!removed.ok) fail("removing preset Door was refused: " + JSON.stringify(removed));
    await page.waitForFunction(doors, {}, 0);
    check("preset Door leaves the list with its Remove button");

    if (foreign.length) fail("the page fetched from elsewhere: " + foreign.join(", "));
    check("nothing fetched from outside the host");
  } finally {
    await browser.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
  console.log("browser-test: " + passed + " checks passed");
}

main().catch((e) => {
  console.error("browser-test: FAILED: " + (e && e.stack ? e.stack : e));
  process.exit(1);
});
