// Debian's chromium, headless, driven through playwright-core: no browser
// is downloaded, and the machine may have no network at all.
import { createRequire } from "node:module";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";

const require = createRequire(import.meta.url);
let chromium;
try {
	({ chromium } = require("playwright-core"));
} catch {
	console.error("playwright-core is missing: run 'npm ci' in tests/inspect (scripts/test does)");
	process.exit(2);
}

export const executablePath = process.env.VELMORA_CHROMIUM || "/usr/bin/chromium";

// A fresh profile each time, removed by close().
export async function launch() {
	const profile = fs.mkdtempSync(path.join(os.tmpdir(), "velmora-chromium-"));
	const context = await chromium.launchPersistentContext(profile, {
		executablePath,
		headless: true,
		args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
			"--disable-background-networking", "--disable-component-update", "--disable-sync"],
		viewport: { width: 1400, height: 1000 },
		deviceScaleFactor: 1,
	});
	return {
		context,
		async close() {
			await context.close();
			fs.rmSync(profile, { recursive: true, force: true });
		},
	};
}

// Opens a page and waits until it has drawn; any console error or
// uncaught exception in it goes into errors.
export async function open(context, file, hash, errors) {
	const page = await context.newPage();
	page.on("console", (m) => { if (m.type() === "error") errors.push(file + ": console: " + m.text()); });
	page.on("pageerror", (e) => errors.push(file + ": " + e.message));
	await page.goto("file://" + path.resolve(file) + (hash || ""));
	await page.waitForSelector("body[data-ready]", { timeout: 60000 });
	return page;
}
