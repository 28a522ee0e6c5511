// velmora-inspect at scale: two 10 MB captures (the demo, thousands of small
// frames; random lines, hundreds of frames of thousands of records), each
// written as a page and opened in Debian's chromium, headless.
//   node bench/inspect/measure.mjs BIN_DIR
// Prints, per capture: the page's size, the time to write it, to open it
// (navigation to the first frame drawn), and to step a frame (building and
// drawing the frame's picture and listing, in the page; and a key press
// as the browser delivers it, until the page shows the next frame).
import { execFileSync, spawnSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { launch, open } from "../../tests/inspect/browser.mjs";

const bin = process.argv[2] || "build/tools";
const size = 10 * 1000 * 1000;
const dir = fs.mkdtempSync(path.join(os.tmpdir(), "velmora-inspect-bench-"));

// The demo's endless stream, cut at 10 MB.
const demo = path.join(dir, "demo.bin");
fs.writeFileSync(demo, execFileSync("sh", ["-c", `'${bin}/velmora-demo' --fps 0 | head -c ${size}`],
	{ maxBuffer: 2 * size }));

// Frames of 10,000 random lines in every colour: clear, then move and draw
// pairs, end of frame.  A fixed seed: the same stream every run.
const lines = path.join(dir, "lines.bin");
{
	const out = Buffer.alloc(size);
	let n = 0, seed = 1;
	const rnd = () => (seed = (seed * 1103515245 + 12345) % 2147483648) % 1024;
	const put = (w) => { out[n++] = w >> 8; out[n++] = w & 0xFF; };
	put(0xFFFF);
	while (n + 40012 <= size) {
		put(0x8100);
		for (let i = 0; i < 5000; i++) {
			put(0x0400 | rnd()); put(0x2000 | (i & 3) << 11 | rnd());  // set y, move x in a colour
			put(0x0400 | rnd()); put(0x4000 | rnd());                  // set y, draw x
		}
		put(0x8200);
	}
	fs.writeFileSync(lines, out.subarray(0, n));
}

const browser = await launch();
const errors = [];
for (const stream of [demo, lines]) {
	const html = stream.replace(/\.bin$/, ".html");
	const t0 = process.hrtime.bigint();
	const r = spawnSync(`${bin}/velmora-inspect`, [stream, "-o", html], { encoding: "utf8" });
	const written = Number(process.hrtime.bigint() - t0) / 1e6;
	if (r.status !== 0) throw new Error(r.stderr);

	const t1 = process.hrtime.bigint();
	const page = await open(browser.context, html, "", errors);
	const opened = Number(process.hrtime.bigint() - t1) / 1e6;
	const facts = await page.evaluate(() => [M.frames.length, M.words, M.records]);
	// Stepping starts a second later, as a person's would: not inside the
	// collection of what loading left behind.
	await page.waitForTimeout(1000);

	// In the page: go() builds the frame's strokes, draws them and lists
	// its words; the paint follows at the next animation frame.
	const steps = await page.evaluate(async () => {
		const t = [];
		for (let k = 0; k < 50; k++) {
			const a = performance.now();
			go(cur + 1);
			await new Promise((res) => requestAnimationFrame(() => res()));
			t.push(performance.now() - a);
		}
		return t.sort((x, y) => x - y);
	});
	const keys = [];
	for (let k = 0; k < 20; k++) {
		const before = await page.evaluate(() => location.hash);
		const a = process.hrtime.bigint();
		await page.keyboard.press("ArrowRight");
		await page.waitForFunction((h) => location.hash !== h, before);
		keys.push(Number(process.hrtime.bigint() - a) / 1e6);
	}
	keys.sort((x, y) => x - y);
	const ms = (v) => v.toFixed(0) + " ms";
	console.log(`${path.basename(stream)}: ${fs.statSync(stream).size} bytes, ${facts[0]} frames, ` +
		`${facts[1]} words, ${facts[2]} records`);
	console.log(`  page ${(fs.statSync(html).size / 1e6).toFixed(2)} MB, written in ${ms(written)}, ` +
		`opened in ${ms(opened)}`);
	console.log(`  step (in the page, to the next paint): median ${ms(steps[25])}, worst ${ms(steps[49])}; ` +
		`key press to the next frame shown: median ${ms(keys[10])}, worst ${ms(keys[19])}`);
	await page.close();
}
await browser.close();
fs.rmSync(dir, { recursive: true, force: true });
if (errors.length) {
	console.error(errors.join("\n"));
	process.exit(1);
}
