// The edge benchmark's companion worker, bundled with the same module and release:
// GET /untagged/<anything> answers with the untagged release and the headers of a download
// (the floor the tagged route is measured against); GET /tag-loop/<n> runs the tag step n
// times with n tags, so that the step's own time shows as the difference to n = 0.
import tagModule from "./tarvo_tag.wasm";
import release from "./release.exe";

const headers = {
  "Content-Type": "application/vnd.microsoft.portable-executable",
  "Content-Disposition": 'attachment; filename="Tarvo.exe"',
  "X-Content-Type-Options": "nosniff",
  "Cache-Control": "public, max-age=3600, s-maxage=31536000",
};
let exports = null;

function tagLoop(count) {
  if (!exports) {
    exports = new WebAssembly.Instance(tagModule, {}).exports;
    exports._initialize();
    const bytes = new Uint8Array(release);
    new Uint8Array(exports.memory.buffer, exports.release_buffer(bytes.length), bytes.length).set(bytes);
  }
  const encoder = new TextEncoder();
  for (let i = 0; i < count; i++) {
    const { written } = encoder.encodeInto("user-" + i, new Uint8Array(exports.memory.buffer, exports.tag_buffer(), 64));
    if (exports.tag_release(written)) return new Response("refused\n", { status: 500 });
  }
  return new Response(`tagged ${count}\n`);
}

export default {
  fetch(request) {
    const [, route, argument] = new URL(request.url).pathname.split("/");
    if (route === "untagged") return new Response(release, { headers: { ...headers, ETag: `"untagged-${argument}"` } });
    if (route === "tag-loop") return tagLoop(Number(argument));
    return new Response("not found\n", { status: 404 });
  },
};
