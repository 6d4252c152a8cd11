// Tagged Tarvo downloads at the edge: GET /download/<tag> answers with the signed release
// that travels with this worker, its tag written in by tarvo_tag.wasm, tarvo-stamp's own tag
// code; GET /release says which release that is. Routes, headers and the log line live here;
// every rule about tags and releases lives in the module.
import tagModule from "./tarvo_tag.wasm";
import release from "./release.exe";

const DOWNLOAD = "/download/";
const RELEASE = "/release";
const PLAIN_EXE_NAME = /^[A-Za-z0-9][A-Za-z0-9._-]{0,63}\.exe$/;
// workerd builds request.url from the Host header as it came, so a Host holding a path, a
// query or a user would choose the route: only RFC 9110's uri-host [":" port] passes, that is
// an IP literal or RFC 3986's reg-name (which takes a trailing dot and '_'), the port digits
// only. What the URL parser still refuses (an IPv6 literal that is none, a port over 65535)
// is caught where request.url is parsed.
const HOST = /^(?:\[[0-9A-Fa-f:.]+\]|(?:[A-Za-z0-9._~!$&'()*+,;=-]|%[0-9A-Fa-f]{2})+)(?::[0-9]*)?$/;
const NO_HOST = "the Host header names no host";
// The next deploy changes a download's bytes under the same URL, so every cache, shared or
// not, asks again each time; the ETag makes the answer a 304 while the release is the same.
const REVALIDATE = "no-cache";
const LOGGED_TAG = 100;  // characters: more than any tag the module takes, far less than a request line
const encoder = new TextEncoder();

// Per isolate: the module with the release and what names them, made once; or why no
// download can be served. A trap throws it away.
let edge = null;
let loading = null;  // the promise of edge while the first requests wait for it

function text(status, message, headers = {}) {
  const body = encoder.encode(message + "\n");
  return new Response(body, {
    status,
    headers: { "Content-Type": "text/plain; charset=utf-8", "Content-Length": String(body.length), "Cache-Control": "no-store", ...headers },
  });
}

export function readText(exports, length) {
  return new TextDecoder().decode(new Uint8Array(exports.memory.buffer, exports.text(), length));
}

// A fresh instance of the module with the release copied into its memory and checked there,
// or the reason it takes no tag. (The benchmark's companion worker shares this, the tag
// copying and the headers.)
export function instantiate() {
  const exports = new WebAssembly.Instance(tagModule, {}).exports;
  exports._initialize();
  const bytes = new Uint8Array(release);
  const releaseAt = exports.release_buffer(bytes.length);
  if (releaseAt) new Uint8Array(exports.memory.buffer, releaseAt, bytes.length).set(bytes);
  const refused = exports.check_release();
  if (refused) return { refusal: "the release takes no tag: " + readText(exports, refused) };
  return { exports, releaseAt, size: bytes.length };
}

async function sha256(...parts) {
  const whole = new Uint8Array(parts.reduce((sum, part) => sum + part.byteLength, 0));
  parts.reduce((at, part) => (whole.set(new Uint8Array(part), at), at + part.byteLength), 0);
  const digest = new Uint8Array(await crypto.subtle.digest("SHA-256", whole));
  return [...digest].map((byte) => byte.toString(16).padStart(2, "0")).join("");
}

// The module and the release, checked, with their names: the digest of the release file (not
// the Authenticode digest, which a signature renewed over the same program keeps, so a cache
// would go on revalidating the old signature's bytes), and the edition, a digest of the
// module's own (tarvo.digest, which the wasm build writes) and the release, which every
// download's ETag carries: a new module may write other bytes for the same tag.
async function load(env) {
  const fileName = env.FILE_NAME ?? "Tarvo.exe";
  if (!PLAIN_EXE_NAME.test(fileName)) return { refusal: `the FILE_NAME setting ${JSON.stringify(fileName)} is no plain .exe name` };
  const [moduleDigest, ...more] = WebAssembly.Module.customSections(tagModule, "tarvo.digest");
  if (moduleDigest === undefined || more.length > 0) return { refusal: "the tag module holds no digest of its own: build it with the wasm preset" };
  const loaded = instantiate();
  if (loaded.refusal) return loaded;
  const versionLength = loaded.exports.release_version();
  const version = versionLength ? readText(loaded.exports, versionLength) : null;
  const about = encoder.encode(JSON.stringify({ file: fileName, size: loaded.size, sha256: await sha256(release), version }) + "\n");
  return {
    ...loaded,
    stem: fileName.slice(0, -".exe".length),
    edition: await sha256(moduleDigest, release),
    about,
    aboutEtag: `"${await sha256(about)}"`,
  };
}

export function downloadHeaders(fileName, size, etag) {
  return {
    "Content-Type": "application/vnd.microsoft.portable-executable",
    "Content-Disposition": `attachment; filename="${fileName}"`,
    "Content-Length": String(size),
    "X-Content-Type-Options": "nosniff",
    "Cache-Control": REVALIDATE,
    ETag: etag,
  };
}

// The tag's bytes in the module's tag buffer; their length, or more than it holds if they do not fit.
export function copyTagIn(exports, tag) {
  const buffer = new Uint8Array(exports.memory.buffer, exports.tag_buffer(), exports.tag_capacity());
  const { read, written } = encoder.encodeInto(tag, buffer);
  return read < tag.length ? exports.tag_capacity() + 1 : written;
}

// Whether an If-Match or If-None-Match list holds the ETag; "*" holds any (RFC 9110, 13.1).
function holds(list, etag, weakly) {
  return list.trim() === "*" || list.split(",").some((candidate) => {
    const entityTag = candidate.trim();
    return entityTag === etag || (weakly && entityTag === "W/" + etag);
  });
}

// RFC 9110, 13.2.2: If-Match first, compared strongly (412 when no ETag in it holds), then
// If-None-Match, compared weakly (304 when one holds): a CDN that compressed the download
// weakens the ETag it hands on, and it still names the same bytes. 0 answers in full.
function precondition(request, etag) {
  const ifMatch = request.headers.get("If-Match");
  if (ifMatch !== null && !holds(ifMatch, etag, false)) return 412;
  const ifNoneMatch = request.headers.get("If-None-Match");
  return ifNoneMatch !== null && holds(ifNoneMatch, etag, true) ? 304 : 0;
}

// The answer to a request that precondition gave status, with the headers and, for a GET
// answered in full, the body.
function conditional(request, status, headers, body) {
  if (status === 412) return text(412, "no ETag that If-Match names is this one's");
  // RFC 9110, 15.4.5: a 304 carries what a cache updates its copy with, no representation metadata.
  if (status === 304) return new Response(null, { status, headers: { ETag: headers.ETag, "Cache-Control": headers["Cache-Control"] } });
  return new Response(request.method === "GET" ? body : null, { status: 200, headers });
}

function download(request, loaded, tag) {
  const { exports, releaseAt, size } = loaded;
  const length = copyTagIn(exports, tag);
  const etag = `"${loaded.edition}-${tag}"`;
  const status = precondition(request, etag);
  // Only a GET answered in full writes the tag, which checks it on the way; the rest only check it.
  const writes = request.method === "GET" && status === 0;
  const refused = writes ? exports.tag_release(length) : exports.check_tag(length);
  if (refused) return text(400, readText(exports, refused));
  const headers = downloadHeaders(`${loaded.stem}-${tag}.exe`, size, etag);
  // The isolate's other requests share the module's memory, so there is no await between the
  // write and the copy; the Fetch standard copies a BufferSource body as the Response is made.
  return conditional(request, status, headers, writes ? new Uint8Array(exports.memory.buffer, releaseAt, size) : null);
}

function aboutRelease(request, { about, aboutEtag }) {
  const headers = { "Content-Type": "application/json", "Content-Length": String(about.length), "Cache-Control": REVALIDATE, ETag: aboutEtag };
  return conditional(request, precondition(request, aboutEtag), headers, about);
}

function answer(request, loaded, { route, tag }) {
  if (loaded.refusal) return text(503, loaded.refusal);
  if (route === "release") return aboutRelease(request, loaded);
  try {
    return download(request, loaded, tag);
  } catch (error) {
    if (!(error instanceof WebAssembly.RuntimeError)) throw error;
    edge = loading = null;
    return text(500, "the tag module trapped; it starts afresh with the next request");
  }
}

// The route and tag a request names, or the answer it gets at once.
function route(request) {
  if (!HOST.test(request.headers.get("Host") ?? "")) return { early: text(400, NO_HOST) };
  let path;
  try {
    path = new URL(request.url).pathname;
  } catch {
    return { early: text(400, NO_HOST) };  // a host that RFC 3986 writes and the URL standard refuses
  }
  if (request.method !== "GET" && request.method !== "HEAD") return { early: text(405, "only GET and HEAD", { Allow: "GET, HEAD" }) };
  if (path === RELEASE) return { route: "release" };
  if (path.startsWith(DOWNLOAD) && path.indexOf("/", DOWNLOAD.length) === -1) return { route: "download", tag: path.slice(DOWNLOAD.length) };
  return { early: text(404, "not found") };
}

// One line of JSON per request, which workerd prints and Cloudflare's logs collect: nothing of
// the client but what its request line holds, and of a tag no more than LOGGED_TAG characters,
// so that a client cannot make the line as long as its request.
function logged(request, { route, tag }, response) {
  const bytes = request.method === "HEAD" || response.status === 304 ? 0 : Number(response.headers.get("Content-Length"));
  const logTag = tag === undefined ? null : tag.length > LOGGED_TAG ? tag.slice(0, LOGGED_TAG) + "..." : tag;
  console.log(JSON.stringify({ method: request.method, route: route ?? null, tag: logTag, status: response.status, bytes }));
  return response;
}

export default {
  // workerd answers a CONNECT itself, before any code of ours, by opening a tunnel to this
  // handler: it is closed at once, so no byte goes through and nothing is logged.
  connect(socket) {
    socket.close();
  },

  fetch(request, env) {
    const named = route(request);
    if (named.early) return logged(request, named, named.early);
    if (edge !== null) return logged(request, named, answer(request, edge, named));
    loading ??= load(env).then((loaded) => (edge = loaded));
    // A load that failed is tried afresh by the next request, as a trap's is.
    return loading.then((loaded) => logged(request, named, answer(request, loaded, named)), (error) => {
      if (loading !== null) console.error(`the tag module could not be loaded: ${error}`);
      loading = null;
      return logged(request, named, text(500, "the tag module could not be loaded; the next request tries again"));
    });
  },
};
