# Sourced by the edge scripts, the edge benchmark and the address rule's test: the Node.js, workerd and
# wrangler that package-lock.json pins, installed by npm ci whenever the lock is newer than
# what npm installed, with that Node.js first on PATH, so that wrangler runs on it whatever
# Node.js the machine has; $workerd names the workerd binary itself, and $compatibility_date
# the date that wrangler.toml names, for workerd's configurations. Only npm comes from the
# machine, and Debian's will do.
edge_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if ! [ "$edge_dir/node_modules/.package-lock.json" -nt "$edge_dir/package-lock.json" ]; then
  command -v npm >/dev/null || "$edge_dir/../scripts/ensure-packages.sh" nodejs npm
  echo "Installing the pinned Node.js, workerd and wrangler into $edge_dir/node_modules (npm ci, once)" >&2
  # No install script runs, whichever npm this is: workerd's and esbuild's only check or
  # link the binaries npm placed. npm's notices about the machine's own Node.js and those
  # scripts concern the install, not what runs afterwards, so they show only if it fails.
  if ! npm_log=$(cd "$edge_dir" && npm ci --ignore-scripts --no-audit --no-fund 2>&1); then
    echo "$npm_log" >&2
    echo "npm ci in $edge_dir failed" >&2
    exit 1
  fi
fi
PATH=$edge_dir/node_modules/.bin:$PATH
workerd=$(cd "$edge_dir" && node -p 'require("workerd").default')
compatibility_date=$(sed -n 's/^compatibility_date = "\([0-9-]*\)"$/\1/p' "$edge_dir/wrangler.toml")
