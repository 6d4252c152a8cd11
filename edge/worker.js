// Tagged Tarvo downloads at the edge: GET /download/<tag> answers with the signed release
// that travels with this worker, its tag written in by tarvo_tag.wasm, tarvo-stamp's own tag
// code. Routes and headers live here; every rule about tags and releases lives in the module.
import tagModule from "./tarvo_tag.wasm";
import release from "./release.exe";

const DOWNLOAD = "/download/";
const PLAIN_EXE_NAME = /^[A-Za-z0-9][A-Za-z0-9._-]{0,63}\.exe$/;
// workerd builds request.url from the Host header as it came, so a Host holding a path or a
// query would choose the route: only a host name, an IPv4 or IPv6 literal and a port pass.
const PLAIN_HOST = /^(?:[A-Za-z0-9](?:[A-Za-z0-9.-]*[A-Za-z0-9])?|\[[0-9A-Fa-f:.]+\])(?::[0-9]{1,5})?$/;
// The next deploy changes a download's bytes under the same URL, so every cache, shared or
// not, asks again each time; the ETag makes the answer a 304 while the release is the same.
const REVALIDATE = "no-cache";

let digest = null;  // the release file's SHA-256, as hex, once known: it tells two deploys apart byte for byte
let edge = null;    // the module with the release, loaded and checked once per isolate; a trap throws it away

function text(status, message, headers = {}) {
  return new Response(message + "\n", {
    status,
    headers: { "Content-Type": "text/plain; charset=utf-8", "Cache-Control": "no-store", ...headers },
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

// The module with the release in its memory, or the reason no download can be served.
function loadEdge(env) {
  const fileName = env.FILE_NAME ?? "Tarvo.exe";
  if (!PLAIN_EXE_NAME.test(fileName)) return { refusal: `the FILE_NAME setting ${JSON.stringify(fileName)} is no plain .exe name` };
  const loaded = instantiate();
  return loaded.refusal ? loaded : { ...loaded, fileName };
}

// Of the whole file, not the Authenticode digest, which a signature renewed over the same
// program keeps: a cache would then revalidate the old signature's bytes.
async function releaseDigest() {
  const bytes = new Uint8Array(await crypto.subtle.digest("SHA-256", release));
  return [...bytes].map((byte) => byte.toString(16).padStart(2, "0")).join("");
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
  const { read, written } = new TextEncoder().encodeInto(tag, buffer);
  return read < tag.length ? exports.tag_capacity() + 1 : written;
}

// If-None-Match compares weakly (RFC 9110, 13.1.2): a CDN that compressed the download
// weakens the ETag it hands on, and it still names the same bytes.
function revalidates(request, etag) {
  const match = request.headers.get("If-None-Match");
  return match !== null && (match.trim() === "*" ||
    match.split(",").some((candidate) => candidate.trim().replace(/^W\//, "") === etag));
}

function download(request, tag) {
  const { exports, fileName, releaseAt, size } = edge;
  const length = copyTagIn(exports, tag);
  const etag = `"${digest}-${tag}"`;
  const headers = downloadHeaders(fileName, size, etag);
  // A GET writes the tag, which checks it on the way; HEAD and a revalidation only check it.
  const revalidated = revalidates(request, etag), writes = request.method === "GET" && !revalidated;
  const refused = writes ? exports.tag_release(length) : exports.check_tag(length);
  if (refused) return text(400, readText(exports, refused));
  if (revalidated) {
    delete headers["Content-Length"];
    return new Response(null, { status: 304, headers });
  }
  if (!writes) return new Response(null, { status: 200, headers });
  // The isolate's other requests share the module's memory, so there is no await between the
  // write and the copy; the Fetch standard copies a BufferSource body as the Response is made.
  return new Response(new Uint8Array(exports.memory.buffer, releaseAt, size), { status: 200, headers });
}

function answer(request, env, tag) {
  edge ??= loadEdge(env);
  if (edge.refusal) return text(503, edge.refusal);
  try {
    return download(request, tag);
  } catch (error) {
    if (!(error instanceof WebAssembly.RuntimeError)) throw error;
    edge = null;
    return text(500, "the tag module trapped; it starts afresh with the next request");
  }
}

export default {
  // workerd answers a CONNECT itself, before any code of ours, by opening a tunnel to this
  // handler: it is closed at once, so no byte goes through and nothing is logged.
  connect(socket) {
    socket.close();
  },

  fetch(request, env) {
    if (!PLAIN_HOST.test(request.headers.get("Host") ?? "")) return text(400, "the Host header names no plain host");
    if (request.method !== "GET" && request.method !== "HEAD") return text(405, "only GET and HEAD", { Allow: "GET, HEAD" });
    const path = new URL(request.url).pathname;
    if (!path.startsWith(DOWNLOAD) || path.indexOf("/", DOWNLOAD.length) !== -1) return text(404, "not found");
    const tag = path.slice(DOWNLOAD.length);
    if (digest !== null) return answer(request, env, tag);
    return releaseDigest().then((hex) => {
      digest = hex;
      return answer(request, env, tag);
    });
  },
};
