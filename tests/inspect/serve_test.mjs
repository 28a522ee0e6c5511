// velmora-serve over loopback: its files against velmora-snap's, the
// token, the Host check, hostile clients, a halt, and the live page in
// Chromium.
//   node serve_test.mjs BIN_DIR
// Exit status 0 when every check holds.
import { execFileSync, spawn } from "node:child_process";
import fs from "node:fs";
import net from "node:net";
import os from "node:os";
import path from "node:path";

const [bin] = process.argv.slice(2);
const tool = (name) => path.join(bin, name);
const dir = fs.mkdtempSync(path.join(os.tmpdir(), "velmora-serve-test-"));
const env = { ...process.env, ASAN_OPTIONS: "detect_leaks=0" };  // OSMesa keeps a few bytes to the end
const failures = [];
const errors = [];
function check(ok, what) {
	console.log((ok ? "ok   " : "FAIL ") + what);
	if (!ok) failures.push(what);
}
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// Every server started is ended however the test ends.
const children = [];
process.on("exit", () => { for (const c of children) if (c.exitCode === null) c.kill("SIGKILL"); });

// A server on a free loopback port, reading the board from board (a file).
async function serve(board, args = [], extra = {}) {
	const child = spawn(tool("velmora-serve"), ["--listen", "127.0.0.1:0", ...args],
		{ env: { ...env, VELMORA_BOARD: "file:" + board, ...extra }, stdio: ["ignore", "pipe", "pipe"] });
	children.push(child);
	let out = "", err = "";
	child.stdout.on("data", (d) => { out += d; });
	child.stderr.on("data", (d) => { err += d; });
	for (let i = 0; i < 200 && !/http:\/\/\S+/.test(err); i++) await sleep(50);
	const url = /http:\/\/127\.0\.0\.1:(\d+)\/(\S*)/.exec(err);
	return { child, port: url ? +url[1] : 0, query: url ? url[2] : "", out: () => out, err: () => err,
		stop() { child.kill("SIGTERM"); } };
}

async function get(s, route, headers = {}) {
	const r = await fetch(`http://127.0.0.1:${s.port}${route}`, { headers });
	return { status: r.status, body: Buffer.from(await r.arrayBuffer()) };
}

// Waits until /frame.json says the board has drawn frames (or halted).
async function frames(s, want, auth = {}) {
	for (let i = 0; i < 400; i++) {
		const r = await get(s, "/frame.json", auth);
		const j = r.status === 200 ? JSON.parse(r.body) : null;
		if (j && (j.frame >= want || j.halt)) return j;
		await sleep(50);
	}
	return null;
}

// What the server answers to raw bytes, "" if it closes without a word.
function raw(port, bytes, waitMs = 3000, from = "127.0.0.1") {
	return new Promise((resolve) => {
		const c = net.connect({ port, host: "127.0.0.1", localAddress: from });
		let got = "";
		c.on("data", (d) => { got += d; });
		c.on("connect", () => c.write(bytes));
		c.on("close", () => resolve(got));
		c.on("error", () => resolve(got));
		setTimeout(() => { c.destroy(); resolve(got + "(still open)"); }, waitMs);
	});
}

function snap(stream, args) {
	const out = path.join(dir, "snap.out");
	execFileSync(tool("velmora-snap"), [...args, "-o", out, stream], { env });
	return fs.readFileSync(out);
}

const demo = path.join(dir, "demo.bin");
execFileSync(tool("velmora-demo"), ["--fps", "0", "--frames", "40", "--output", demo]);

// ---------------------------------------------------------- files and token
const token = "0123456789abcdef";
{
	const s = await serve(demo, ["--token", token, "--allow-host", "Bench.Example"]);
	const auth = { Authorization: "Bearer " + token };
	for (const route of ["/", "/frame.json", "/frame.png", "/events", "/capture.bin", "/nothing"]) {
		const r = await get(s, route);
		check(r.status === 401 && !r.body.includes("frame"), `${route} without the token: 401 and nothing else`);
	}
	check((await get(s, "/frame.json", { Authorization: "Bearer " + token.replace("f", "e") })).status === 401, "a wrong token: 401");
	check((await get(s, "/frame.json", { Authorization: "bEARER " + token })).status === 200, "the scheme in any case");
	const j = await frames(s, 40, auth);
	check(j && j.frame === 40 && j.health.bytes === fs.statSync(demo).size && j.halt === "",
		`/frame.json: frame 40, every byte read (${JSON.stringify(j && j.health)})`);
	check((await get(s, `/frame.png?token=${token}`)).body.equals(snap(demo, [])), "/frame.png is velmora-snap's PNG");
	check((await get(s, "/frame.svg", auth)).body.equals(snap(demo, ["--svg"])), "/frame.svg is velmora-snap's SVG");
	check((await get(s, "/capture.bin", auth)).body.equals(fs.readFileSync(demo)), "/capture.bin holds the bytes read");
	const page = await get(s, "/capture.html", auth);
	check(page.status === 200 && page.body.includes("velmora-inspect"), "/capture.html: the bytes as an inspector page");
	check((await get(s, "/nothing", auth)).status === 404, "any other route: 404");

	// A page of another site whose name now resolves to this machine
	// arrives under its own name, token or not.
	const p = s.port;
	const as = (host, route = "/capture.bin", t = "") => raw(p, `GET ${route}${t} HTTP/1.1\r\nHost: ${host}\r\n\r\n`);
	const foreign = await as("evil.example:8080", "/capture.bin", `?token=${token}`);
	check(/^HTTP\/1\.1 403/.test(foreign) && foreign.includes("--allow-host evil.example") && !foreign.includes("frame"),
		"a foreign Host, even with the token: 403, naming --allow-host");
	check(/^HTTP\/1\.1 403/.test(await as("evil.example")), "a foreign Host without the token: 403 too");
	check((await Promise.all(["localhost:1", "a.localhost", "127.0.0.1:9", "[::1]:9", "bench.example", os.hostname()]
			.map((h) => as(h, "/frame.json", `?token=${token}`)))).every((r) => /^HTTP\/1\.1 200/.test(r)),
		"its own names: addresses, localhost and below it, the machine's name, and one allowed");

	// Many ranges: the whole capture once, never a copy a range.
	const ranges = await get(s, "/capture.bin", { ...auth, Range: "bytes=" + Array(500).fill("0-").join(",") });
	check(ranges.status === 200 && ranges.body.length === fs.statSync(demo).size, `500 ranges: the capture once (${ranges.body.length} bytes)`);

	// Bad requests get a 4xx or are closed, slow ones are dropped; the board side goes on.
	check(!/^HTTP\/1\.1 2/.test(await raw(p, "GARBAGE\r\n\r\n")), "a malformed request: not answered");
	check(/^HTTP\/1\.1 4\d\d/.test(await raw(p, `GET /frame.json?token=${token} HTTP/1.1\r\nHost: localhost\r\nX: ${"a".repeat(10000)}\r\n\r\n`)),
		"a header line of 10000 bytes: 4xx");
	check(/^HTTP\/1\.1 431/.test(await raw(p, `GET /frame.json?token=${token} HTTP/1.1\r\nHost: localhost\r\n` + "X-A: b\r\n".repeat(100) + "\r\n")),
		"100 header lines: 431");
	// A body is never read as a request.
	const inner = `GET /capture.bin?token=${token} HTTP/1.1\r\nHost: localhost\r\n\r\n`;
	const smuggled = await raw(p, `POST /frame.json?token=${token} HTTP/1.1\r\nHost: localhost\r\nContent-Length: ${inner.length}\r\n\r\n${inner}`);
	check(/^HTTP\/1\.1 405/.test(smuggled) && (smuggled.match(/HTTP\/1\.1/g) || []).length === 1 && !smuggled.includes("(still open)"),
		"a POST with a request as its body: 405 once, then closed");
	// 5 s to send a whole head, however it trickles in and however its lines end.
	const trickle = (first, more, every) => new Promise((resolve) => {
		const c = net.connect(p, "127.0.0.1");
		let got = "";
		const start = Date.now();
		const t = setInterval(() => c.write(more), every);
		c.on("connect", () => c.write(first));
		c.on("data", (d) => { got += d; });
		c.on("close", () => { clearInterval(t); resolve({ got, ms: Date.now() - start }); });
		c.on("error", () => {});
		setTimeout(() => { c.destroy(); resolve({ got: got + "(still open)", ms: Date.now() - start }); }, 12000);
	});
	const [drip, bare] = await Promise.all([
		trickle(`GET /frame.json?token=${token} HTTP/1.1\r\nHost: x\r\nX-A: `, "X", 400),
		trickle(`GET /frame.json?token=${token} HTTP/1.1\r\nHost: localhost\r\n\n`, "X-B: c\r\n", 300)]);
	check(!/HTTP\/1\.1 2/.test(drip.got) && drip.ms < 7000, `a head dripped a byte at a time: closed after ${drip.ms} ms`);
	check(!bare.got.includes("(still open)") && bare.ms < 7000,
		`a head ended by a bare LF, then lines trickled: closed after ${bare.ms} ms`);
	// Idle connections from one address do not shut out another.
	const idle = [];
	for (let i = 0; i < 150; i++) {
		const c = net.connect(p, "127.0.0.1");
		c.on("error", () => {});
		idle.push(c);
	}
	await sleep(1000);
	const t0 = Date.now();
	const beside = await raw(p, `GET /frame.json?token=${token} HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n`, 3000, "127.0.0.2");
	const waited = Date.now() - t0;
	for (const c of idle) c.destroy();
	check(/^HTTP\/1\.1 200/.test(beside) && waited < 1000, `150 idle connections from 127.0.0.1: a viewer from 127.0.0.2 answered in ${waited} ms`);
	await sleep(500);
	check((await get(s, "/frame.json", auth)).status === 200 && s.child.exitCode === null, "the server still answers");
	s.stop();
}

// ---------------------------------------------------------- start-up
{
	let said = "";
	try {
		execFileSync(tool("velmora-serve"), ["--token", "short"], { stdio: ["ignore", "ignore", "pipe"] });
	} catch (e) {
		said = e.status + " " + e.stderr;
	}
	check(/^2 .*--token needs at least 16 characters/.test(said), `a token under 16 characters is refused (${said.trim()})`);
}

// ---------------------------------------------------------- IPv6
{
	const child = spawn(tool("velmora-serve"), ["--listen", "[::1]:0"],
		{ env: { ...env, VELMORA_BOARD: "file:" + demo }, stdio: ["ignore", "ignore", "pipe"] });
	children.push(child);
	let err = "";
	child.stderr.on("data", (d) => { err += d; });
	for (let i = 0; i < 200 && !/http:\/\/\S+/.test(err); i++) await sleep(50);
	const url = /http:\/\/\[::1\]:\d+\//.exec(err);
	const r = url && await fetch(url[0] + "frame.json").catch(() => null);
	check(r && r.status === 200, `--listen [::1]:0: ${url ? url[0] : err.trim()} answers without a token`);
	child.kill("SIGTERM");
}

// ---------------------------------------------------------- single buffering
{
	// The list as it stands, at the next 10 ms tick: velmora-snap --single --eof.
	const s = await serve(demo, ["--single"]);
	await frames(s, 40);
	await sleep(100);
	check((await get(s, "/frame.png")).body.equals(snap(demo, ["--single", "--eof"])),
		"--single: /frame.png is velmora-snap --single --eof");
	s.stop();
}

// ---------------------------------------------------------- health
{
	// Bytes before sync, words without meaning, filler, characters below
	// zero and past 1023, an FF FF across two words: counted as
	// velmora-inspect counts them.
	const damaged = path.join(dir, "damaged.bin");
	execFileSync(tool("velmora-encode"), ["-o", damaged], { input: `bytes 12 34
sync
OP_CLEAR
word 0x6400
word 0x8500
filler
OP_ATTRIBUTES size 7 colour black rotation 2
OP_SET_X 5
OP_SET_Y 5
"Az"
OP_ATTRIBUTES size 7 colour blue rotation 0
OP_SET_X 1020
OP_SET_Y 1020
"W"
word 0x04FF
bytes FF 00
OP_END_FRAME
` });
	execFileSync(tool("velmora-inspect"), [damaged, "-o", damaged + ".html"]);
	const meta = JSON.parse(/id="meta" type="application\/json">(.*?)<\/script>/s.exec(fs.readFileSync(damaged + ".html", "utf8"))[1]);
	const s = await serve(damaged);
	const h = (await frames(s, 1)).health;
	const keys = ["dropped", "outOfStep", "filler", "ignored", "clamped", "wrapped"];
	check(keys.every((k) => h[k] === meta[k].count && h[k] > 0),
		`health as velmora-inspect counts it (${keys.map((k) => k + " " + h[k] + "/" + meta[k].count).join(", ")})`);
	s.stop();
}

// ---------------------------------------------------------- a halt
let halted;
{
	// 50001 records without a clear: the display list overflows.
	const text = "sync\nOP_CLEAR\n" + "moveto 10 10\n".repeat(50001);
	const over = path.join(dir, "over.bin");
	execFileSync(tool("velmora-encode"), ["-o", over], { input: text });
	const s = halted = await serve(over);
	const j = await frames(s, 1);
	await sleep(200);
	check(j && j.halt === "too many commands", `the halt on /frame.json (${j && j.halt})`);
	check(s.out().endsWith("too many commands\nclose window to exit\n"), "the halt's texts on the console as velmora's");
}

// ---------------------------------------------------------- slow viewers
{
	// About 3 s of demo at the link's rate, read with no viewer and then
	// with 19 reading and one that never reads: the board is held off no
	// longer, every byte is captured, and the stalled viewer is dropped.
	const board = path.join(dir, "board.bin");
	execFileSync(tool("velmora-demo"), ["--fps", "0", "--frames", "300", "--output", board]);
	const run = async (viewers) => {
		const cap = path.join(dir, `cap${viewers}.bin`);
		const s = await serve(board, [], { VELMORA_CAPTURE: cap });
		const start = Date.now();
		const readers = [], got = [];
		for (let i = 0; i < viewers; i++) {
			const c = net.connect(s.port, "127.0.0.1");
			c.write("GET /events HTTP/1.1\r\nHost: localhost\r\n\r\n");
			got.push(0);
			if (i === 0) c.pause();  // stalled: takes nothing
			else c.on("data", (d) => { got[i] += d.length; });
			c.on("error", () => {});
			readers.push(c);
		}
		const j = await frames(s, 300);
		const took = Date.now() - start;
		// The board has gone quiet: its rates fall to zero.
		let quiet = null;
		if (!viewers) {
			await sleep(2500);
			quiet = JSON.parse((await get(s, "/frame.json")).body);
		}
		let left = viewers;
		for (let i = 0; i < 200 && viewers && left !== viewers - 1; i++) {
			left = JSON.parse((await get(s, "/frame.json")).body).viewers;
			await sleep(50);
		}
		s.stop();
		await new Promise((r) => s.child.on("exit", r));
		for (const c of readers) c.destroy();
		const same = fs.readFileSync(cap).equals(fs.readFileSync(board));
		return { took, frame: j && j.frame, same, left, quiet, reading: got.slice(1).every((n) => n > 100000) };
	};
	const alone = await run(0), crowd = await run(20);
	check(alone.quiet.framesPerSecond === 0 && alone.quiet.wordsPerSecond === 0,
		`2.5 s after the board's last frame: ${alone.quiet.framesPerSecond} frames/s, ${alone.quiet.wordsPerSecond} words/s`);
	check(alone.same && crowd.same && crowd.frame === 300, "with 20 viewers, one stalled, every byte is captured");
	check(crowd.took < alone.took * 1.15 + 300, `the board is read as fast as with no viewer (${crowd.took} ms, alone ${alone.took} ms)`);
	check(crowd.reading && crowd.left === 19, `the 19 readers get frames; the stalled one is dropped (${crowd.left} left)`);
}

// ---------------------------------------------------------- memory
{
	// A byte a read (the board at 1000 bytes a second): the bytes kept
	// for /capture.bin cost no memory beyond their own.
	const s = await serve(demo, [], { VELMORA_BOARD_RATE: "1000" });
	const rss = () => +/VmRSS:\s+(\d+)/.exec(fs.readFileSync(`/proc/${s.child.pid}/status`, "utf8"))[1];
	await sleep(500);
	const before = rss();
	await sleep(4000);
	const grown = rss() - before;
	check(grown < 150, `4 s of one-byte reads: ${grown} kB more memory`);
	s.stop();
}

function finish() {
	check(errors.length === 0, "no console errors" + (errors.length ? ": " + errors.join("; ") : ""));
	fs.rmSync(dir, { recursive: true, force: true });
	process.exit(failures.length ? 1 : 0);
}

// ---------------------------------------------------------- the live page
if (!process.env.VELMORA_CHROMIUM) {
	console.log("skip the live page: no browser named in VELMORA_CHROMIUM");
	halted.stop();
	finish();
}
const browser = await (await import("./browser.mjs")).launch();
try {
	// About 70 s of demo at the link's rate: time for a loaded machine to open the page.
	const long = path.join(dir, "long.bin");
	execFileSync(tool("velmora-demo"), ["--fps", "0", "--frames", "8000", "--output", long]);
	const s = await serve(long, ["--token", token]);
	const page = await browser.context.newPage();
	page.on("console", (m) => { if (m.type() === "error") errors.push("console: " + m.text()); });
	page.on("pageerror", (e) => errors.push(e.message));
	await page.goto(`http://127.0.0.1:${s.port}/?token=${token}`);
	// Polled from here: waitForFunction evaluates strings, which the page's policy forbids.
	const frameShown = () => page.evaluate(() => +(document.body.dataset.frame || 0));
	for (let i = 0; i < 600 && (await frameShown()) < 100; i++) await sleep(100);
	await page.click("#pause");
	const board = JSON.parse((await get(s, `/frame.json?token=${token}`)).body).frame;
	const shown = await page.evaluate(() => +document.body.dataset.frame);
	// Within 3 s of the board (112 frames a second) even on a loaded machine.
	check(board < 8000 && board - shown < 336, `the page follows the board (frame ${shown} shown at the board's ${board})`);
	const compare = async () => {
		const n = await page.evaluate(() => +document.body.dataset.frame);
		const png = snap(long, ["--frame", String(n)]).toString("base64");
		const differ = await page.evaluate(async (b64) => {
			const img = await createImageBitmap(new Blob([Uint8Array.from(atob(b64), (ch) => ch.charCodeAt(0))]));
			const c = new OffscreenCanvas(img.width, img.height), g = c.getContext("2d");
			g.drawImage(img, 0, 0);
			const w = c.width, h = c.height;
			const a = g.getImageData(0, 0, w, h).data;
			const b = document.getElementById("pic").getContext("2d").getImageData(0, 0, w, h).data;
			// As in the inspector's test: a drawn pixel of either picture has
			// one of its colour within a pixel in the other (browser and GL
			// step lines a little differently); none may miss it.
			const rgb = (d, i) => d[4 * i] << 16 | d[4 * i + 1] << 8 | d[4 * i + 2];
			let missing = 0, drawn = 0;
			for (const [x, y] of [[a, b], [b, a]])
				for (let i = 0; i < w * h; i++) {
					const v = rgb(x, i);
					if (v === 0xffffff) continue;
					drawn++;
					let near = false;
					for (let dy = -1; dy <= 1 && !near; dy++)
						for (let dx = -1; dx <= 1 && !near; dx++) {
							const qx = i % w + dx, qy = ((i / w) | 0) + dy;
							near = qx >= 0 && qy >= 0 && qx < w && qy < h && rgb(y, qy * w + qx) === v;
						}
					missing += !near;
				}
			return drawn ? missing : -1;
		}, png);
		return [n, differ];
	};
	const [n, differ] = await compare();
	check(differ === 0, `the live page at frame ${n} shows velmora-snap --frame ${n}'s picture (${differ} pixels unmatched)`);
	await page.click("#prev");
	await page.click("#prev");
	const [m, differBack] = await compare();
	check(m < n && differBack === 0, `two steps back: frame ${m}, velmora-snap's picture (${differBack} pixels unmatched)`);
	await page.close();
	s.stop();

	const said = await browser.context.newPage();
	said.on("pageerror", (e) => errors.push(e.message));
	await said.goto(`http://127.0.0.1:${halted.port}/`);
	await said.waitForSelector("body.halted");
	check(/halted: too many commands/.test(await said.locator("#halt").textContent()), "the page says the board halted, and why");
	halted.stop();
} finally {
	await browser.close();
}
finish();
