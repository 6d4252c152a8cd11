# workerd's configuration for serving tagged downloads on this machine: the worker, the tag
# module and the release, as edge/bundle.sh lays them out beside this file, listening on
# 127.0.0.1 only (override the address with --socket-addr http=ADDRESS:PORT). Downloads are
# named after Tarvo.exe (Tarvo-TAG.exe); another name is a text binding, as in
# bindings = [(name = "FILE_NAME", text = "Desk.exe")]. bundle.sh writes in the compatibility
# date that wrangler.toml names.
using Workerd = import "/workerd/workerd.capnp";

const config :Workerd.Config = (
  services = [(name = "tarvo", worker = .tarvo)],
  sockets = [(name = "http", address = "127.0.0.1:8787", http = (), service = "tarvo")],
);

const tarvo :Workerd.Worker = (
  modules = [
    (name = "worker.js", esModule = embed "worker.js"),
    (name = "tarvo_tag.wasm", wasm = embed "tarvo_tag.wasm"),
    (name = "release.exe", data = embed "release.exe"),
  ],
  compatibilityDate = "@COMPATIBILITY_DATE@",
);
