// The edge benchmark's companion worker, bundled with the worker, its module and release.
// Its entrypoint floor answers every request with the release and the six headers of a
// download, made once: what any worker serving these bytes must spend. The default one
// answers GET /untagged/<anything> with the release and those headers made afresh, and
// GET /tag-loop/<n> by running the tag step n times with n tags, so that the step's own time
// shows as the difference to n = 0, saying how many it wrote, or which one was refused and why.
import { copyTagIn, downloadHeaders, instantiate, readText } from "./worker.js";
import release from "./release.exe";

const STATIC = { headers: downloadHeaders("Tarvo-static.exe", release.byteLength, '"static"') };
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

export const floor = {
  fetch() {
    return new Response(release, STATIC);
  },
};

export default {
  fetch(request) {
    const [, route, argument] = new URL(request.url).pathname.split("/");
    if (route === "untagged") return new Response(release, { headers: downloadHeaders("Tarvo.exe", release.byteLength, `"untagged-${argument}"`) });
    if (route === "tag-loop") return tagLoop(Number(argument));
    return new Response("not found\n", { status: 404 });
  },
};
