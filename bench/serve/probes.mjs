// velmora-serve against hostile clients on loopback: what each costs the
// server (its peak memory, VmHWM) and what a viewer meanwhile waits.
//   node bench/serve/probes.mjs BIN_DIR
// The board is the demo at the link's rate through the virtual board.
import { execFileSync, spawn } from "node:child_process";
import fs from "node:fs";
import net from "node:net";
import os from "node:os";
import path from "node:path";

const bin = process.argv[2] || "build/tools";
const dir = fs.mkdtempSync(path.join(os.tmpdir(), "velmora-serve-probes-"));
const board = path.join(dir, "board.bin");
execFileSync(path.join(bin, "velmora-demo"), ["--fps", "0", "--frames", "4000", "--output", board]);
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

async function serve(extra = {}) {
	const s = spawn(path.join(bin, "velmora-serve"), ["--listen", "127.0.0.1:0"],
		{ env: { ...process.env, VELMORA_BOARD: "file:" + board, ...extra }, stdio: ["ignore", "ignore", "pipe"] });
	let err = "";
	s.stderr.on("data", (d) => { err += d; });
	for (let i = 0; i < 200 && !/:\d+\//.test(err); i++) await sleep(50);
	s.port = +/127\.0\.0\.1:(\d+)/.exec(err)[1];
	s.kb = (field) => +new RegExp(field + ":\\s+(\\d+)").exec(fs.readFileSync(`/proc/${s.pid}/status`, "utf8"))[1];
	await sleep(1000);
	return s;
}

// Raw bytes to the server; resolves with what came back when it closes.
function raw(port, bytes, { from = "127.0.0.1", waitMs = 5000 } = {}) {
	return new Promise((resolve) => {
		const c = net.connect({ port, host: "127.0.0.1", localAddress: from });
		let got = Buffer.alloc(0);
		const t0 = Date.now();
		c.on("connect", () => c.write(bytes));
		c.on("data", (d) => { got = Buffer.concat([got, d]); });
		const done = () => resolve({ got, ms: Date.now() - t0 });
		c.on("close", done);
		c.on("error", done);
		setTimeout(() => { c.destroy(); }, waitMs);
	});
}
const get = (port, route, opts) => raw(port, `GET ${route} HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n`, opts);

const rows = [];
async function probe(name, run) {
	const s = await serve();
	const before = s.kb("VmRSS");
	const said = await run(s.port);
	rows.push({ name, before, peak: s.kb("VmHWM"), said });
	s.kill();
}

await probe("Host: evil.example on /capture.bin", async (p) =>
	(await raw(p, "GET /capture.bin HTTP/1.1\r\nHost: evil.example:8080\r\n\r\n")).got.toString().split("\r\n")[0]);
await probe("Range: bytes=0-, ×500 on /capture.bin", async (p) => {
	const r = await raw(p, `GET /capture.bin HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\nRange: bytes=${Array(500).fill("0-").join(",")}\r\n\r\n`);
	return `${r.got.toString("latin1").split("\r\n")[0]}, ${r.got.length} bytes`;
});
await probe("48 sockets: a head ended by a bare LF, then a line a second", async (p) => {
	const all = [];
	for (let i = 0; i < 48; i++) {
		const c = net.connect(p, "127.0.0.1");
		c.on("connect", () => c.write("GET /frame.json HTTP/1.1\r\nHost: localhost\r\n\n"));
		c.on("error", () => {});
		const t = setInterval(() => c.writable && c.write("X-B: " + "c".repeat(100) + "\r\n"), 1000);
		c.on("close", () => clearInterval(t));
		all.push(c);
	}
	await sleep(3000);
	const v = await get(p, "/frame.json");
	const open = all.filter((c) => !c.destroyed).length;
	all.forEach((c) => c.destroy());
	return `${open} still open after 3 s; a viewer waited ${v.ms} ms`;
});
await probe("150 idle sockets (reopened when dropped), 20 s; a viewer from 127.0.0.2 each second", async (p) => {
	let stop = false, live = [];
	const open = () => {
		const c = net.connect(p, "127.0.0.1");
		c.on("error", () => {});
		c.on("close", () => { if (!stop) setTimeout(open, 10); });
		live.push(c);
	};
	for (let i = 0; i < 150; i++) open();
	const waits = [];
	for (let i = 0; i < 20; i++) {
		await sleep(1000);
		const v = await get(p, "/frame.json", { from: "127.0.0.2" });
		waits.push(/^HTTP\/1\.1 200/.test(v.got.toString()) ? v.ms : Infinity);
	}
	stop = true;
	live.forEach((c) => c.destroy());
	return `viewers answered ${waits.filter(isFinite).length}/20, longest wait ${Math.max(...waits)} ms`;
});
await probe("POST / with a request for /capture.bin as its body", async (p) => {
	const inner = "GET /capture.bin HTTP/1.1\r\nHost: localhost\r\n\r\n";
	const r = await raw(p, `POST / HTTP/1.1\r\nHost: localhost\r\nContent-Length: ${inner.length}\r\n\r\n${inner}`);
	return (r.got.toString("latin1").match(/HTTP\/1\.1 \d+/g) || []).join(", ");
});
await probe("2000 malformed requests", async (p) => {
	let seed = 1;
	const rnd = () => (seed = (seed * 1103515245 + 12345) & 0x7fffffff);
	for (let i = 0; i < 2000; i += 50)
		await Promise.all(Array.from({ length: 50 }, () => {
			const b = Buffer.from(Array.from({ length: 20 + (rnd() % 400) }, () => rnd() % 256));
			return raw(p, Buffer.concat([Buffer.from("GET /frame.json HTTP/1.1\r\n"), b, Buffer.from("\r\n\r\n")]), { waitMs: 1000 });
		}));
	return (await get(p, "/frame.json")).got.toString().split("\r\n")[0];
});
{
	// A byte a read for 10 s: the kept bytes cost nothing beyond themselves.
	const s = await serve({ VELMORA_BOARD_RATE: "1000" });
	const before = s.kb("VmRSS");
	await sleep(10000);
	rows.push({ name: "one-byte reads for 10 s (10 kB kept)", before, peak: s.kb("VmHWM"), said: `${s.kb("VmRSS") - before} kB more` });
	s.kill();
}

fs.rmSync(dir, { recursive: true, force: true });
console.log("| probe | server's memory before | its peak | what happened |");
console.log("|---|---|---|---|");
for (const r of rows) console.log(`| ${r.name} | ${(r.before / 1024).toFixed(0)} MB | ${(r.peak / 1024).toFixed(0)} MB | ${r.said} |`);
