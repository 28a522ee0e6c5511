// velmora-inspect's pages in a real browser.
//   node inspect_test.mjs BIN_DIR EXAMPLES_DIR
// BIN_DIR holds the built velmora-inspect, velmora-snap, velmora-encode and
// velmora-decode.  Exit status 0 when every check holds.
import { execFileSync, spawnSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { launch, open } from "./browser.mjs";

const [bin, examples] = process.argv.slice(2);
const tool = (name) => path.join(bin, name);
const dir = fs.mkdtempSync(path.join(os.tmpdir(), "velmora-inspect-test-"));
const failures = [];
const errors = [];  // the pages' console errors: every one fails the test
function check(ok, what) {
	console.log((ok ? "ok   " : "FAIL ") + what);
	if (!ok) failures.push(what);
}

function encode(name, text) {
	const file = path.join(dir, name);
	execFileSync(tool("velmora-encode"), ["-o", file], { input: text });
	return file;
}
function inspect(input, page) {
	const r = spawnSync(tool("velmora-inspect"), [input, "-o", page || input + ".html"], { encoding: "utf8" });
	return { status: r.status, stderr: r.stderr, page: page || input + ".html" };
}

// Frame 1: one blue line; frame 2: a red line over it, no clear between;
// frame 3: words the decoder drops, filler and characters outside the font.
const frames = encode("frames.bin", `sync
OP_CLEAR
moveto 100 200 blue
lineto 300 200
OP_END_FRAME
moveto 100 100 red
lineto 100 400
OP_END_FRAME
OP_CLEAR
word 0x6400
word 0x8500
filler
OP_ATTRIBUTES size 3 colour black rotation 2
OP_SET_X 600
OP_SET_Y 300
OP_CHARACTER 0x07
OP_CHARACTER 0x7F
"Az"
OP_END_FRAME
`);
const card = encode("card.bin", fs.readFileSync(path.join(examples, "test_card.vel")));

const browser = await launch();
try {
	// ---------------------------------------------------------- picture
	// Every drawn pixel of one picture has a drawn pixel of its colour
	// within one pixel in the other: browsers smooth lines, the GL does not.
	for (const [stream, frame] of [[card, 1], [frames, 1], [frames, 2], [frames, 3]]) {
		const html = inspect(stream).page;
		const png = path.join(dir, "snap.png");
		// OSMesa keeps a few bytes to the end of the process: no leak check.
		execFileSync(tool("velmora-snap"), ["--frame", String(frame), "-o", png, stream],
			{ env: { ...process.env, ASAN_OPTIONS: "detect_leaks=0" } });
		const page = await open(browser.context, html, `#frame=${frame}&view=bare`, errors);
		const result = await page.evaluate(async (b64) => {
			// From bytes, not a URL: the page's policy loads nothing.
			const img = await createImageBitmap(new Blob([Uint8Array.from(atob(b64), (ch) => ch.charCodeAt(0))]));
			const c = document.createElement("canvas");
			c.width = img.width; c.height = img.height;
			const g = c.getContext("2d");
			g.drawImage(img, 0, 0);
			const snap = g.getImageData(0, 0, c.width, c.height);
			const mine = document.getElementById("pic").getContext("2d").getImageData(0, 0, c.width, c.height);
			const others = [...document.body.children].filter((e) => e.offsetParent && !e.contains(document.getElementById("pic")));
			// The colours a pixel shows at least a third of: the window's are
			// exact; the browser's smoothed ones are blends, of white or of each other.
			const RED = 1, BLUE = 2, BLACK = 4;
			const colours = (d, i) => {
				const r = d.data[4 * i], g = d.data[4 * i + 1], b = d.data[4 * i + 2];
				const hi = Math.max(r, g, b), lo = Math.min(r, g, b);
				return (r - Math.max(g, b) >= 96 ? RED : 0) | (b - Math.max(r, g) >= 96 ? BLUE : 0) |
					(hi <= 160 && hi - lo <= 48 ? BLACK : 0);
			};
			const w = c.width, h = c.height;
			const a = Uint8Array.from({ length: w * h }, (_, i) => colours(snap, i));
			const b = Uint8Array.from({ length: w * h }, (_, i) => colours(mine, i));
			// Pixels of x showing a colour that y shows nowhere within a pixel.
			const missing = (x, y) => {
				let n = 0, drawn = 0;
				for (let i = 0; i < x.length; i++) {
					if (!x[i]) continue;
					drawn++;
					const px = i % w, py = (i / w) | 0;
					let near = 0;
					for (let dy = -1; dy <= 1; dy++)
						for (let dx = -1; dx <= 1; dx++) {
							const qx = px + dx, qy = py + dy;
							if (qx >= 0 && qy >= 0 && qx < w && qy < h)
								near |= y[qy * w + qx];
						}
					n += (x[i] & ~near) !== 0;
				}
				return [n, drawn];
			};
			return { size: [w, h], snapMissing: missing(a, b), pageMissing: missing(b, a), others: others.length,
				at: [window.scrollX, window.scrollY, document.getElementById("pic").getBoundingClientRect().left] };
		}, fs.readFileSync(png).toString("base64"));
		const name = `${path.basename(stream)} frame ${frame}`;
		check(result.size[0] === 664 && result.size[1] === 498, `${name}: snap is 664x498`);
		check(result.snapMissing[1] > 0 && result.snapMissing[0] === 0 && result.pageMissing[0] === 0,
			`${name}: bare view and velmora-snap agree within a pixel (unmatched ${result.snapMissing} / ${result.pageMissing})`);
		check(result.others === 0 && result.at[2] === 0, `${name}: bare view shows the picture alone`);
		await page.close();
	}

	// ---------------------------------------------------------- stroke and word
	const page = await open(browser.context, frames + ".html", "", errors);
	const [mx, my] = await page.evaluate(() => [M.mapX[200], M.mapY[200]]);
	const box = await page.locator("#view").boundingBox();
	await page.mouse.move(box.x + mx, box.y + my);
	const info = await page.locator("#info").textContent();
	check(/byte 10 {2}word 412C {2}OP_DRAW_X +x 300/.test(info) && /from: byte 6 {2}word 3064 {2}OP_MOVE_X/.test(info),
		"hovering the blue line names its draw word at byte 10 and its move at byte 6");

	await page.mouse.move(box.x + 5, box.y + 5);
	await page.locator("#list .row", { hasText: "412C" }).click();
	const lit = await page.evaluate(([x, y]) =>
		[...document.getElementById("pic").getContext("2d").getImageData(Math.round(x), Math.round(y) - 3, 1, 1).data], [mx, my]);
	check(lit[0] > 240 && lit[1] > 150 && lit[1] < 230 && lit[2] < 150, `clicking the word lights its stroke (${lit})`);

	const frameNow = () => page.evaluate(() => [location.hash, document.getElementById("label").textContent]);
	await page.keyboard.press("ArrowRight");
	let [hash, label] = await frameNow();
	check(hash === "#frame=2" && label.startsWith("frame 2 of 3"), "right arrow: frame 2");
	await page.keyboard.press("End");
	[hash] = await frameNow();
	check(hash === "#frame=3", "End: the last frame");
	await page.keyboard.press("Home");
	await page.keyboard.press("ArrowLeft");
	[hash] = await frameNow();
	check(hash === "#frame=1", "Home, then left stays on frame 1");

	// The listing as velmora-decode writes it, what each word did aside.
	for (const stream of [frames, card]) {
		const decoded = execFileSync(tool("velmora-decode"), [stream], { encoding: "utf8", maxBuffer: 1 << 26 })
			.split("\n").filter((l) => /^ *\d+ {2}[0-9A-F]{2} [0-9A-F]{2} {2}[0-9A-F]{4} /.test(l))
			.map((l) => l.replace(/ *\[[^\]]*\]$/, "").trimEnd());
		const p = stream === frames ? page : await open(browser.context, stream + ".html", "", errors);
		const listed = await p.evaluate(() => Array.from({ length: words.length }, (_, i) => line(i)));
		const first = listed.findIndex((l, i) => l !== decoded[i]);
		check(listed.length === decoded.length && first < 0,
			`${path.basename(stream)}: the page lists every word as velmora-decode does` +
			(first < 0 ? "" : `\n  page:   ${listed[first]}\n  decode: ${decoded[first]}`));
	}

	// ---------------------------------------------------------- bad input
	const empty = path.join(dir, "empty.bin");
	fs.writeFileSync(empty, "");
	let r = inspect(empty);
	check(r.status === 2 && /empty/.test(r.stderr) && !fs.existsSync(r.page), "an empty file: exit 2, no page");
	r = inspect(path.join(dir, "none.bin"));
	check(r.status === 2 && /cannot open/.test(r.stderr), "a missing file: exit 2");
	r = inspect(frames, path.join(dir, "no-such-dir", "page.html"));
	check(r.status === 2 && /cannot write/.test(r.stderr), "an unwritable page: exit 2");

	const pageText = async (file) => {
		const p = await open(browser.context, file, "", errors);
		const t = await p.evaluate(() => document.body.innerText);
		await p.close();
		return t;
	};
	r = inspect(encode("unfinished.bin", "sync\nOP_CLEAR\nmoveto 1 1\nlineto 500 500\n"));
	check(r.status === 0 && /frame 1 of 1.*unfinished/.test(await pageText(r.page)), "no end of frame: one unfinished frame");
	r = inspect(encode("junk.bin", "bytes 01 02 FF 03 FE\n"));
	check(r.status === 0 && /no sync pair/.test(await pageText(r.page)), "junk bytes: the page says no sync pair");

	// 50001 draws after a clear: the list overflows at the last one, in one
	// frame too big.  Then 80 frames of 1002 records and no clear: the
	// commonest cause, named.
	const stream = (name, words) => {
		const file = path.join(dir, name);
		fs.writeFileSync(file, Buffer.from([0xFF, 0xFF, ...words.flatMap((w) => [w >> 8, w & 0xFF])]));
		return file;
	};
	r = inspect(stream("overflow.bin", [0xFFFF, 0x8100, ...Array(50001).fill(0x4000 | 5)]));
	let text = await pageText(r.page);
	check(r.status === 1 && /too many commands/.test(r.stderr + text) && /at the word at byte 100006 /.test(text) &&
		/one frame too big: frame 1 /.test(text), "overflow: exit 1, the page shows where the display halts and why");
	const frame = [0x2000 | 5, ...Array(1000).fill(0x4000 | 7), 0x8200];
	r = inspect(stream("no-clear.bin", Array(80).fill(frame).flat()));
	text = await pageText(r.page);
	check(r.status === 1 && /no clear since frame 1; the list grew by about 1002 records a frame/.test(text),
		"frames without a clear: the page names the cause");

	// A page made to be shared names its input by the file's name alone,
	// and at 1024 pixels wide every listing line is there whole.
	const narrow = await open(browser.context, card + ".html", "", errors);
	await narrow.setViewportSize({ width: 1024, height: 768 });
	const seen = await narrow.evaluate(() => {
		const list = document.getElementById("list");
		const cut = [...list.querySelectorAll(".row")].filter((row) => row.scrollWidth > list.clientWidth);
		return { title: document.title, text: document.body.innerText, cut: cut.length,
			rows: list.querySelectorAll(".row").length, wide: document.documentElement.scrollWidth };
	});
	check(seen.title === "card.bin - velmora-inspect" && !seen.text.includes(dir),
		"the page names its input without its folder");
	check(seen.rows > 0 && seen.cut === 0 && seen.wide <= 1024,
		`at 1024 pixels wide no listing line is cut (${seen.cut} of ${seen.rows}, page ${seen.wide} wide)`);
	await narrow.close();
} finally {
	await browser.close();
	fs.rmSync(dir, { recursive: true, force: true });
}
for (const e of errors) check(false, e);
check(errors.length === 0, "no page logged an error");
process.exit(failures.length ? 1 : 0);
