// The edge benchmark's floor: a worker that answers every request with the release and the
// six headers of a download, made once, and does nothing else: what any worker serving these
// bytes must spend.
import { downloadHeaders } from "./worker.js";
import release from "./release.exe";

const INIT = { headers: downloadHeaders("Tarvo-floor.exe", release.byteLength, '"floor"') };

export default {
  fetch() {
    return new Response(release, INIT);
  },
};
