// The edge benchmark's companion worker, bundled with the worker, its module and release:
// GET /untagged/<anything> answers with the release and the six headers of a download, made
// afresh per request; GET /tag-loop/<n> runs the tag step n times with n tags, so that the
// step's own time shows as the difference to n = 0, and says how many it wrote, or which one
// was refused and why.
import { copyTagIn, downloadHeaders, instantiate, readText } from "./worker.js";
import release from "./release.exe";

let loaded = null;

function tagLoop(count) {
  loaded ??= instantiate();
  if (loaded.refusal) return new Response(loaded.refusal + "\n", { status: 500 });
  for (let i = 0; i < count; i++) {
    const refused = loaded.exports.tag_release(copyTagIn(loaded.exports, "user-" + i));
    if (refused) return new Response(`refused the tag user-${i}: ${readText(loaded.exports, refused)}\n`, { status: 500 });
  }
  return new Response(`tagged ${count}\n`);
}

export default {
  fetch(request) {
    const [, route, argument] = new URL(request.url).pathname.split("/");
    if (route === "untagged") return new Response(release, { headers: downloadHeaders("Tarvo.exe", release.byteLength, `"untagged-${argument}"`) });
    if (route === "tag-loop") return tagLoop(Number(argument));
    return new Response("not found\n", { status: 404 });
  },
};
