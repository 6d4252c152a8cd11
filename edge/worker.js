// Tagged Tarvo downloads at the edge: GET /download/<tag> answers with the signed release
// that travels with this worker, its tag written in by tarvo_tag.wasm, tarvo-stamp's own tag
// code. Routes and headers live here; every rule about tags and releases lives in the module.
import tagModule from "./tarvo_tag.wasm";
import release from "./release.exe";

const DOWNLOAD = "/download/";
const PLAIN_EXE_NAME = /^[A-Za-z0-9][A-Za-z0-9._-]{0,63}\.exe$/;
// A deploy is one release, so a tagged URL's bytes never change while it is deployed.
const CACHE_FOR_THE_RELEASE = "public, max-age=3600, s-maxage=31536000";

// Made once per isolate and checked as it is made; a trap throws it away.
let edge = null;

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
// writing and the headers.)
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
  if (loaded.refusal) return loaded;
  return { ...loaded, fileName, digest: readText(loaded.exports, loaded.exports.release_digest()) };
}

export function downloadHeaders(fileName, size, etag) {
  return {
    "Content-Type": "application/vnd.microsoft.portable-executable",
    "Content-Disposition": `attachment; filename="${fileName}"`,
    "Content-Length": String(size),
    "X-Content-Type-Options": "nosniff",
    "Cache-Control": CACHE_FOR_THE_RELEASE,
    ETag: etag,
  };
}

// The tag's bytes in the module's tag buffer; their length, or more than it holds if they do not fit.
export function copyTagIn(exports, tag) {
  const buffer = new Uint8Array(exports.memory.buffer, exports.tag_buffer(), exports.tag_capacity());
  const { read, written } = new TextEncoder().encodeInto(tag, buffer);
  return read < tag.length ? exports.tag_capacity() + 1 : written;
}

function matches(request, etag) {
  const match = request.headers.get("If-None-Match");
  return match !== null && (match.trim() === "*" || match.split(",").some((candidate) => candidate.trim() === etag));
}

function download(request, tag) {
  const { exports, fileName, digest, releaseAt, size } = edge;
  const length = copyTagIn(exports, tag);
  const etag = `"${digest}-${tag}"`;
  const headers = downloadHeaders(fileName, size, etag);
  // A GET writes the tag, which checks it on the way; HEAD and a revalidation only check it.
  const revalidated = matches(request, etag), writes = request.method === "GET" && !revalidated;
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

export default {
  fetch(request, env) {
    const url = new URL(request.url);
    if (!url.pathname.startsWith(DOWNLOAD) || url.pathname.indexOf("/", DOWNLOAD.length) !== -1) return text(404, "not found");
    if (request.method !== "GET" && request.method !== "HEAD") return text(405, "only GET and HEAD", { Allow: "GET, HEAD" });
    try {
      edge ??= loadEdge(env);
      if (edge.refusal) return text(503, edge.refusal);
      return download(request, url.pathname.slice(DOWNLOAD.length));
    } catch (error) {
      if (!(error instanceof WebAssembly.RuntimeError)) throw error;
      edge = null;
      return text(500, "the tag module trapped; it starts afresh with the next request");
    }
  },
};
